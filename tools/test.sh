#!/usr/bin/env bash
# The whole test suite: Windows build under Wine, native pure modules under
# ASan/UBSan, and a bounded libFuzzer run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

status=0
run_preset() {
  local preset=$1
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || status=1
}

run_preset windows
run_preset host
run_preset fuzz
exit $status
