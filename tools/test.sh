#!/usr/bin/env bash
# The whole test suite: Windows build under Wine, native pure modules under
# ASan/UBSan, and a bounded libFuzzer run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

# The ECDSA signature cases (ctest label wine10) run under Debian 13's Wine 10, in a root kept
# outside the clone ($QUARLO_WINE10_ROOT, default /var/cache/quarlo/wine10). The first run makes
# it while the Windows build runs; when it cannot be made, the reason is printed and only those
# entries are skipped.
wine10_log=$(mktemp)
cmake/wine10-run.sh --make >"$wine10_log" 2>&1 &
wine10_make=$!
trap 'wait "$wine10_make" 2>/dev/null || true; rm -f "$wine10_log"' EXIT

status=0
run_preset() {
  local preset=$1
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [[ $preset == windows ]]; then
    wait "$wine10_make" || true
    cat "$wine10_log"
  fi
  ctest --preset "$preset" || status=1
}

run_preset windows
run_preset host
run_preset fuzz
exit $status
