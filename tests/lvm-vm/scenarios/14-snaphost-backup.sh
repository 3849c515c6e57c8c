#!/bin/sh
# snaphost around real backup commands: a checksum of the snapshot device taken while the
# origin changes (exit 0), a failing command (exit 10), and SIGTERM during the backup (exit
# 143). Each time the snapshot is gone afterwards.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "snaphost-A" 4 a
make_pattern "snaphost-B" 1 b
A_all=$(file_hash a)
make_origin a

# The backup command itself changes the origin first, then checksums the snapshot.
snaphost -v -s 10 "$VG/origin" -- sh -c '
    dd if=b of="$SNAPHOST_ORIGIN" bs=64k conv=fsync,notrunc 2>/dev/null
    sync; echo 3 >/proc/sys/vm/drop_caches
    dd if="$1" bs=1M count=4 2>/dev/null | sha256sum | cut -d" " -f1' sh {} >sum 2>sh.err &&
    rc=0 || rc=$?
show sh.err
[ $rc = 0 ] || fail "snaphost exited $rc"
[ "$(cat sum)" = "$A_all" ] || fail "the checksum of the snapshot is not that of pattern A"
ok "exit 0; the checksum taken through {} is that of the origin before it changed"
expect_no_snapshot "after a good backup"

snaphost "$VG/origin" -- sh -c 'sha256sum "$SNAPHOST_DEVICE" >/dev/null; exit 7' 2>sh.err &&
    rc=0 || rc=$?
show sh.err
[ $rc = 10 ] && grep -q "exited with status 7" sh.err || fail "a failing command: exit $rc"
ok "a failing backup command: exit 10 with its status"
expect_no_snapshot "after a failed backup"

start=$(date +%s)
snaphost "$VG/origin" -- sh -c 'echo started >started; sleep 60' 2>sh.err &
pid=$!
i=0
while [ ! -e started ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
[ -e started ] || fail "the backup command did not start"
snapshots=$(snapshots_left)
[ -n "$snapshots" ] || fail "no snapshot while the backup runs"
kill -TERM $pid
wait $pid && rc=0 || rc=$?
show sh.err
[ $rc = 143 ] || fail "SIGTERM: exit $rc, not 143"
[ $(($(date +%s) - start)) -lt 40 ] || fail "snaphost waited for the backup command to finish"
ok "SIGTERM during the backup: exit 143"
expect_no_snapshot "after SIGTERM"
