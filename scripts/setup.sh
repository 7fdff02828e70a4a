#!/bin/sh
# Installs everything Vorn needs on a Debian 12 machine: the native and the
# 32-bit Windows toolchains, Wine (i386 multiarch), Xvfb for Wine's windows,
# clang's sanitizer and fuzzer runtimes, test and bench libraries.
# Idempotent: when every package is already there it only checks and returns
# (well under a second); otherwise one apt-get update and one install.
set -eu

PACKAGES_NATIVE="cmake ninja-build g++ clang libclang-rt-14-dev llvm libgtest-dev libgmock-dev \
libbenchmark-dev libfftw3-dev libturbojpeg0-dev libyuv-dev libpng-dev libsdl2-dev pkg-config"
PACKAGES_WINDOWS="g++-mingw-w64-i686 wine wine32:i386 xvfb xauth"

missing=""
for p in $PACKAGES_NATIVE $PACKAGES_WINDOWS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && { echo "setup: all packages present"; exit 0; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package: the architecture must be known before the update.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q -o Acquire::Retries=3
# Recommends stay on: they pull the i386 GL and X libraries Wine loads.
$SUDO apt-get install -y -q -o Acquire::Retries=3 $missing
echo "setup: installed$missing"
