#!/bin/sh
# Checks the fake volume manager and its namespace: the fakes answer as asked, record their
# command lines and keep their nodes in the namespace's /dev, and the machine is left as it was.
# Usage: selftest.sh   (as root; exits 77 where the namespace cannot be made)
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
    vg=${FAKELVM_VG:-vg01}
    fakes="/sbin/lvcreate /sbin/lvremove /sbin/lvs /sbin/vgs /sbin/lvchange"
    before_sbin=$(ls -l $fakes 2>&1)
    before_vg=$(ls -A "/dev/$vg" 2>&1)
    sh "$here/run-in-namespace.sh" sh "$here/selftest.sh" --inside
    rc=$?
    [ $rc = 0 ] || exit $rc
    if [ "$(ls -l $fakes 2>&1)" != "$before_sbin" ] ||
        [ "$(ls -A "/dev/$vg" 2>&1)" != "$before_vg" ]; then
        echo "FAIL: the machine's /sbin or /dev/$vg changed"
        exit 1
    fi
    echo "machine unchanged"
    exit 0
fi

failed=0
check() {
    if eval "$2"; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        failed=1
    fi
}
vg=$FAKELVM_VG
node=/dev/$vg/snap_a

out=$(/sbin/lvcreate -L 1048576K -n snap_a -s "/dev/$vg/lv_home" 2>&1)
check "lvcreate succeeds and makes the node" "[ \$? = 0 ] && [ -f $node ]"
check "lvcreate records its command line" \
    "grep -qx 'lvcreate -L 1048576K -n snap_a -s /dev/$vg/lv_home' \"\$FAKELVM_LOG\""

/sbin/lvcreate -L 8K -n snap_a -s "/dev/$vg/lv_home" 2>"$FAKELVM_TMP/err"
check "lvcreate refuses an existing name" "[ \$? = 5 ] && grep -q 'already exists' \"\$FAKELVM_TMP/err\""

/sbin/lvcreate -L 8K -n snap_b -s /dev/novg/lv 2>/dev/null
check "lvcreate refuses an unknown volume group" "[ \$? = 5 ] && [ ! -e /dev/novg ]"

/sbin/lvcreate -L 8 -n snap_b -s "/dev/$vg/lv" 2>/dev/null
check "lvcreate refuses a size without K" "[ \$? = 3 ]"

FAKELVM_LVCREATE_RC=5 FAKELVM_LVCREATE_ERR='  Insufficient free space' \
    /sbin/lvcreate -L 8K -n snap_b -s "/dev/$vg/lv" 2>"$FAKELVM_TMP/err"
check "lvcreate fails as the environment asks" \
    "[ \$? = 5 ] && grep -qx '  Insufficient free space' \"\$FAKELVM_TMP/err\" && [ ! -e /dev/$vg/snap_b ]"

echo 'FAKELVM_LVREMOVE_RC=9; FAKELVM_LVREMOVE_ERR=busy' >"$FAKELVM_CONTROL"
/sbin/lvremove -f "$node" 2>"$FAKELVM_TMP/err"
check "lvremove fails as the control file asks" \
    "[ \$? = 9 ] && grep -qx busy \"\$FAKELVM_TMP/err\" && [ -f $node ]"
: >"$FAKELVM_CONTROL"

/sbin/lvremove -f "$node" >/dev/null
check "lvremove succeeds and deletes the node" "[ \$? = 0 ] && [ ! -e $node ]"
/sbin/lvremove -f "$node" 2>/dev/null
check "lvremove of a missing volume fails" "[ \$? = 5 ]"
/sbin/lvremove "$node" 2>/dev/null
check "lvremove needs -f" "[ \$? = 3 ]"

# The reports: an origin of 10 MiB (3 extents of 4 MiB: 12 MiB) and a snapshot of 1 MiB (1 extent) in a
# volume group of 64 MiB.
truncate -s 10M "/dev/$vg/lv_home"
/sbin/lvcreate -L 1024K -n snap_c -s "/dev/$vg/lv_home" >/dev/null
report() { /sbin/lvs --noheadings --nosuffix --units b --separator '|' -o "$@"; }
echo 'FAKELVM_VG_SIZE=67108864' >"$FAKELVM_CONTROL"
check "lvs shows origin and snapshot, sizes in whole extents, the free space left" \
    "[ \"\$(report lv_name,lv_size,lv_attr,origin,data_percent,vg_free $vg)\" = \
       \"  lv_home|12582912|owi-a-s---|||50331648
  snap_c|4194304|swi-a-s---|lv_home|0.00|50331648\" ]"
check "vgs shows the same free space" \
    "[ \"\$(/sbin/vgs --noheadings --nosuffix --units b --separator '|' -o vg_free,vg_extent_size $vg)\" = \
       '  50331648|4194304' ]"
/sbin/lvchange --addtag 'owner:a=b/c' "$vg/snap_c" >/dev/null &&
    /sbin/lvchange --addtag second "/dev/$vg/snap_c" >/dev/null
check "lvchange adds tags that lvs lists" \
    "[ \"\$(report lv_tags $vg/snap_c)\" = '  owner:a=b/c,second' ]"
/sbin/lvchange --addtag 'bad@tag' "$vg/snap_c" 2>/dev/null
check "lvchange refuses a character tags cannot hold" "[ \$? = 3 ]"
echo 100 >"$FAKELVM_STATE/$vg/snap_c.percent"
check "a snapshot filled to 100 % reads as invalid" \
    "[ \"\$(report lv_attr,data_percent $vg/snap_c)\" = '  swi-I-s---|100.00' ]"
/sbin/lvs --noheadings -o lv_name "$vg/nosuch" 2>"$FAKELVM_TMP/err"
check "lvs of a missing volume fails with the volume manager's words" \
    "[ \$? = 5 ] && grep -q 'Failed to find logical volume \"$vg/nosuch\"' \"\$FAKELVM_TMP/err\""
/sbin/lvremove -f "$vg/snap_c" >/dev/null
check "lvremove of VG/LV deletes the node and its state" \
    "[ ! -e /dev/$vg/snap_c ] && [ -z \"\$(ls \"\$FAKELVM_STATE/$vg\")\" ]"
: >"$FAKELVM_CONTROL"

check "other programs of /sbin stay visible" "[ -x /sbin/lvm ] || [ -x /sbin/mount ] || [ -x /sbin/ldconfig ]"
check "only the fakes' lines are in the log" "[ \$(wc -l <\"\$FAKELVM_LOG\") = 19 ]"
exit $failed
