#!/usr/bin/env bash
# The whole test suite: Windows build under Wine, the release script with the test keys and a
# byte-for-byte rebuild of the launcher from a copy of the source, native pure modules under
# ASan/UBSan, and a bounded libFuzzer run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

# The ECDSA signature cases (ctest label wine10) run under Debian 13's Wine 10, in a root kept
# outside the clone ($QUARLO_WINE10_ROOT, default /var/cache/quarlo/wine10). The first run makes
# it while the Windows build runs; when it cannot be made, the reason is printed and only those
# entries are skipped. It runs in a process group of its own: when this script ends before
# waiting for it (a failed build), the whole group is ended, since it holds the root's lock.
wine10_log=$(mktemp)
setsid cmake/wine10-run.sh --make >"$wine10_log" 2>&1 &
wine10_make=$!
stop_wine10_make() {
  if kill -0 "$wine10_make" 2>/dev/null; then
    echo "Stopping the Wine 10 root build (process group $wine10_make)"
    kill -TERM -- "-$wine10_make" 2>/dev/null || true
    wait "$wine10_make" 2>/dev/null || true
    # debootstrap and its downloads may outlive the script that started them by a moment.
    for _ in {1..50}; do
      kill -0 -- "-$wine10_make" 2>/dev/null || return 0
      sleep 0.1
    done
    kill -KILL -- "-$wine10_make" 2>/dev/null || true
  fi
}
trap 'stop_wine10_make; rm -f "$wine10_log"' EXIT

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

# The publisher's command with the test keys; its build, rebuilt from a copy of the source at
# another path, must come out byte for byte the same.
echo "== release =="
# Refused before anything is built: an output directory other accounts can write, a PIN on the
# command line. By default only the signed launcher and its checksums are written.
scratch=$(mktemp -d)
chmod 0777 "$scratch"
for refusal in "other accounts|--test-keys" \
  "pin-value=|--pkcs11-module m --key pkcs11:pin-value=1 --cert c"; do
  # shellcheck disable=SC2086  # the options, split at spaces
  if message=$(tools/release.sh ${refusal#*|} --out "$scratch" 2>&1) ||
    [[ $message != *"${refusal%%|*}"* ]]; then
    echo "FAILED: the release command did not refuse ${refusal#*|}: $message" >&2
    status=1
  fi
done
rm -rf "$scratch" build/release-testkeys/out
tools/release.sh --test-keys --out build/release-testkeys/out || status=1
if [[ $(LC_ALL=C ls -A build/release-testkeys/out) != $'SHA256SUMS\nquarlo.exe' ]]; then
  echo "FAILED: the release files are not only quarlo.exe and SHA256SUMS" >&2
  status=1
fi
tools/check-reproducible.sh build/release-testkeys quarlo quarlo_testkeys quarlo_doctor || status=1

run_preset host
run_preset fuzz
exit $status
