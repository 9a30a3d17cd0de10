#!/usr/bin/env bash
# The publisher's command: builds quarlo.exe reproducibly, signs it, verifies the signature,
# runs the signed launcher once under Wine, and writes the release files.
#
#   tools/release.sh --cert CERT --key KEY --out DIR [--timestamp URL]
#   tools/release.sh --pkcs11-module MODULE --key KEY_URI --cert CERT --out DIR [--timestamp URL]
#   tools/release.sh --test-keys [--cert CERT --key KEY] --out DIR
#
# CERT is the signer's certificate in PEM (with its chain, if any). KEY is its private key in
# PEM, or with --pkcs11-module the PKCS#11 URI of a key held in a token. --timestamp adds an
# RFC 3161 time stamp from URL. --test-keys builds the launcher with the build's generated test
# keys instead of the production ones, signed by default with the generated rsa4096 test key.
# With SOURCE_DATE_EPOCH set, it is the signing time, so that a signature by an RSA key (and no
# time stamp) is reproducible too.
#
# DIR gets quarlo.exe (signed), quarlo-unsigned.exe and SHA256SUMS. The build tree is
# build/release (build/release-testkeys with --test-keys); it keeps the link map.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

usage() {
  sed -n '5,7p' "$0" | sed 's/^#  */usage: /' >&2
  exit 2
}

cert="" key="" module="" out="" timestamp="" test_keys=0
while [[ $# -gt 0 ]]; do
  if [[ $1 == --test-keys ]]; then
    test_keys=1
    shift
    continue
  fi
  [[ $# -ge 2 ]] || usage
  case $1 in
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --pkcs11-module) module=$2 ;;
    --out) out=$2 ;;
    --timestamp) timestamp=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ -n $out ]] || usage
if [[ -z $cert && -z $key && $test_keys -eq 1 && -z $module ]]; then
  :  # the build's own test key, known once the build is configured
elif [[ -z $cert || -z $key ]]; then
  usage
fi
[[ -z $cert ]] || cert=$(realpath "$cert")
[[ -z $key || -n $module ]] || key=$(realpath "$key")
mkdir -p "$out"
out=$(realpath "$out")

tools/install-deps.sh ${module:+--pkcs11}

if [[ $test_keys -eq 1 ]]; then
  build=$source/build/release-testkeys launcher=quarlo_testkeys
else
  build=$source/build/release launcher=quarlo
fi
echo "== building $launcher in $build =="
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUARLO_TESTS=OFF -DQUARLO_TEST_KEYS=$((test_keys ? 1 : 0)) \
  >/dev/null
cmake --build "$build" --target "$launcher" test_app
unsigned=$build/$launcher.exe
test_keys_dir=$build/publisher-test-keys
if [[ -z $cert ]]; then
  cert=$test_keys_dir/rsa4096/cert.pem key=$test_keys_dir/rsa4096/key.pem
fi

# sign IN OUT: IN signed with the publisher's key (SHA-256) into OUT.
sign() {
  local args=(sign -h sha256 -certs "$cert" -key "$key" -in "$1" -out "$2")
  # OpenSSL reaches the token through its "pkcs11" engine (libengine-pkcs11-openssl).
  [[ -z $module ]] || args+=(-pkcs11module "$module")
  [[ -z ${SOURCE_DATE_EPOCH:-} ]] || args+=(-time "$SOURCE_DATE_EPOCH")
  [[ -z $timestamp ]] || args+=(-ts "$timestamp")
  rm -f "$2"
  osslsigncode "${args[@]}" >/dev/null
}

echo "== signing =="
cp "$unsigned" "$out/quarlo-unsigned.exe"
sign "$out/quarlo-unsigned.exe" "$out/quarlo.exe"

echo "== verifying the signature =="
# The certificate file serves as its own trust anchor: a self-signed publisher certificate, or
# a chain that ends in its root.
verify=(verify -in "$out/quarlo.exe" -CAfile "$cert")
[[ -z $timestamp ]] || verify+=(-TSA-CAfile /etc/ssl/certs/ca-certificates.crt)
if ! osslsigncode "${verify[@]}" >"$build/verify.log" 2>&1; then
  cat "$build/verify.log" >&2
  echo "release: the signature of $out/quarlo.exe does not verify" >&2
  exit 1
