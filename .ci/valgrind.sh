#!/usr/bin/env bash
# Runs the end-to-end tests with every dedupe process under valgrind's
# memcheck. Any memory error or definitely lost block in any run fails.
# Uses the tests built in build/ (DEDUPE_BUILD_DIR overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${DEDUPE_BUILD_DIR:-build}"
tests="$build_dir/end_to_end_tests"

if ! command -v valgrind >/dev/null; then
  apt-get update -qq && apt-get install -y -qq valgrind >/dev/null
fi
[[ -x "$tests" ]] || { echo "valgrind.sh: $tests is missing: build first" >&2; exit 1; }

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# dedupe exits with 0 or 1 by itself; 99 is valgrind's alone, and every test
# checks the exit status, so an error in a child fails its test.
export DEDUPE_TEST_WRAPPER="valgrind --error-exitcode=99 --leak-check=full
  --errors-for-leak-kinds=definite --show-leak-kinds=definite
  --log-file=$logs/%p.log"

status=0
"$tests" || status=$?

count=$(find "$logs" -name '*.log' | wc -l)
echo "valgrind: $count dedupe runs checked"
if ((count < 20)); then
  echo "valgrind.sh: too few valgrind logs: the wrapper was not honoured" >&2
  status=1
fi
# Belt and braces beside the exit status: every run ends with a clean summary.
for log in "$logs"/*.log; do
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$log" ||
     grep -q 'definitely lost: [1-9]' "$log"; then
    echo "== $log" >&2
    cat "$log" >&2
    status=1
  fi
done
exit "$status"
