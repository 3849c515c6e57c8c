#!/bin/sh
# lvremove failing for real: the snapshot is removed behind the plug-in's back while the host
# holds it. bkpTerminateSnapshot returns 24 and message 8103 carries the command line and
# lvm2's own error text.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "behind-the-back" 4 a
make_origin a

rawhost "$origin" 'lvremove -q -f "$SNAPSHOT_DEVICE" >/dev/null' >host.out 2>host.err ||
    { show host.err; fail "rawhost stopped early"; }
show host.out
device=$(device_of host.out)
name=${device##*/}
[ "$(rc_of start host.out)" = 0 ] || fail "bkpStartSnapshot failed"
[ "$(rc_of command host.out)" = 0 ] || fail "removing the snapshot behind the plug-in's back failed"
ok "$name created, then removed behind the plug-in's back"
[ "$(rc_of terminate host.out)" = 24 ] || fail "bkpTerminateSnapshot did not return 24"
ok "bkpTerminateSnapshot returned 24"
msg=$(grep '^message 8103: ' host.out) || fail "no message 8103"
# Inserts: the command line, where, lvm2's error text, its return code, source file, line.
command="lvremove -f /dev/$VG/$name 1>/dev/null"
case $msg in
    "message 8103: ["*"$command] [DSnapshotProvider::deleteSnapshot():] ["*"$name"*"] ["[1-9]*)
        ok "message 8103 carries the command and lvm2's text" ;;
    *) fail "message 8103 does not have the expected inserts: $msg" ;;
esac
[ "$(rc_of pi-terminate host.out)" = 0 ] || fail "piTerminate failed"
expect_no_snapshot "at the end"