fi
grep -m1 "Signature verification" "$build/verify.log"

echo "== smoke test under Wine =="
# The launcher verifies a library only against the keys compiled into it: the text of the
# certificate's public key in the key table it was built with.
if [[ $test_keys -eq 1 ]]; then
  table=$test_keys_dir/test_keys.cpp
else
  table=$source/src/trust/keys/production_keys.cpp
fi
# The base64 of the certificate's public-key bit string, as the table holds it: the DER
# RSAPublicKey for RSA, the uncompressed point (the last 97 bytes of the SPKI) for P-384.
key_text() {
  local spki
  spki=$(mktemp)
  openssl x509 -in "$1" -noout -pubkey | openssl pkey -pubin -outform DER -out "$spki"
  if openssl x509 -in "$1" -noout -text | grep -q id-ecPublicKey; then
    tail -c 97 "$spki" | openssl base64 -A
  else
    openssl rsa -pubin -inform DER -in "$spki" -RSAPublicKey_out -outform DER 2>/dev/null |
      openssl base64 -A
  fi
  rm -f "$spki"
}
pinned() {
  local text
  text=$(key_text "$1")
  [[ -n $text ]] && tr -d '\n' <"$table" | sed 's/"[[:space:]]*u"//g' | grep -qF "u\"$text\""
}

prefix=$build/smoke-prefix
# smoke_run LIBRARY: lays out LIBRARY as the application beside its appdata.json, runs the signed
# launcher there, and prints how many times wx_main was called. No display: a message box
# returns at once.
smoke_run() {
  local dir=$build/smoke-layout
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$1" "$dir/app.dll"
  printf '{"so_name": "app.dll", "hash": "%s"}\n' "$(sha256sum "$dir/app.dll" | cut -d' ' -f1)" \
    >"$dir/appdata.json"
  if [[ ! -f $prefix/.quarlo-ready ]]; then
    env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
      WINEDLLOVERRIDES=mscoree,mshtml= wineboot -i >/dev/null 2>&1 || true
    touch "$prefix/.quarlo-ready"
  fi
  (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= timeout 120 wine "$out/quarlo.exe" >/dev/null 2>&1) || true
  if [[ -f $dir/test_app_log.txt ]]; then wc -l <"$dir/test_app_log.txt"; else echo 0; fi
}

if pinned "$cert"; then
  sign "$build/tests/e2e/app/test_app.dll" "$build/smoke-signed.dll"
  calls=$(smoke_run "$build/smoke-signed.dll")
  if [[ $calls -ne 1 ]]; then
    echo "release: the signed launcher called wx_main $calls times in a library signed with the same key, not once" >&2
    exit 1
  fi
  echo "a library signed with the same key: loaded, wx_main called once"
  if [[ $test_keys -eq 1 ]]; then
    unpinned=$test_keys_dir/rsa2048-unpinned
    rm -f "$build/smoke-unpinned.dll"
    osslsigncode sign -h sha256 -certs "$unpinned/cert.pem" -key "$unpinned/key.pem" \
      -in "$build/tests/e2e/app/test_app.dll" -out "$build/smoke-unpinned.dll" >/dev/null
    calls=$(smoke_run "$build/smoke-unpinned.dll")
    if [[ $calls -ne 0 ]]; then
      echo "release: the signed launcher called wx_main in a library signed with an unpinned key" >&2
      exit 1
    fi
    echo "a library signed with an unpinned key: refused, wx_main not called"
  fi
else
  echo "SKIPPED: the signing certificate's key is not pinned in $(basename "$table"), so this" \
    "launcher would refuse every library signed with it"
fi

(cd "$out" && sha256sum quarlo.exe quarlo-unsigned.exe >SHA256SUMS && sha256sum -c SHA256SUMS)
echo "release files in $out"
