#!/usr/bin/env bash
# ./run's command handling, called from another folder as a user may: help text, unknown commands and build
# types refused with exit code 2 before anything is installed or built.
set -uo pipefail
run=$1
failures=0
check() { # description, expected exit code, actual exit code, output, text the output must (not) hold
  local what=$1 expected=$2 actual=$3 output=$4 must=${5:-} mustNot=${6:-}
  if [ "$actual" -ne "$expected" ]; then
    echo "FAIL: $what: exit code $actual, expected $expected"; failures=$((failures + 1))
  fi
  if [ -n "$must" ] && ! grep -qF -- "$must" <<<"$output"; then
    echo "FAIL: $what: output lacks '$must':"; echo "$output"; failures=$((failures + 1))
  fi
  if [ -n "$mustNot" ] && grep -qF -- "$mustNot" <<<"$output"; then
    echo "FAIL: $what: output holds '$mustNot':"; echo "$output"; failures=$((failures + 1))
  fi
}
elsewhere=$(mktemp -d)
trap 'rm -rf "$elsewhere"' EXIT
cd "$elsewhere"

output=$("$run" help 2>&1); check "help" 0 $? "$output" "Usage: ./run COMMAND" "set -euo"
output=$("$run" 2>&1); check "no command" 0 $? "$output" "Usage: ./run COMMAND"
output=$("$run" frobnicate 2>&1); check "unknown command" 2 $? "$output" "unknown command 'frobnicate'"
output=$("$run" build Fastest 2>&1); check "unknown build type" 2 $? "$output" "unknown build type 'Fastest'"
[ -z "$(ls -A "$elsewhere")" ] || { echo "FAIL: ./run left files in the calling folder"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all ./run checks passed"
exit $((failures > 0))
