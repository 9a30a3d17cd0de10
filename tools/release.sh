#!/usr/bin/env bash
# The publisher's command: builds quarlo.exe reproducibly, signs it, verifies the signature,
# runs the signed launcher once under Wine, and writes the release files.
#
#   tools/release.sh --cert CERT --key KEY --out DIR [--timestamp URL] [--unsigned-copy]
#   tools/release.sh --pkcs11-module MODULE --key KEY_URI [--pin-file FILE] --cert CERT --out DIR [--timestamp URL] [--unsigned-copy]
#   tools/release.sh --test-keys [--cert CERT --key KEY] --out DIR [--unsigned-copy]
#
# CERT is the signer's certificate in PEM (with its chain, if any). KEY is its private key in
# PEM, or with --pkcs11-module the PKCS#11 URI of a key held in a token. The token's PIN never
# travels on a command line, where every account sees it: it is read from FILE, which only its
# owner may read, or from the environment variable QUARLO_PKCS11_PIN; a URI with pin-value= is
# refused. --timestamp adds an RFC 3161 time stamp from URL. --test-keys builds the launcher with
# the build's generated test keys instead of the production ones, signed by default with the
# generated rsa4096 test key. With SOURCE_DATE_EPOCH set, it is the signing time, so that a
# signature by an RSA key (and no time stamp) is reproducible too.
#
# The launcher is signed and verified inside the build tree, build/release
# (build/release-testkeys with --test-keys), which keeps the link map; only then is it copied
# into DIR, which must be a directory that no other account can write (it is created 0755 when
# missing). DIR gets quarlo.exe (signed) and SHA256SUMS; with --unsigned-copy also
# quarlo-unsigned-NOT-FOR-SHIPPING.exe, a launcher that checks no library's signature.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

usage() {
  sed -n '5,7p' "$0" | sed 's/^#  */usage: /' >&2
  exit 2
}

fail() {
  echo "release: $*" >&2
  exit 2
}

cert="" key="" module="" out="" timestamp="" test_keys=0 unsigned_copy=0 pin_file=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --test-keys | --unsigned-copy)
      if [[ $1 == --test-keys ]]; then test_keys=1; else unsigned_copy=1; fi
      shift
      continue
      ;;
  esac
  [[ $# -ge 2 ]] || usage
  case $1 in
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --pkcs11-module) module=$2 ;;
    --pin-file) pin_file=$2 ;;
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

# Everything that can refuse the command is checked before anything is built.
# owner_and_mode PATH: sets uid and mode (octal digits) to those of PATH.
owner_and_mode() {
  local text
  text=$(stat -c '%u %a' -- "$1") || fail "cannot read the owner and mode of $1"
  read -r uid mode <<<"$text"
}
if [[ ${key,,} == *pin-value=* ]]; then
  fail "the --key URI carries the PIN (pin-value=), which every account can read on the command" \
    "line; give it with --pin-file FILE or in QUARLO_PKCS11_PIN instead"
fi
if [[ -n $pin_file || -n ${QUARLO_PKCS11_PIN+set} ]]; then
  [[ -n $module ]] || fail "a PIN is for a key in a token: --pin-file and QUARLO_PKCS11_PIN need --pkcs11-module"
  [[ -z $pin_file || -z ${QUARLO_PKCS11_PIN+set} ]] || fail "give the PIN in --pin-file or in QUARLO_PKCS11_PIN, not both"
fi
if [[ -n $pin_file ]]; then
  [[ -f $pin_file && ! -L $pin_file ]] || fail "--pin-file $pin_file is not a regular file"
  owner_and_mode "$pin_file"
  [[ $uid -eq $(id -u) && $((8#$mode & 8#077)) -eq 0 ]] ||
    fail "--pin-file $pin_file must belong to you and be closed to group and others (mode 0600" \
      "or 0400); it is mode $mode, owned by uid $uid"
  pin_file=$(realpath "$pin_file")
fi
# The release files must not be replaceable between their signing and their shipping: DIR
# itself, not a link to elsewhere, owned by the running user, writable by no one else. Checked
# again before the files are written.
[[ $out == / ]] || out=${out%/}
check_out() {
  [[ ! -L $out ]] || fail "--out $out is a symbolic link; give the directory itself"
  [[ -d $out ]] || fail "--out $out is not a directory"
  owner_and_mode "$out"
  if [[ $uid -ne $(id -u) || $((8#$mode & 8#022)) -ne 0 ]]; then
    fail "--out $out can be written by other accounts (mode $mode, owned by uid $uid), which" \
      "could replace the release files; use a directory of your own that only you can write" \
      "(mode 0755 or 0700)"
  fi
}
[[ -L $out || -e $out ]] || (umask 022 && mkdir -p -- "$out")
check_out
[[ -z $cert ]] || cert=$(realpath "$cert")
[[ -z $key || -n $module ]] || key=$(realpath "$key")
out=$(realpath "$out")

# A PIN from the environment goes to osslsigncode through a file only this user can read,
# removed however the script ends; the variable is not passed on to the programs run below.
if [[ -n ${QUARLO_PKCS11_PIN+set} ]]; then
  pin_file=$(mktemp "${TMPDIR:-/tmp}/quarlo-pin.XXXXXX")
  trap 'rm -f "$pin_file"' EXIT
  trap 'exit 1' INT TERM HUP
  printf '%s' "$QUARLO_PKCS11_PIN" >"$pin_file"
  unset QUARLO_PKCS11_PIN
fi

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
  # For a key in a token, the password is the PIN.
  [[ -z $pin_file ]] || args+=(-readpass "$pin_file")
  [[ -z ${SOURCE_DATE_EPOCH:-} ]] || args+=(-time "$SOURCE_DATE_EPOCH")
  [[ -z $timestamp ]] || args+=(-ts "$timestamp")
  rm -f "$2"
  osslsigncode "${args[@]}" >/dev/null
}

echo "== signing =="
# Signed, verified and smoke-tested inside the build tree; only the result goes to DIR.
mkdir -p "$build/signed"
signed=$build/signed/quarlo.exe
sign "$unsigned" "$signed"

echo "== verifying the signature =="
# The certificate file serves as its own trust anchor: a self-signed publisher certificate, or
# a chain that ends in its root.
verify=(verify -in "$signed" -CAfile "$cert")
[[ -z $timestamp ]] || verify+=(-TSA-CAfile /etc/ssl/certs/ca-certificates.crt)
if ! osslsigncode "${verify[@]}" >"$build/verify.log" 2>&1; then
  cat "$build/verify.log" >&2
  echo "release: the signature of $signed does not verify" >&2
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
    WINEDLLOVERRIDES=mscoree,mshtml= timeout 120 wine "$signed" >/dev/null 2>&1) || true
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

# The checksums are of the files verified here, then checked on their copies in DIR.
sum_line() { printf '%s  %s\n' "$(sha256sum <"$1" | cut -d' ' -f1)" "$2"; }
unsigned_name=quarlo-unsigned-NOT-FOR-SHIPPING.exe
check_out
# An unsigned launcher from an earlier run must not linger beside the signed one.
rm -f "$out/quarlo-unsigned.exe" "$out/$unsigned_name"
cp "$signed" "$out/quarlo.exe"
sum_line "$signed" quarlo.exe >"$out/SHA256SUMS"
if [[ $unsigned_copy -eq 1 ]]; then
  cp "$unsigned" "$out/$unsigned_name"
  sum_line "$unsigned" "$unsigned_name" >>"$out/SHA256SUMS"
fi
(cd "$out" && sha256sum -c SHA256SUMS)
echo "release files in $out"
