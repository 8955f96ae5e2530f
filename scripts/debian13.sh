#!/usr/bin/env bash
# Runs a command in a Debian 13 ("trixie") root made with debootstrap from
# Debian's archive, with this checkout at the same path inside:
#   scripts/debian13.sh COMMAND [ARGUMENTS...]
# The root is kept in a cache folder (PRADELUX_TEST_ROOTS, default
# ~/.cache/pradelux-test) and made anew when missing or when the archive has
# newer packages than it holds. It is entered with a mount namespace of its
# own and pivot_root, not chroot: the kernel refuses user namespaces (and so
# the renderer's sandbox) to a chrooted process. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
[ "$(id -u)" -eq 0 ] || { echo "scripts/debian13.sh needs root (debootstrap, mounts)"; exit 1; }
[ $# -gt 0 ] || { echo "usage: scripts/debian13.sh COMMAND [ARGUMENTS...]"; exit 2; }

cache=${PRADELUX_TEST_ROOTS:-${XDG_CACHE_HOME:-$HOME/.cache}/pradelux-test}
root=$cache/trixie
mirror=${PRADELUX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$cache"

if ! command -v debootstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

# Runs a command in the root, with the checkout, /proc, /sys and /dev of the
# host, and a /tmp of its own (a command may run there while another does).
enter() {
  local target=$1
  shift
  unshare --mount --propagation private -- bash -s "$target" "$src" "$@" <<'ENTER'
set -e
target=$1 src=$2
shift 2
mount --bind "$target" "$target"
mount --rbind /proc "$target/proc"
mount --rbind /sys "$target/sys"
mount --rbind /dev "$target/dev"
mount -t tmpfs -o mode=1777 tmpfs "$target/tmp"
# Last, so that a checkout below /tmp is not hidden by the root's own.
mkdir -p "$target$src"
mount --bind "$src" "$target$src"
cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
cd "$target"
# A folder of this entry's own for the old root: another may enter at once.
host=$(basename "$(mktemp -d "$target/.host.XXXXXX")")
pivot_root . "$host"
cd /
umount -l "/$host"
rmdir "/$host"
cd "$src"
exec env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM="${TERM:-dumb}" \
  LANG=C.UTF-8 CI="${CI:-}" "$@"
ENTER
}

# Whether the archive holds packages newer than the root's.
stale() {
  [ -f "$root/.made" ] || return 0
  enter "$root" apt-get update -qq >/dev/null 2>&1 || return 1
  enter "$root" apt-get -s -qq upgrade 2>/dev/null | grep -q '^Inst '
}

# PRADELUX_TEST_ROOT_CHECKED: the caller found it up to date a moment ago
# (and may be using it still).
if [ ! -f "$root/.made" ] || { [ -z "${PRADELUX_TEST_ROOT_CHECKED:-}" ] && stale; }; then
  echo "Making a Debian 13 root in $root"
  rm -rf "$root.new"
  debootstrap --variant=minbase --include=ca-certificates trixie "$root.new" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { tail -20 "$cache/debootstrap.log"; exit 1; }
  touch "$root.new/.made"
  rm -rf "$root"
  mv "$root.new" "$root"
fi
enter "$root" "$@"
