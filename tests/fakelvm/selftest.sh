#!/bin/sh
# Checks the fake volume manager and its namespace: the fakes answer as asked, record their
# command lines and keep their nodes in the namespace's /dev, and the machine is left as it was.
# Usage: selftest.sh   (as root; exits 77 where the namespace cannot be made)
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
    vg=${FAKELVM_VG:-vg01}
    before_sbin=$(ls -l /sbin/lvcreate /sbin/lvremove 2>&1)
    before_vg=$(ls -A "/dev/$vg" 2>&1)
    sh "$here/run-in-namespace.sh" sh "$here/selftest.sh" --inside
    rc=$?
    [ $rc = 0 ] || exit $rc
    if [ "$(ls -l /sbin/lvcreate /sbin/lvremove 2>&1)" != "$before_sbin" ] ||
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

check "other programs of /sbin stay visible" "[ -x /sbin/lvm ] || [ -x /sbin/mount ] || [ -x /sbin/ldconfig ]"
check "only the fakes' lines are in the log" "[ \$(wc -l <\"\$FAKELVM_LOG\") = 9 ]"
exit $failed
