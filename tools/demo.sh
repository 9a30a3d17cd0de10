#!/usr/bin/env bash
# The launcher end to end under Wine: builds quarlo.exe and a demo application, installs them in
# a Wine prefix of their own as an installer would, and narrates a normal launch, a relaunch on
# request, a crash loop and the automatic recovery.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
echo "Building (the first build takes a few minutes)..."
cmake --preset windows >/dev/null
cmake --build --preset windows --target quarlo quarlo_demo >/dev/null
cmake/wine-run.sh "$PWD/build/windows/demo-prefix" build/windows/tools/demo/quarlo_demo.exe
