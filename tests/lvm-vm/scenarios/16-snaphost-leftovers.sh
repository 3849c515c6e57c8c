#!/bin/sh
# Leftovers on real LVM: snaphost killed with SIGKILL mid-backup leaves its tagged snapshot, but
# its backup command is ended all the same. The next run warns; snaphost --sweep removes that
# leftover and nothing else: not a hand-made snapshot of the same origin, not the snapshot of a
# run still going. Two runs on one volume group at once each use and remove their own snapshot.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "leftover" 4 a
make_origin a

snaphost "$VG/origin" -- sh -c 'echo $$ >cmd.pid; exec sleep 60' 2>killed.err &
pid=$!
i=0
while [ ! -s cmd.pid ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
[ -s cmd.pid ] || fail "the backup command did not start"
kill -KILL $pid
wait $pid 2>/dev/null || true
leftover=$(snapshots_left)
[ -n "$leftover" ] || fail "no snapshot left after kill -9"
lvs --noheadings -o lv_tags "$VG/$leftover" | grep -q "snaphost-run:" ||
    fail "the leftover carries no snaphost tag"
i=0
while [ -e "/proc/$(cat cmd.pid)" ] && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
[ ! -e "/proc/$(cat cmd.pid)" ] || fail "the backup command outlived snaphost"
ok "kill -9: $leftover stays, tagged; the backup command was ended"

lvcreate -q -y -s -L 4M -n handmade "$VG/origin" >/dev/null || fail "lvcreate handmade"
snaphost "$VG/origin" -- sh -c 'echo $$ >live.pid; exec sleep 60' 2>live.err &
live=$!
i=0
while [ ! -s live.pid ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
[ -s live.pid ] || fail "the live run's command did not start"
show live.err
grep -q "$VG/$leftover is a snapshot of $VG/origin left behind by an earlier snaphost run" \
    live.err && grep -q "snaphost --sweep $VG" live.err ||
    fail "the next run did not warn of the leftover"
ok "the next run warns and names snaphost --sweep $VG"
live_snapshot=$(snapshots_left | grep -vx "$leftover")

snaphost --sweep "$VG" >sweep.out 2>&1 && rc=0 || rc=$?
show sweep.out
[ $rc = 0 ] || fail "--sweep exited $rc"
lvs --noheadings -o lv_name "$VG" | tr -d ' ' | sort >after
printf '%s\n' handmade origin "$live_snapshot" | sort >expected
cmp -s after expected || { show after; fail "--sweep did not remove exactly the leftover"; }
ok "--sweep removed $leftover; the hand-made snapshot, the live run's and the origin stay"

kill -TERM $live
wait $live && rc=0 || rc=$?
[ $rc = 143 ] || fail "the live run ended with $rc after SIGTERM"
lvremove -q -f "$VG/handmade" >/dev/null

snaphost "$VG/origin" -- sh -c 'sleep 2' 2>one.err &
one=$!
snaphost "$VG/origin" -- sh -c 'sleep 2' 2>two.err &
two=$!
wait $one && rc1=0 || rc1=$?
wait $two && rc2=0 || rc2=$?
show one.err
show two.err
[ $rc1 = 0 ] && [ $rc2 = 0 ] || fail "two runs at once: exit codes $rc1 and $rc2"
ok "two runs on $VG at once both succeeded"
expect_no_snapshot "after the two runs"
