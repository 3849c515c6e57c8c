#!/bin/sh
# The plug-in's road on real LVM, driven by rawhost, a bare C host: the origin holds pattern A;
# the plug-in creates the snapshot and hands its device path to the host; while the snapshot
# exists the first MiB of the origin is overwritten with pattern B; the device path the host was
# given still reads pattern A throughout; terminating removes the snapshot without a trace.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "snapshot-road-A" 4 a
make_pattern "snapshot-road-B" 1 b
A_all=$(file_hash a)
B_low=$(file_hash b)
make_origin a
[ "$(device_hash "$origin" 4)" = "$A_all" ] || fail "origin does not hold pattern A"
ok "origin holds pattern A"

# Runs while the snapshot exists; rawhost sets SNAPSHOT_DEVICE.
cat >during.sh <<'SCRIPT'
echo "$SNAPSHOT_DEVICE" >device
lvs --noheadings -o lv_name,origin "$VG" | tr -s ' ' >lvs-during
dd if=b of="/dev/$VG/origin" bs=64k conv=fsync,notrunc 2>/dev/null
sync
echo 3 >/proc/sys/vm/drop_caches
dd if="$SNAPSHOT_DEVICE" bs=1M count=4 2>/dev/null | sha256sum | cut -d' ' -f1 >snap-hash
dd if="/dev/$VG/origin" bs=1M count=1 2>/dev/null | sha256sum | cut -d' ' -f1 >origin-hash
SCRIPT

rawhost -s 10 "$origin" "sh $WORKDIR/during.sh" >host.out 2>host.err || {
    show host.out
    show host.err
    fail "rawhost did not walk the road to its end"
}
show host.out
device=$(device_of host.out)
name=${device##*/}
[ "$(rc_of init host.out)" = 0 ] && [ "$(rc_of prepare host.out)" = 0 ] ||
    fail "init or prepare failed"
[ "$(rc_of start host.out)" = 0 ] || fail "bkpStartSnapshot failed"
case $device in
    /dev/$VG/bkpsnapshot_date_*_time_*) ok "the host got the device path $device" ;;
    *) fail "unexpected device path '$device'" ;;
esac
[ "$(cat device)" = "$device" ] || fail "the command saw another device: $(cat device)"
if ! grep -q "^ $name origin" lvs-during; then
    show lvs-during
    fail "lvs did not show $name as a snapshot of origin"
fi
ok "lvs showed $name as a snapshot of origin while it existed"
[ "$(cat origin-hash)" = "$B_low" ] || fail "the origin was not overwritten"
ok "origin overwritten with pattern B while the snapshot existed"
[ "$(cat snap-hash)" = "$A_all" ] ||
    fail "the snapshot device did not read pattern A after the origin changed"
ok "the snapshot device still read pattern A"
! grep -q '^message' host.out || fail "the plug-in reported a message on the good road"
[ "$(rc_of command host.out)" = 0 ] && [ "$(rc_of end host.out)" = 0 ] ||
    fail "command or end failed"
[ "$(rc_of terminate host.out)" = 0 ] || fail "bkpTerminateSnapshot failed"
[ "$(rc_of pi-terminate host.out)" = 0 ] || fail "piTerminate failed"
ok "terminate and piTerminate returned 0"
[ ! -e "$device" ] || fail "$device still exists"
expect_no_snapshot "after terminate"
[ "$(lvs --noheadings -o lv_name "$VG" | tr -d ' ')" = origin ] || fail "origin is not alone in $VG"
ok "the origin is the only volume left"
