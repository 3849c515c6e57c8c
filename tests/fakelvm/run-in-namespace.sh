#!/bin/sh
# Runs a command against the fake volume manager of this directory:
#   run-in-namespace.sh CMD [ARG...]
#
# As root, in a private mount namespace of its own, the command sees
#   - /sbin/lvcreate, lvremove, lvs, vgs and lvchange as the fakes (an overlay on the directory
#     that /sbin is or points to; every other program there stays visible),
#   - /dev as an overlay whose changes live in memory, with /dev/$FAKELVM_VG (default vg01) an
#     empty tmpfs in which the fake lvcreate makes its snapshot nodes as plain files,
#   - /run as an empty tmpfs,
# and these variables: FAKELVM_VG, FAKELVM_LOG (one line per fake command), FAKELVM_CONTROL (an
# empty control file read by the fakes on every call), FAKELVM_TMP (scratch directory),
# FAKELVM_STATE (what lvs shows beyond the nodes: tags, fill levels, attributes).
#
# Nothing outside the namespace changes: the mounts vanish with it, and the machine's /sbin, /dev
# and volume groups are never written. The command is not run unless the fakes are verifiably in
# place. Where namespaces, overlays or root are not available the script prints "skipped: ..."
# and exits 77; otherwise it exits with the command's status.
set -u

here=$(cd "$(dirname "$0")" && pwd)
vg=${FAKELVM_VG:-vg01}
inside_marker=--fakelvm-inside-private-namespace

skip() {
    echo "skipped: $*"
    exit 77
}

fail() {
    echo "run-in-namespace.sh: $*" >&2
    exit 2
}

case $vg in
    '' | . | .. | -* | *[!A-Za-z0-9+_.-]*) fail "not a volume group name: '$vg'" ;;
esac
if [ -e "/dev/$vg" ] && [ ! -d "/dev/$vg" ]; then
    fail "/dev/$vg exists and is not a directory; choose another FAKELVM_VG"
fi

if [ "${1:-}" != "$inside_marker" ]; then
    [ $# -ge 1 ] || fail "usage: run-in-namespace.sh CMD [ARG...]"
    [ "$(id -u)" = 0 ] || skip "the fake volume manager needs root for a private mount namespace"
    command -v unshare >/dev/null 2>&1 || skip "unshare is not installed"
    unshare -m --propagation private true 2>/dev/null ||
        skip "private mount namespaces are not available here"
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/fakelvm.XXXXXX") || fail "no temporary directory"
    unshare -m --propagation private /bin/sh "$here/run-in-namespace.sh" "$inside_marker" \
        "$tmp" "$@"
    rc=$?
    # The namespace and its mounts are gone; only the empty mount point is left.
    rmdir "$tmp" 2>/dev/null || rm -rf "$tmp"
    exit $rc
fi

# ---- inside the private namespace ----
shift
tmp=$1
shift

# Refuse to mount anything unless this really is a mount namespace of its own.
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] ||
    fail "not inside a private mount namespace; nothing mounted"

# Everything of this run lives in memory and disappears with the namespace.
mount -t tmpfs -o mode=0755 fakelvm "$tmp" || skip "cannot mount a tmpfs"
fakes="lvcreate lvremove lvs vgs lvchange"
mkdir "$tmp/bin" "$tmp/dev-up" "$tmp/dev-work" "$tmp/keep" "$tmp/state" ||
    fail "cannot prepare $tmp"
for f in $fakes fakelvm-common.sh; do
    cp "$here/$f" "$tmp/bin/" || fail "cannot copy the fakes"
done
for f in $fakes; do chmod 0755 "$tmp/bin/$f"; done

# /sbin may be a link to /usr/sbin (merged /usr): cover the directory it leads to, with the
# fakes on top of its real contents, so the other programs there stay usable.
sbin=$(readlink -f /sbin)
[ -d "$sbin" ] || skip "no /sbin directory"
mount -t overlay fakelvm-sbin -o "lowerdir=$tmp/bin:$sbin" "$sbin" ||
    skip "overlay file systems are not available here"

# /dev: keep its sub-mounts aside, cover it with an overlay whose upper layer is in memory, and
# put them back.
kept=
for sub in pts shm mqueue hugepages; do
    if mountpoint -q "/dev/$sub" 2>/dev/null; then
        mkdir "$tmp/keep/$sub" && mount --rbind "/dev/$sub" "$tmp/keep/$sub" ||
            fail "cannot keep /dev/$sub"
        kept="$kept $sub"
    fi
done
mount -t overlay fakelvm-dev \
    -o "lowerdir=/dev,upperdir=$tmp/dev-up,workdir=$tmp/dev-work" /dev ||
    skip "cannot cover /dev with an overlay"
for sub in $kept; do
    mount --rbind "$tmp/keep/$sub" "/dev/$sub" || fail "cannot restore /dev/$sub"
done
# What programs keep in /run (snaphost its locks) stays in the namespace too.
mount -t tmpfs -o mode=0755 fakelvm-run /run || fail "cannot mount a tmpfs on /run"
# A real volume group of that name stays hidden under an empty tmpfs.
mkdir -p "/dev/$vg" && mount -t tmpfs -o mode=0755 fakelvm-vg "/dev/$vg" ||
    fail "cannot mount a tmpfs on /dev/$vg"

# Check before running anything that the command can reach only the fakes.
for f in $fakes; do
    cmp -s "/sbin/$f" "$here/$f" || fail "the fakes are not in place at /sbin; command not run"
done
[ "$(stat -f -c %T "/dev/$vg")" = tmpfs ] && [ -z "$(ls -A "/dev/$vg")" ] ||
    fail "/dev/$vg is not an empty tmpfs; command not run"
[ -c /dev/null ] || fail "/dev/null is not usable under the overlay"

: >"$tmp/fakelvm.log"
: >"$tmp/control"
export FAKELVM_VG="$vg" FAKELVM_LOG="$tmp/fakelvm.log" FAKELVM_CONTROL="$tmp/control"
export FAKELVM_TMP="$tmp" FAKELVM_STATE="$tmp/state" FAKELVM_INSIDE=1
for cmd in LVCREATE LVREMOVE LVS VGS LVCHANGE; do
    unset "FAKELVM_${cmd}_RC" "FAKELVM_${cmd}_ERR"
done
unset FAKELVM_DEV FAKELVM_EXTENT FAKELVM_VG_SIZE
exec "$@"
