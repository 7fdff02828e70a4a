#!/bin/sh
# Installs the build into a scratch prefix and uses it as an outside program
# would: the example built with pkg-config (shared and static), the same
# example through the CMake package, and the installed GStreamer plugin.
# usage: check_install.sh BUILD_DIR SOURCE_DIR VORNTOOL
set -eu
build=$1
source=$2
vorntool=$3
work=$build/install-check
rm -rf "$work"
mkdir -p "$work/frames" "$work/frames-static"
cmake --install "$build" --prefix "$work/prefix" --component vorn >"$work/install.log"

pc=$(dirname "$(find "$work/prefix" -name vorn.pc | head -n 1)")
libdir=$(cd "$pc/.." && pwd)
export PKG_CONFIG_PATH="$pc"
test "$(pkg-config --modversion vorn)" = "$(grep -o '"[0-9.]*"' "$source/include/vorn/vorn.h" | head -n 1 | tr -d '"')"

"$vorntool" demo -o "$work/movie.vxn" --size 64x48 --seconds 1 >/dev/null
cc -std=c99 -Wall -Werror "$source/examples/vorn_png.c" -o "$work/vorn_png" $(pkg-config --cflags --libs vorn)
LD_LIBRARY_PATH="$libdir" "$work/vorn_png" "$work/movie.vxn" "$work/frames" 5
cc -std=c99 "$source/examples/vorn_png.c" -o "$work/vorn_png_static" $(pkg-config --cflags vorn) \
  "$libdir/libvorn.a" $(pkg-config --static --libs-only-l vorn | sed 's/-lvorn//')
"$work/vorn_png_static" "$work/movie.vxn" "$work/frames-static" 5

count=$(ls "$work/frames" | wc -l)
test "$count" -eq 5
for f in "$work"/frames/*.png; do
  # A PNG of the movie's size, the same from both builds.
  test "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a
  test "$(od -An -tu1 -j 16 -N 8 "$f" | tr -s ' ')" = " 0 0 0 64 0 0 0 48"
  cmp "$f" "$work/frames-static/$(basename "$f")"
done

cmake -S "$source/examples" -B "$work/cmake-example" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-example" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-example/vorn_png" "$work/movie.vxn" "$work/frames" 1 >/dev/null

if [ -d "$libdir/gstreamer-1.0" ]; then
  GST_PLUGIN_PATH="$libdir/gstreamer-1.0" GST_REGISTRY="$work/registry.bin" gst-inspect-1.0 vorndemux >/dev/null
fi
echo "install check passed"
