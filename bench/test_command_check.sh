#!/usr/bin/env bash
# The README's commands as a newcomer meets them: bench/test_command_check.sh [--test-only].
# Clones the committed HEAD of this work tree into a temporary folder, runs scripts/run.sh there
# (it builds build/ without the test packages' help, then, without a terminal, refuses to start
# the player), then scripts/test.sh, and passes when the test command passed with 0 skipped.
# --test-only leaves scripts/run.sh out: the test command from a fresh clone, as the README's
# time figure is taken. Prints the test command's lines, its time and the machine's load.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
with_run=1
if [ "${1:-}" = --test-only ]; then
  with_run=0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/brevalo-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "test_command_check: $*" >&2
  exit 1
}

head=$(git -C "$root" rev-parse HEAD)
git clone -q --no-checkout "$root" "$work/brevalo"
git -C "$work/brevalo" checkout -q "$head"
cd "$work/brevalo"

if [ "$with_run" -eq 1 ]; then
  status=0
  refusal=$(scripts/run.sh </dev/null 2>&1 >/dev/null | tail -n 1) || status=$?
  [ "$refusal" = "brevalo: a full-screen interface needs a terminal on standard input and output" ] ||
    fail "scripts/run.sh did not build and start the program: $refusal"
  echo "scripts/run.sh: built build/; without a terminal the program refused to start, as it should"
fi

echo "load before: $(uptime)"
started=$SECONDS
scripts/test.sh </dev/null | tee "$work/test.log"
took=$((SECONDS - started))
echo "load after: $(uptime)"
last=$(tail -n 1 "$work/test.log")
[[ $last =~ ^tests:\ [0-9]+\ passed,\ 0\ failed,\ 0\ skipped$ ]] ||
  fail "the test command's last line is not a pass with 0 skipped: $last"
echo "test command from a fresh clone$([ "$with_run" -eq 1 ] && echo " after scripts/run.sh"):" \
  "$took s; $last"
