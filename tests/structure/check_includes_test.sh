#!/bin/sh
# scripts/check-includes.sh against a copy of the tree with faults put in:
# each must fail the check and be named by file and line; the copy as it is
# must pass. usage: check_includes_test.sh SOURCE_DIR WORK_DIR
set -eu
source=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cp -R "$source/src" "$source/tools" "$source/include" "$work/"
check() { sh "$source/scripts/check-includes.sh" "$work" >"$work/out.txt" 2>&1; }

check || { cat "$work/out.txt"; echo "the untouched copy fails"; exit 1; }

expect_fault() {  # file, line to add, text the report must hold
  cp "$work/$1" "$work/saved"
  printf '%s\n' "$2" >>"$work/$1"
  if check; then echo "not caught: $2 in $1"; exit 1; fi
  grep -q "^$1:[0-9]*: .*$3" "$work/out.txt" || { cat "$work/out.txt"; echo "not named: $1 ($3)"; exit 1; }
  mv "$work/saved" "$work/$1"
}
expect_fault src/video/idct.cc '#include "engine/movie.h"' 'engine is a layer above video'
expect_fault src/engine/movie_step.cc '#include "display/display_buffer.h"' 'display is a layer above engine'
expect_fault src/audio/audio_packet.cc '#include "input/io_reader.h"' 'input is beside audio'
expect_fault src/player/names.cc '#include "writer/movie_writer.h"' 'the writer is used only by the tools'
expect_fault src/writer/bit_writer.cc '#include "convert/copy_to_buffer.h"' 'convert is not below the writer'
expect_fault src/engine/movie_step.cc '#include <unistd.h>' 'operating-system header <unistd.h>'
expect_fault src/engine/movie_step.cc '#include "newfolder/thing.h"' 'folder newfolder has no place'

# A loop: the public headers (rank 0) reaching back into the engine.
printf '#include "engine/movie.h"\n' >>"$work/include/vorn/movie_flags.h"
if check; then echo "loop not caught"; exit 1; fi
grep -q 'include loop between folders' "$work/out.txt" || { cat "$work/out.txt"; echo "loop not named"; exit 1; }
echo "check-includes catches every planted fault"
