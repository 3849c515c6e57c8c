#!/bin/sh
# Raw LVM, no project code: a snapshot keeps showing the origin's old content after the
# origin is overwritten, and lvremove takes the snapshot away again. This proves the guest
# makes real copy-on-write snapshots before any scenario relies on it.
#
# Layout: the 4 MiB origin is filled with pattern A, then only its first 2 MiB are
# overwritten with pattern B, so both halves of the snapshot are checked: the copied one
# (0-2 MiB) and the one still shared with the origin (2-4 MiB).
set -eu

MIB=1048576
fail() {
    echo "FAIL: $*"
    exit 1
}
ok() { echo "ok: $*"; }

# Text patterns: when a check fails, the dump below shows which pattern was read.
pattern() { yes "$1" | head -c "$2"; }
# What a pattern-filled device holds from FIRST_MIB on: the pattern's period does not
# divide a MiB, so a region past the start is not the pattern's own start.
pattern_hash() {  # PATTERN FIRST_MIB COUNT_MIB
    pattern "$1" $((($2 + $3) * MIB)) | tail -c $(($3 * MIB)) | sha256sum | cut -d' ' -f1
}

# Reads go to the device, not to pages cached while writing.
device_hash() {  # DEVICE FIRST_MIB COUNT_MIB
    dd if="$1" bs=$MIB skip="$2" count="$3" 2>/dev/null | sha256sum | cut -d' ' -f1
}
expect_region() {  # DEVICE FIRST_MIB COUNT_MIB EXPECTED_HASH WHAT
    [ "$(device_hash "$1" "$2" "$3")" = "$4" ] && {
        ok "$5"
        return 0
    }
    echo "FAIL: $5; the region starts with:"
    dd if="$1" bs=$MIB skip="$2" count=1 2>/dev/null | head -c 64 | od -c | head -n 4
    exit 1
}
drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

A="origin-before-snapshot"
B="origin-after-snapshot"
origin=/dev/$VG/origin
snap=/dev/$VG/snap
# Hashing is slow under emulation: each expected region is hashed once.
A_all=$(pattern_hash "$A" 0 4)
A_low=$(pattern_hash "$A" 0 2)
A_high=$(pattern_hash "$A" 2 2)
B_low=$(pattern_hash "$B" 0 2)

lvcreate -y -L 4M -n origin "$VG"
pattern "$A" $((4 * MIB)) | dd of="$origin" bs=64k conv=fsync 2>/dev/null
drop_caches
expect_region "$origin" 0 4 "$A_all" "origin holds pattern A"

lvcreate -y -s -L 8M -n snap "$VG/origin"
[ -b "$snap" ] || fail "no device $snap after lvcreate -s"
[ "$(lvs --noheadings -o origin "$VG/snap" | tr -d ' ')" = origin ] ||
    fail "lvs does not show snap as a snapshot of origin"
expect_region "$snap" 0 4 "$A_all" "a new snapshot reads the origin's content"

pattern "$B" $((2 * MIB)) | dd of="$origin" bs=64k conv=fsync,notrunc 2>/dev/null
drop_caches
expect_region "$origin" 0 2 "$B_low" "overwritten origin half reads pattern B"
expect_region "$origin" 2 2 "$A_high" "untouched origin half still reads pattern A"
expect_region "$snap" 0 2 "$A_low" "snapshot keeps pattern A where the origin was overwritten"
expect_region "$snap" 2 2 "$A_high" "snapshot reads pattern A where the origin was not touched"

used=$(lvs --noheadings -o snap_percent "$VG/snap" | tr -d ' ')
case $used in
    '' | 0 | 0.00 | *[!0-9.]*) fail "snapshot reports no copied data (snap_percent '$used')" ;;
esac
ok "snapshot holds copied data ($used%)"

lvremove -f "$VG/snap"
[ -z "$(lvs --noheadings -o lv_name -S 'lv_name=snap' "$VG")" ] || fail "lvs still lists snap"
[ "$(lvs --noheadings -o lv_name "$VG" | tr -d ' ')" = origin ] ||
    fail "after lvremove the volume group should hold origin only"
[ ! -e "$snap" ] || fail "$snap is still there"
if dmsetup ls | grep -q "^$VG-snap"; then
    dmsetup ls
    fail "device-mapper still has a snapshot device"
fi
ok "lvremove took the snapshot and its devices away"

drop_caches
expect_region "$origin" 0 2 "$B_low" "origin keeps pattern B after the snapshot is gone"
expect_region "$origin" 2 2 "$A_high" "origin keeps pattern A in its other half"
