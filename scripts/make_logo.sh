#!/bin/sh
# Regenerates the closing logo (src/logo/logo_movie.cc) with the project's
# encoder. With --check, only reports (exit status 1) when the committed
# logo differs from what the encoder makes now.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
# Any native build directory will do (VORN_LOGO_BUILD); a fresh one is
# configured for just the generator.
build=${VORN_LOGO_BUILD:-$root/build/logo}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORN_TESTS=OFF \
    -DVORN_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target vorn_make_logo -- -j2 >/dev/null
fresh="$build/logo_movie.cc"
"$build/vorn_make_logo" "$fresh"
if [ "$1" = "--check" ]; then
  if cmp -s "$fresh" "$root/src/logo/logo_movie.cc"; then
    echo "logo is current"
  else
    echo "src/logo/logo_movie.cc is stale: run scripts/make_logo.sh" >&2
    exit 1
  fi
else
  cp "$fresh" "$root/src/logo/logo_movie.cc"
  echo "wrote src/logo/logo_movie.cc"
fi
