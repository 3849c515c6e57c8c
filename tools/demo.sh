#!/usr/bin/env bash
# The main job: snaphost keeps a snapshot of a live logical volume for as long as a backup
# command reads it. This installs what is missing, builds libPiSNP.so and snaphost, boots a small
# virtual machine with a fresh disk and real LVM (tests/lvm-vm), runs the demo there and prints
# what happened, step by step. Run as root on Debian: bash tools/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PISNP_BUILD_ROOT:-$root/build}/normal

echo "== installing what the build needs (if anything is missing)"
tools/install-deps.sh
echo "== building libPiSNP.so and snaphost in $build"
guest=$(mktemp -d)
trap 'rm -rf "$guest"' EXIT
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$build" --target PiSNP snaphost; } >"$guest/build.log" 2>&1; then
    cat "$guest/build.log"
    echo "== the build failed (see above)"
    exit 1
fi

# What runs inside the virtual machine (busybox sh), as root, with an empty volume group $VG.
cat >"$guest/demo.sh" <<'GUEST'
#!/bin/sh
# lvm-vm-timeout: 180
set -u
step() { echo "=== $*"; }
# Shows a command, runs it, indents its output; returns its exit status.
show() {
    echo "\$ $*"
    "$@" >/tmp/show.out 2>&1
    status=$?
    sed 's/^/    /' /tmp/show.out
    return $status
}
die() {
    echo "demo failed: $*"
    exit 1
}

step "1. A fresh machine: volume group $VG on an empty 64 MiB disk"
show vgs "$VG"

step "2. A logical volume $VG/home (16 MiB) with a file system, in use at /home"
show lvcreate -y -L 16M -n home "$VG" || die "lvcreate"
mke2fs "/dev/$VG/home" >/dev/null 2>&1 || die "mke2fs"
mkdir -p /home /mnt/snapshot
mount "/dev/$VG/home" /home || die "mount"
echo "notes, version 1 (written before the backup)" >/home/notes.txt
mkdir /home/photos
dd if=/dev/urandom of=/home/photos/1.jpg bs=64k count=16 2>/dev/null
dd if=/dev/urandom of=/home/photos/2.jpg bs=64k count=16 2>/dev/null
sync
show ls -lR /home
show cat /home/notes.txt

step "3. The backup: snaphost snapshots $VG/home and runs the backup command on the snapshot"
cat >/tmp/backup.sh <<'EOF'
snap=$1
echo "backup: reading the snapshot $snap"
echo "backup: meanwhile the live volume changes: new notes, a photo deleted"
echo "notes, version 2 (written during the backup)" >/home/notes.txt
rm /home/photos/2.jpg
sync
echo "backup:   live /home/notes.txt now says:  $(cat /home/notes.txt)"
mount -o ro "$snap" /mnt/snapshot || exit 1
echo "backup:   the snapshot's notes.txt says:  $(cat /mnt/snapshot/notes.txt)"
tar -C /mnt/snapshot -cf /tmp/home-backup.tar . || { umount /mnt/snapshot; exit 1; }
umount /mnt/snapshot
echo "backup: archive /tmp/home-backup.tar written"
EOF
echo "The backup command, /tmp/backup.sh, changes the live volume while it works:"
sed 's/^/    | /' /tmp/backup.sh
show snaphost --verbose --size 50 "$VG/home" -- sh /tmp/backup.sh {}
echo "snaphost's exit code: $status (0: snapshot taken, backup done, snapshot removed)"
[ $status = 0 ] || die "snaphost failed"

step "4. Afterwards: the snapshot is gone; the live volume has the new state, the backup the old"
show lvs "$VG"
show ls -R /home
show tar -tf /tmp/home-backup.tar
echo "\$ tar -xOf /tmp/home-backup.tar ./notes.txt"
tar -xOf /tmp/home-backup.tar ./notes.txt | sed 's/^/    /'
[ "$(lvs --noheadings -o lv_name "$VG" | tr -d ' ')" = home ] || die "a snapshot was left behind"

step "5. A failing backup command: snaphost reports it, and removes the snapshot all the same"
echo "\$ snaphost $VG/home -- sh -c 'echo \"backup: the tape is full\" >&2; exit 1'"
snaphost "$VG/home" -- sh -c 'echo "backup: the tape is full" >&2; exit 1' >/tmp/show.out 2>&1
status=$?
sed 's/^/    /' /tmp/show.out
echo "snaphost's exit code: $status (10: the backup command failed)"
[ $status = 10 ] || die "expected exit code 10"
show lvs "$VG"
[ "$(lvs --noheadings -o lv_name "$VG" | tr -d ' ')" = home ] || die "a snapshot was left behind"

step "6. No room left for a snapshot: the volume manager's own words come through"
lvcreate -q -y -l 100%FREE -n filler "$VG" >/dev/null
show snaphost "$VG/home" -- true
echo "snaphost's exit code: $status (8: the snapshot could not be created)"
[ $status = 8 ] || die "expected exit code 8"
umount /home
echo "=== done: every snapshot taken was removed again"
GUEST

echo "== booting a small virtual machine with a fresh disk and real LVM; the demo runs there"
echo "   (software emulation: about a minute; packages for it are installed on first use)"
status=0
bash tests/lvm-vm/run-vm.sh -v --scenarios "$guest" --module ext4 \
    --add "$build/libPiSNP.so" --add "$build/tools/snaphost" >"$guest/run.log" 2>&1 || status=$?
if ((status != 0)); then
    cat "$guest/run.log"
    echo "== the demo failed (see above)"
    exit 1
fi
echo
# The guest's own output, without the harness's markers and the guest console.
sed -n '/^----- output of demo.sh -----$/,/^----- guest console -----$/p' "$guest/run.log" |
    sed '1d;$d'
echo
grep '^time: ' "$guest/run.log" || true
