#!/usr/bin/env bash
# Builds quarlo.exe and runs it under Wine in a prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target quarlo
prefix="$PWD/build/windows/demo-prefix"
echo "== Running quarlo.exe under Wine =="
set +e
cmake/wine-run.sh "$prefix" build/windows/quarlo.exe
code=$?
set -e
echo "quarlo.exe exited with code $code"
