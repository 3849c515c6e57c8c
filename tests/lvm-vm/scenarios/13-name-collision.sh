#!/bin/sh
# A volume already carries the name the plug-in would give a snapshot in this second, and one
# the next second's: the plug-in pauses a second per taken name and takes the first free one.
# The decoys are made for two seconds a little ahead, and rawhost is started at the first.
# lvm-vm-timeout: 120
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

make_pattern "collision" 4 a
make_origin a

t0=$(($(date +%s) + 8))
decoy0=$(name_at $t0)
decoy1=$(name_at $((t0 + 1)))
for d in "$decoy0" "$decoy1"; do
    lvcreate -q -y -L 4M -n "$d" "$VG" >/dev/null || fail "lvcreate decoy $d"
done
ok "decoys $decoy0 and $decoy1 exist"
now=$(date +%s)
[ "$now" -lt "$t0" ] || fail "making the decoys took too long (now $now, first decoy's second $t0)"
while [ "$(date +%s)" -lt "$t0" ]; do sleep 0.05; done

rawhost "$origin" 'echo "$SNAPSHOT_DEVICE" >device' >host.out 2>host.err ||
    { show host.err; fail "rawhost stopped early"; }
show host.out
device=$(device_of host.out)
name=${device##*/}
[ "$(rc_of prepare host.out)" = 0 ] && [ "$(rc_of start host.out)" = 0 ] ||
    fail "prepare or start failed"
[ "$name" != "$decoy0" ] && [ "$name" != "$decoy1" ] ||
    fail "the plug-in took a decoy's name: $name"
# Two pauses of a second at least: the name is that of the second after the decoys, or one
# later when the pauses ran long.
case $name in
    "$(name_at $((t0 + 2)))" | "$(name_at $((t0 + 3)))")
        ok "the plug-in took the free name $name" ;;
    *) fail "unexpected name $name (decoys at $decoy0, $decoy1)" ;;
esac
[ "$(rc_of terminate host.out)" = 0 ] || fail "bkpTerminateSnapshot failed"
lvs --noheadings -o lv_name "$VG" | tr -d ' ' | sort >left
printf '%s\n' "$decoy0" "$decoy1" origin | sort >expected
cmp -s left expected || { show left; fail "the decoys and the origin should be all that is left"; }
ok "the decoys were left alone and the snapshot was removed"
