#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Quiet when everything is present; runs apt-get update only when something is missing.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64
  cmake ninja-build g++ googletest
  clang-14 libclang-rt-14-dev
  osslsigncode openssl
  debootstrap
  rapidjson-dev nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
