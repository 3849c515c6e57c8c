#!/bin/sh
# lvcreate failing for real: the volume group has no free extent left. The host sees return
# code 5 from bkpStartSnapshot and message 5250 carrying lvm2's own error text; snaphost checks the
# free space first and exits 8 before lvcreate runs. Nothing is left behind.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "no-space" 4 a
make_origin a
lvcreate -q -y -l 100%FREE -n filler "$VG" >/dev/null || fail "lvcreate filler"
[ "$(vgs --noheadings -o vg_free_count "$VG" | tr -d ' ')" = 0 ] ||
    fail "$VG still has free extents"
ok "$VG has no free extent"

rawhost "$origin" >host.out 2>host.err || { show host.err; fail "rawhost stopped early"; }
show host.out
[ "$(rc_of start host.out)" = 5 ] || fail "bkpStartSnapshot did not return 5"
ok "bkpStartSnapshot returned 5"
msg=$(grep '^message 5250: ' host.out) || fail "no message 5250"
# Inserts: where, lvm2's error text, its return code, source file, line.
case $msg in
    "message 5250: [DSnapshotProvider::startSnapshot():] ["*"insufficient free space"*"] ["[1-9]*)
        ok "message 5250 carries lvm2's text: ${msg#*\] }" ;;
    *) fail "message 5250 does not have the expected inserts: $msg" ;;
esac
[ "$(grep -c '^message' host.out)" = 1 ] || fail "more than one message"
[ "$(rc_of pi-terminate host.out)" = 0 ] || fail "piTerminate failed"
expect_no_snapshot "after the failed lvcreate"

snaphost --trace trace "$VG/origin" -- sh -c 'echo ran >backup-ran' >sh.out 2>sh.err &&
    rc=0 || rc=$?
show sh.err
[ $rc = 8 ] || fail "snaphost exited $rc, not 8"
grep -q "the snapshot needs 4.00 MiB .* but volume group $VG has only 0 KiB free" sh.err ||
    fail "snaphost did not say how much room it needs and how much there is"
! grep -q lvcreate trace || fail "snaphost let lvcreate run into the full volume group"
[ ! -e backup-ran ] || fail "the backup command ran without a snapshot"
ok "snaphost: exit 8 before lvcreate, with the numbers; no backup"
expect_no_snapshot "after snaphost"
