#!/bin/sh
# The demo itself, as tools/demo.sh runs it inside the virtual machine (busybox sh, as root, with
# an empty volume group $VG and snaphost on PATH).
# lvm-vm-timeout: 300
set -u
step() {
    echo
    echo "=== $*"
}
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
only_home_left() { [ "$(lvs --noheadings -o lv_name "$VG" | tr -d ' ')" = home ]; }

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

cat >/tmp/backup.sh <<'EOF'
snap=$1
echo "backup: meanwhile the live volume changes: new notes, a photo deleted, new photos"
echo "notes, version 2 (written during the backup)" >/home/notes.txt
rm /home/photos/2.jpg
for n in 3 4 5; do
    dd if=/dev/urandom of=/home/photos/$n.jpg bs=64k count=16 2>/dev/null
    sync
    sleep 1
done
echo "backup:   live /home/notes.txt now says:  $(cat /home/notes.txt)"
mount -o ro "$snap" /mnt/snapshot || exit 1
echo "backup:   the snapshot's notes.txt says:  $(cat /mnt/snapshot/notes.txt)"
tar -C /mnt/snapshot -cf /tmp/home-backup.tar . || { umount /mnt/snapshot; exit 1; }
umount /mnt/snapshot
echo "backup: archive /tmp/home-backup.tar written"
EOF

step "3. What a backup would do: snaphost --dry-run checks everything and changes nothing"
show snaphost --dry-run --size 8M "$VG/home" -- sh /tmp/backup.sh {}
echo "snaphost's exit code: $status (0: every check passed)"
[ $status = 0 ] || die "the dry run failed"
only_home_left || die "the dry run created something"

step "4. The backup: snaphost snapshots $VG/home and runs the backup command on the snapshot
    while the live volume changes; the snapshot's fill level is shown as it grows"
echo "The backup command, /tmp/backup.sh:"
sed 's/^/    | /' /tmp/backup.sh
show snaphost --verbose --size 8M "$VG/home" -- sh /tmp/backup.sh {}
echo "snaphost's exit code: $status (0: snapshot taken, backup done, snapshot removed)"
[ $status = 0 ] || die "snaphost failed"

step "5. Afterwards: the snapshot is gone; the live volume has the new state, the backup the old"
show lvs "$VG"
show ls -R /home
show tar -tf /tmp/home-backup.tar
echo "\$ tar -xOf /tmp/home-backup.tar ./notes.txt"
tar -xOf /tmp/home-backup.tar ./notes.txt | sed 's/^/    /'
only_home_left || die "a snapshot was left behind"

step "6. A failing backup command: snaphost reports it, and removes the snapshot all the same"
echo "\$ snaphost $VG/home -- sh -c 'echo \"backup: the tape is full\" >&2; exit 1'"
snaphost "$VG/home" -- sh -c 'echo "backup: the tape is full" >&2; exit 1' >/tmp/show.out 2>&1
status=$?
sed 's/^/    /' /tmp/show.out
echo "snaphost's exit code: $status (10: the backup command failed)"
[ $status = 10 ] || die "expected exit code 10"
only_home_left || die "a snapshot was left behind"

step "7. The snapshot overflows: room for 4 MiB of changes while 8 MiB are written to /home"
cat >/tmp/big-backup.sh <<'EOF'
dd if=/dev/urandom of=/home/big bs=1M count=8 2>/dev/null
sync
mount -o ro "$1" /mnt/snapshot && tar -C /mnt/snapshot -cf /tmp/big.tar .
s=$?
umount /mnt/snapshot 2>/dev/null
exit $s
EOF
echo "The backup command, /tmp/big-backup.sh:"
sed 's/^/    | /' /tmp/big-backup.sh
show snaphost --size 4M --json=/tmp/result.json "$VG/home" -- sh /tmp/big-backup.sh {}
echo "snaphost's exit code: $status (14: the snapshot overflowed; that backup must not be trusted)"
[ $status = 14 ] || die "expected exit code 14"
echo "The kernel's words:"
dmesg | grep "Invalidating snapshot" | tail -n 1 | sed 's/^/    /'
echo "The result for a scheduler (--json):"
sed 's/^/    /' /tmp/result.json
rm -f /home/big
only_home_left || die "a snapshot was left behind"

step "8. snaphost is killed (kill -9) during a backup: its snapshot is left over"
snaphost "$VG/home" -- sh -c 'echo started >/tmp/started; exec sleep 60' 2>/dev/null &
pid=$!
i=0
while [ ! -e /tmp/started ] && [ $i -lt 300 ]; do
    sleep 0.1
    i=$((i + 1))
done
echo "\$ kill -9 $pid    (snaphost; its guardian process ends the backup command)"
kill -9 $pid
wait $pid 2>/dev/null
sleep 1
show lvs -o lv_name,origin,lv_tags "$VG"
echo "The next run warns about the leftover and names the command that removes it:"
show snaphost "$VG/home" -- true
show snaphost --sweep "$VG"
echo "snaphost's exit code: $status (0: every leftover removed)"
show lvs "$VG"
only_home_left || die "the leftover was not swept"

step "9. No room for the snapshot: snaphost checks the free space before lvcreate, with numbers"
lvcreate -q -y -l 100%FREE -n filler "$VG" >/dev/null
show snaphost "$VG/home" -- true
echo "snaphost's exit code: $status (8: the snapshot could not be created)"
[ $status = 8 ] || die "expected exit code 8"
lvremove -q -f "$VG/filler" >/dev/null
lvcreate -q -y -s -L 4M -n manual "$VG/home" >/dev/null
echo "Where lvcreate itself refuses (here a snapshot of a snapshot), its own words come through:"
show snaphost "$VG/manual" -- true
echo "snaphost's exit code: $status (8)"
lvremove -q -f "$VG/manual" >/dev/null
umount /home
echo
echo "=== done: every snapshot taken was removed again"
