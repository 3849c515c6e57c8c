# Shared by the snaphost guest scenarios (tests/lvm-vm/scenarios/1*.sh), which source it from
# /usr/local/share/lvm-vm/ where run-vm-scenarios.sh puts it. busybox sh.

MIB=1048576
export VG

fail() {
    echo "FAIL: $*"
    exit 1
}
ok() { echo "ok: $*"; }

# Shows a file a check was made on, so a failure explains itself.
show() {  # FILE
    echo "--- $1:"
    sed 's/^/  | /' "$1"
}

# A text pattern file of COUNT MiB: when a check fails, a dump shows which pattern was read.
make_pattern() {  # TEXT COUNT_MIB FILE
    yes "$1" | head -c $(($2 * MIB)) >"$3"
}
file_hash() { sha256sum "$1" | cut -d' ' -f1; }
# Reads go to the device, not to pages cached while writing.
drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}
device_hash() {  # DEVICE COUNT_MIB
    dd if="$1" bs=$MIB count="$2" 2>/dev/null | sha256sum | cut -d' ' -f1
}

# The 4 MiB origin volume /dev/$VG/origin, filled with FILE (4 MiB).
make_origin() {  # FILE
    lvcreate -q -y -L 4M -n origin "$VG" >/dev/null || fail "lvcreate origin"
    origin=/dev/$VG/origin
    dd if="$1" of="$origin" bs=64k conv=fsync 2>/dev/null || fail "writing the origin"
    drop_caches
}

# Volumes the plug-in made and left behind, one name a line.
snapshots_left() {
    lvs --noheadings -o lv_name "$VG" 2>/dev/null | tr -d ' ' | grep '^bkpsnapshot_' || true
}
expect_no_snapshot() {  # WHAT
    left=$(snapshots_left)
    [ -z "$left" ] || fail "$1: snapshot volumes left: $left"
    if dmsetup ls | grep -q bkpsnapshot; then
        dmsetup ls
        fail "$1: device-mapper still has a snapshot device"
    fi
    ok "$1: no snapshot volume left (lvs, device-mapper)"
}

# rawhost's "KEY rc=N" lines.
rc_of() {  # KEY FILE
    sed -n "s/^$1 rc=\([-0-9]*\).*/\1/p" "$2" | head -n 1
}
device_of() {  # FILE
    sed -n 's/^start rc=[-0-9]* device=//p' "$1" | head -n 1
}

# The name the plug-in gives a snapshot taken at SECONDS since the epoch (local time, no
# leading zeros).
name_at() {  # SECONDS
    # shellcheck disable=SC2046 # six numbers
    set -- $(date -d "@$1" '+%m %d %Y %H %M %S')
    echo "bkpsnapshot_date_$((${1#0}))_$((${2#0}))_$3_time_$((${4#0})).$((${5#0})).$((${6#0}))"
}
