#!/usr/bin/env bash
# Runs the SmallVolume scenarios with C:\ProgramData\Quarlo of the test prefix on a small tmpfs,
# mounted from the Linux side so that the wineserver writes to it and reports a full disk.
# Usage: small_volume.sh PREFIX WINE_RUN TEST_PROGRAM
set -uo pipefail
prefix=$1 wine_run=$2 program=$3
dir="$prefix/drive_c/ProgramData/Quarlo"
if [[ ! -d "$prefix/drive_c/ProgramData" ]]; then
  echo "the Wine prefix $prefix is not made yet; skipped"
  exit 77
fi
mkdir -p "$dir"
if ! error=$(mount -t tmpfs -o size=4m,mode=0777 quarlo-small-volume "$dir" 2>&1); then
  echo "cannot mount a small volume at $dir (${error:-not permitted}); skipped"
  exit 77
fi
trap 'umount "$dir" 2>/dev/null || umount -l "$dir"' EXIT
QUARLO_SMALL_VOLUME=1 "$wine_run" "$prefix" "$program" --gtest_brief=1 \
  --gtest_also_run_disabled_tests --gtest_filter='SmallVolume.DISABLED_*'
