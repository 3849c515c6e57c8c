#!/bin/sh
# /init of the test guest (busybox sh). run-vm.sh puts it into the initramfs next to
# /etc/lvm-vm/run.conf, the selected scenario scripts and the kernel modules to load.
#
# The console (ttyS0) carries kernel messages and this script's progress; they can break a
# line anywhere. Everything the host has to parse goes to the second serial port (ttyS1)
# instead, and every marker line starts with the token of this run, so the host never takes
# output of a stale run or a scenario's own text for a result:
#   TOKEN SETUP ok | TOKEN SETUP-FAILED reason
#   TOKEN BEGIN name / (scenario output) / TOKEN END name rc|timeout seconds
#   TOKEN RESET-FAILED name     (state left by scenario name could not be cleared)
#   TOKEN DONE
# Whatever happens, the guest powers off: qemu runs with -no-reboot, so even a kernel panic
# (panic=-1) ends the run instead of hanging until the host's time limit.

PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /run/lock/lvm /run/lvm
exec </dev/console >/dev/console 2>&1

# shellcheck disable=SC1091 # written by run-vm.sh
. /etc/lvm-vm/run.conf

halt_now() {
    exec 3>&-  # the last close of the port waits until its output has left the guest
    sync
    poweroff -f
    sleep 5
}

uptime_cs() {  # hundredths of a second since boot
    read -r up _ </proc/uptime
    echo "${up%.*}${up#*.}"
}

if ! exec 3>/dev/ttyS1; then
    echo "lvm-vm: no second serial port; cannot report"
    halt_now
fi
say() { printf '\n%s %s\n' "$TOKEN" "$*" >&3; }

setup_failed() {
    echo "lvm-vm: setup failed: $*"
    say "SETUP-FAILED $*"
    halt_now
}

echo "lvm-vm: loading modules"
while read -r mod; do
    [ -n "$mod" ] || continue
    insmod "/lib/modules/lvm-vm/$mod" || setup_failed "insmod $mod"
done </lib/modules/lvm-vm/load-order

i=0
while [ ! -b "$PV" ]; do
    i=$((i + 1))
    [ $i -le 100 ] || setup_failed "disk $PV did not appear"
    sleep 0.1
done

make_vg() {
    dd if=/dev/zero of="$PV" bs=1M count=1 conv=fsync 2>/dev/null &&
        pvcreate -q -y "$PV" >/dev/null && vgcreate -q "$VG" "$PV" >/dev/null
}
echo "lvm-vm: creating volume group $VG on $PV"
make_vg 3>&- || setup_failed "pvcreate/vgcreate $VG on $PV"

# The mounts that exist now are the baseline; anything a scenario mounts is undone after it.
# (/proc/mounts escapes blanks in mount points, so a mount point is one word.)
base_mounts=" $(cut -d' ' -f2 /proc/mounts | tr '\n' ' ') "

# Leaves the machine as the next scenario expects it: nothing mounted by a scenario and an
# empty volume group (lvremove -f takes an origin's snapshots with it).
reset_state() {
    # shellcheck disable=SC2013 # one word per mount point, see above
    for m in $(cut -d' ' -f2 /proc/mounts | sort -r); do
        case $base_mounts in *" $m "*) continue ;; esac
        umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null
    done
    [ -z "$(lvs --noheadings -o lv_name "$VG" 2>/dev/null | tr -d ' \n')" ] &&
        vgs "$VG" >/dev/null 2>&1 && return 0
    lvremove -q -f -y "$VG" >/dev/null 2>&1
    [ -z "$(lvs --noheadings -o lv_name "$VG" 2>/dev/null | tr -d ' \n')" ] &&
        vgs "$VG" >/dev/null 2>&1 && return 0
    # Last resort: throw the volume group away and make it again.
    dmsetup remove_all -f >/dev/null 2>&1
    vgremove -q -ff -y "$VG" >/dev/null 2>&1
    pvremove -q -ff -y "$PV" >/dev/null 2>&1
    make_vg
}

say "SETUP ok"
echo "lvm-vm: running scenarios"
prev=""
while read -r name; do
    [ -n "$name" ] || continue
    if [ -n "$prev" ] && ! reset_state 3>&-; then
        say "RESET-FAILED $prev"
        break
    fi
    prev=$name
    work=/tmp/scenario/$name
    mkdir -p "$work"
    # A scenario may ask for its own limit with a line "# lvm-vm-timeout: SECONDS".
    limit=$(sed -n 's/^# lvm-vm-timeout: *\([0-9][0-9]*\).*/\1/p' "/scenarios/$name" | head -n 1)
    [ -n "$limit" ] || limit=$SCENARIO_TIMEOUT
    say "BEGIN $name"
    start=$(uptime_cs)
    (
        cd "$work" || exit 1
        set -a
        # shellcheck disable=SC1091 # written by run-vm.sh
        [ -f /etc/lvm-vm/env ] && . /etc/lvm-vm/env
        set +a
        export SCENARIO="$name" WORKDIR="$work"
        exec timeout -s KILL "$limit" sh "/scenarios/$name" </dev/null >&3 2>&1 3>&-
    )
    rc=$?
    end=$(uptime_cs)
    cs=$((end - start))
    secs=$((cs / 100)).$(printf '%02d' $((cs % 100)))
    if [ $rc -eq 137 ] && [ $cs -ge $((limit * 100)) ]; then
        rc=timeout
    fi
    echo "lvm-vm: $name: $rc"
    say "END $name $rc $secs"
done </scenarios/order

say "DONE"
echo "lvm-vm: done"
halt_now
