#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs the whole test suite there. A sanitizer report aborts
# the process that made it; in the end-to-end tests that process is the
# dedupe binary, so the report shows up as a wrong exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

# -O1 keeps the reports readable without making the long tests crawl.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags -O1" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$flags"
cmake --build build-asan --parallel "${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# LeakSanitizer cannot work in a process that is being traced, and one test
# runs dedupe under strace to see its write calls: that test runs on its own
# with every check but the leak check.
traced='DedupeTest\.EachLineIsOneWriteCall'
ctest --test-dir build-asan --output-on-failure --parallel 2 -E "$traced"
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" \
  ctest --test-dir build-asan --output-on-failure -R "$traced" --no-tests=error
