#!/bin/sh
# Rewrites tests/data/decoded_hashes.txt, the decoded output of the stored
# movies (fuzz/corpus/fuzz_movie and tests/data) that the test_tools suite
# checks at every vector level, then checks every level against it.
# Run it after adding a stored movie. A change to an existing line means
# decoded output changed: explain why in the commit that carries it.
# Usage: scripts/update-decoded-hashes.sh [preset]   (default native)
set -eu
cd "$(dirname "$0")/.."
preset=${1:-native}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target test_tools
VORN_DECODED_HASHES_WRITE="$PWD/tests/data/decoded_hashes.txt" \
  "build/$preset/tests/test_tools" --gtest_filter='DecodedHashTable.WriteWhenAsked'
"build/$preset/tests/test_tools" --gtest_filter='*DecodedHash*'
git diff --stat -- tests/data/decoded_hashes.txt
