#!/usr/bin/env bash
# Rebuilds programs from a copy of this source tree at another path, in another time zone, and
# compares them byte for byte with the same programs of an existing build tree: a source or
# build path, a date or a time that reached an image would make them differ.
#
# Usage: tools/check-reproducible.sh BUILD_DIR TARGET...
# The copy is configured with BUILD_DIR's build type and key options and reuses its generated
# test keys, so that the test-key launcher is compared too.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $# -ge 2 ]] || {
  echo "usage: $0 BUILD_DIR TARGET..." >&2
  exit 2
}
build=$(realpath "$1")
shift

copy=$(mktemp -d /tmp/quarlo-rebuild.XXXXXX)
trap 'rm -rf "$copy"' EXIT
# The working tree's files as they are now, committed or not; build trees are ignored by git.
mkdir "$copy/source"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$copy/source"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
mkdir "$copy/build"
[[ ! -d $build/publisher-test-keys ]] || cp -a "$build/publisher-test-keys" "$copy/build/"
(cd "$copy/source" && TZ=Etc/GMT-14 cmake -S . -B "$copy/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="$(cached CMAKE_BUILD_TYPE)" -DQUARLO_TESTS="$(cached QUARLO_TESTS)" \
  -DQUARLO_TEST_KEYS="$(cached QUARLO_TEST_KEYS)" >/dev/null)

cmake --build "$build" --target "$@" >/dev/null
TZ=Etc/GMT-14 cmake --build "$copy/build" --target "$@" >/dev/null

status=0
for target in "$@"; do
  # A target whose program has a name of its own: quarlo_doctor makes quarlo-doctor.exe.
  file=$target.exe
  [[ -f $build/$file ]] || file=${target//_/-}.exe
  sha256sum "$build/$file" "$copy/build/$file"
  if ! cmp "$build/$file" "$copy/build/$file"; then
    echo "NOT REPRODUCIBLE: $file differs between $build and a build of a copy of the source" >&2
    status=1
  fi
done
[[ $status -ne 0 ]] || echo "reproducible: $* built from $PWD and from a copy at another path"
exit $status
