#!/bin/sh
# A snapshot that overflows for real: one extent of room (4 MiB) while the backup command writes
# 8 MiB to the origin. The kernel invalidates the snapshot; snaphost must not report success,
# whether the command goes on running (snaphost ends it) or succeeds at once. The snapshot is
# gone afterwards either way.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

lvcreate -q -y -L 8M -n origin "$VG" >/dev/null || fail "lvcreate origin"
origin=/dev/$VG/origin
write8='dd if=/dev/zero of="$SNAPHOST_ORIGIN" bs=1M count=8 conv=fsync 2>/dev/null; sync'

start=$(date +%s)
snaphost --size 4M --json=result.json "$VG/origin" -- sh -c "$write8"'
    echo $$ >cmd.pid; sleep 60' 2>sh.err && rc=0 || rc=$?
show sh.err
[ $rc = 14 ] || fail "an overflow while the command runs: exit $rc, not 14"
[ $(($(date +%s) - start)) -lt 40 ] || fail "snaphost waited for the command instead of ending it"
[ ! -e "/proc/$(cat cmd.pid)" ] || fail "the backup command still runs"
grep -q "the snapshot overflowed: more than its 4.00 MiB of changes were written to $VG/origin" \
    sh.err || fail "the overflow is not explained"
grep -q "Try a larger snapshot: --size 12M" sh.err || fail "no size to try"
grep -q '"overflowed":true' result.json && grep -q '"exit_code":14' result.json ||
    fail "the JSON result does not say so: $(cat result.json)"
ok "overflow while the command runs: exit 14, command ended, size to try named"
expect_no_snapshot "after the overflow"
dmesg | grep -q "Invalidating snapshot" && ok "the kernel logged: $(dmesg | grep -m1 'Invalidating snapshot')"

snaphost -s 4M "$VG/origin" -- sh -c "$write8; exit 0" 2>sh.err && rc=0 || rc=$?
show sh.err
[ $rc = 14 ] || fail "a command that overwrote the snapshot's room and succeeded: exit $rc"
# Whether a reading caught it while the command still ran or only after, it is no success.
grep -q "the snapshot overflowed" sh.err || fail "the overflow is not explained"
ok "a command that overflowed the snapshot and succeeded: exit 14, not a success"
expect_no_snapshot "after the second overflow"

snaphost -s 8M "$VG/origin" -- sh -c 'dd if=/dev/zero of="$SNAPHOST_ORIGIN" bs=1M count=2 \
    conv=fsync 2>/dev/null; sleep 2' 2>sh.err && rc=0 || rc=$?
show sh.err
[ $rc = 0 ] || fail "a snapshot with room enough: exit $rc"
grep -qE "the snapshot \(8.00 MiB\) was at most [1-9][0-9.]* % full" sh.err ||
    fail "no peak fill reported"
ok "room enough: exit 0 and the peak fill reported"
expect_no_snapshot "after the good run"
