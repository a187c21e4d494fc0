#!/usr/bin/env bash
# Builds the fuzz target with clang in build-fuzz and runs it for a minute on
# a copy of the seed corpus. A crash, a sanitizer report or a difference from
# the model ends the fuzzer with a non-zero status, and so this script.
#   FUZZ_SECONDS  how long to fuzz (default 60)
#   FUZZ_JOBS     fuzzer processes side by side (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
jobs="${FUZZ_JOBS:-1}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDEDUPE_FUZZER=ON
cmake --build build-fuzz --target fuzz_dedupe --parallel "${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# The fuzzer adds what it finds to its corpus: work on a copy, so that the
# seeds in the repository change only by hand.
work=build-fuzz/run
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp fuzz/corpus/* "$work/corpus/"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
# Inputs up to 4096 bytes, so that lines over 1023 bytes are common.
options=(-max_total_time="$seconds" -max_len=4096 -timeout=10
         -artifact_prefix="$work/artifacts/" -print_final_stats=1)
if [ "$jobs" -gt 1 ]; then
  options+=(-fork="$jobs")
fi
if ! build-fuzz/fuzz/fuzz_dedupe "${options[@]}" "$work/corpus"; then
  echo "fuzz_dedupe failed; the input is in $work/artifacts:" >&2
  ls -l "$work/artifacts" >&2
  exit 1
fi
