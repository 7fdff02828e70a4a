#!/bin/sh
# Installs everything Vorn needs on a Debian 12 machine: the native and the
# 32-bit Windows toolchains, Wine (i386 multiarch), Xvfb for Wine's windows,
# clang's sanitizer and fuzzer runtimes, test and bench libraries, GStreamer's
# core and base development files, a PipeWire null sink for sound tests, and
# the media tools the pipes and the encoder are measured against.
#
# General-purpose decoding libraries never go on our machines: they are pinned
# away (Pin-Priority -1, for both architectures: a pattern without ":i386"
# pins only the native packages, and Wine's recommends pull the i386 ones)
# before anything is installed, purged if present, and checked for at the end.
# Idempotent: when every package is there and nothing forbidden is installed it
# only checks and returns (well under a second).
set -eu

PACKAGES_NATIVE="cmake ninja-build g++ clang libclang-rt-14-dev llvm libgtest-dev libgmock-dev \
libbenchmark-dev libfftw3-dev libturbojpeg0-dev libyuv-dev libpng-dev libsdl2-dev pkg-config ccache \
libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base \
gstreamer1.0-plugins-good gstreamer1.0-plugins-base-apps"
PACKAGES_WINDOWS="g++-mingw-w64-i686 wine wine32:i386 xvfb xauth"
# Installed without recommends: screenshots and key presses, the null sink,
# media peers.
PACKAGES_PLAIN="imagemagick x11-apps pipewire pipewire-pulse wireplumber pulseaudio-utils \
mjpegtools mpeg2dec vpx-tools libtheora-bin sox python3-numpy python3-pil xdotool mate-backgrounds"

FORBIDDEN="ffmpeg libavcodec* libavformat* libavfilter* libavdevice* libavutil* libswscale* \
libswresample* libpostproc* libasound2-plugins gstreamer1.0-libav mplayer mencoder"
PIN_FILE=/etc/apt/preferences.d/vorn-no-general-decoders

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

pin_lines() {
    names=""
    for p in $FORBIDDEN; do names="$names $p $p:i386"; done
    printf 'Package:%s\nPin: release *\nPin-Priority: -1\n' "$names"
}

# Installed packages matching a forbidden pattern (either architecture), plus
# the PulseAudio daemon, which depends on them in Debian 12.
forbidden_installed() {
    # shellcheck disable=SC2086
    dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' $FORBIDDEN pulseaudio 2>/dev/null |
        grep ' install ok installed$' | cut -d' ' -f1 | tr '\n' ' ' || true
}

if [ "$(pin_lines)" != "$(cat "$PIN_FILE" 2>/dev/null)" ]; then
    pin_lines | $SUDO tee "$PIN_FILE" >/dev/null
    echo "setup: pinned general decoding libraries away ($PIN_FILE)"
fi

present=$(forbidden_installed)
if [ -n "$present" ]; then
    echo "setup: purging$present"
    # shellcheck disable=SC2086
    $SUDO apt-get purge -y -q $present
fi

missing=""
missing_plain=""
for p in $PACKAGES_NATIVE $PACKAGES_WINDOWS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
for p in $PACKAGES_PLAIN; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_plain="$missing_plain $p"
done

if [ -n "$missing$missing_plain" ]; then
    # wine32 is an i386 package: the architecture must be known before the update.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -q -o Acquire::Retries=3
    # Recommends stay on for Wine: they pull the i386 GL and X libraries it loads.
    # shellcheck disable=SC2086
    [ -z "$missing" ] || $SUDO apt-get install -y -q -o Acquire::Retries=3 $missing
    # shellcheck disable=SC2086
    [ -z "$missing_plain" ] || $SUDO apt-get install -y -q -o Acquire::Retries=3 --no-install-recommends $missing_plain
    echo "setup: installed$missing$missing_plain"
else
    echo "setup: all packages present"
fi

present=$(forbidden_installed)
if [ -n "$present" ]; then
    echo "setup: FAILED: general decoding libraries are installed:$present" >&2
    echo "setup: they must never be on this machine; purge them and check $PIN_FILE" >&2
    exit 1
fi
