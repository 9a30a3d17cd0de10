#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the release script and the demo need;
# with --bench, also the JSON libraries that the native benchmarks compare against; with
# --pkcs11, the OpenSSL engine through which osslsigncode reaches a key held in a token.
# Quiet when everything is present; runs apt-get update only when something is missing.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64
  cmake ninja-build g++ googletest
  clang-14 libclang-rt-14-dev
  osslsigncode openssl git
  debootstrap
)
for option in "$@"; do
  case $option in
    --bench) packages+=(rapidjson-dev nlohmann-json3-dev) ;;
    --pkcs11) packages+=(libengine-pkcs11-openssl) ;;
    *) echo "usage: $0 [--bench] [--pkcs11]" >&2; exit 2 ;;
  esac
done

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
