#!/usr/bin/env bash
# Runs a Windows program under Debian 13's Wine 10, which verifies ECDSA Authenticode signatures
# (Debian 12's Wine 8 cannot). Wine 10 runs in a Debian 13 root made once per machine and kept.
#
# Usage: wine10-run.sh --make                          make the root unless it is ready
#        wine10-run.sh PREFIX SOURCE BUILD PROGRAM [ARGS...]
#                                                      run PROGRAM in the Wine 10 prefix PREFIX
#
# The root is $QUARLO_WINE10_ROOT, by default /var/cache/quarlo/wine10: outside the clone, so that
# fresh clones (CI) reuse it. It is built in a temporary directory beside it and renamed into place
# only when complete. SOURCE and BUILD are bind-mounted at their own paths inside it, so paths
# compiled into the tests hold there too. Every mount lives in a private mount namespace that ends
# with the command: nothing stays mounted, even when the command is killed.
# Without a ready root, or when one cannot be made, it prints why and exits 77 (ctest: skipped).
set -euo pipefail

root=${QUARLO_WINE10_ROOT:-/var/cache/quarlo/wine10}
ready=$root/.quarlo-ready-1
skel_prefix=/opt/quarlo/wineprefix

skip() {
  echo "SKIPPED: no Wine 10: $*" >&2
  exit 77
}

# chroot_run ROOT [bind dirs...] -- COMMAND...: COMMAND inside ROOT with /proc, /dev and the bind
# dirs mounted for its duration only.
chroot_run() {
  local dir=$1
  shift
  unshare --mount --propagation private -- bash -euo pipefail -c '
    dir=$1; shift
    mount -t proc proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    while [[ $1 != -- ]]; do
      mkdir -p "$dir$1"
      mount --bind "$1" "$dir$1"
      shift
    done
    shift
    export PATH=/usr/sbin:/usr/bin:/sbin:/bin
    exec chroot "$dir" "$@"' bash "$dir" "$@"
}

make_root() {
  [[ -f $ready ]] && return 0
  [[ $(id -u) -eq 0 ]] || skip "making the Debian 13 root in $root needs root (debootstrap, chroot)"
  command -v debootstrap >/dev/null || skip "debootstrap is not installed (tools/install-deps.sh)"
  command -v unshare >/dev/null || skip "unshare is not installed"
  mkdir -p "$(dirname "$root")"
  exec 8>"$root.lock"
  flock 8
  [[ -f $ready ]] && return 0
  [[ ! -e $root ]] || skip "$root exists but is not a finished root: remove it to have it made again"

  # Left by an interrupted attempt; never mounted outside their own namespace.
  local old
  for old in "$root".tmp.*; do
    [[ -d $old ]] && rm -rf --one-file-system "$old"
  done

  local mirror tmp log=$root.log start=$SECONDS
  mirror=$(awk '$1 == "URIs:" { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  mirror=${mirror:-http://deb.debian.org/debian}
  tmp=$(mktemp -d "$root.tmp.XXXXXX")
  chmod 755 "$tmp"
  echo "Making the Debian 13 root with Wine 10 in $root (once, a few minutes; log: $log)"
  if ! {
    unshare --mount --propagation private -- debootstrap --variant=minbase trixie "$tmp" "$mirror" &&
      cp -L /etc/resolv.conf "$tmp/etc/resolv.conf" &&
      chroot_run "$tmp" -- /usr/bin/env DEBIAN_FRONTEND=noninteractive sh -ec '
        apt-get update
        apt-get install -y --no-install-recommends wine wine64
        apt-get clean' &&
      chroot_run "$tmp" -- /usr/bin/env WINEPREFIX="$skel_prefix" WINEDEBUG=-all \
        WINEDLLOVERRIDES=mscoree,mshtml= sh -ec '
        mkdir -p "${WINEPREFIX%/*}"
        wineboot -i
        # Message boxes become real invisible dialogs that tests find and dismiss.
        wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f
        wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f
        # A crashing test program just ends: no debugger is started for it.
        wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /f || true
        wineserver -w'
  } >"$log" 2>&1; then
    rm -rf --one-file-system "$tmp"
    tail -n 20 "$log" >&2
    skip "making the Debian 13 root failed (log: $log)"
  fi
  touch "$tmp/${ready##*/}"
  mv -T "$tmp" "$root"
  echo "Made $root in $((SECONDS - start)) s"
}

if [[ ${1:-} == --make ]]; then
  make_root
  exit 0
fi

[[ $# -ge 4 ]] || {
  echo "usage: $0 --make | PREFIX SOURCE BUILD PROGRAM [ARGS...]" >&2
  exit 2
}
prefix=$1 source=$2 build=$3
shift 3
[[ -f $ready ]] || skip "no Debian 13 root in $root (tools/test.sh makes it)"
[[ $(id -u) -eq 0 ]] || skip "running in the Debian 13 root needs root (chroot)"

# Each build tree gets its own copy of the root's initialised prefix.
if [[ ! -f $prefix/.quarlo-ready ]]; then
  (
    flock 9
    if [[ ! -f $prefix/.quarlo-ready ]]; then
      rm -rf "$prefix"
      cp -a "$root$skel_prefix" "$prefix"
      touch "$prefix/.quarlo-ready"
    fi
  ) 9>"$prefix.lock"
fi

chroot_run "$root" "$source" "$build" -- /usr/bin/env -C "$PWD" WINEPREFIX="$prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" wine "$@"
