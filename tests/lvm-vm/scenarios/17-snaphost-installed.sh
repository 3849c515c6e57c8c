#!/bin/sh
# snaphost as installed by cmake --install (under /opt/pisnp here): it finds the installed
# library without options and backs a volume up. And a size the volume group cannot hold is
# refused before lvcreate runs, with the numbers.
set -eu
# Put into the guest by tests/snaphost/run-vm-scenarios.sh; without it the shell stops here.
. /usr/local/share/lvm-vm/vm-common.sh

installed=/opt/pisnp/bin/snaphost
[ -x $installed ] || fail "no installed snaphost at $installed"
$installed --version >version.out 2>&1 || { show version.out; fail "--version failed"; }
show version.out
grep -q "^library: */opt/pisnp/lib/libPiSNP.so" version.out ||
    fail "the installed snaphost does not find the installed library"
ok "the installed snaphost finds /opt/pisnp's library"

make_pattern "installed" 4 a
make_origin a
$installed -v "$VG/origin" -- sh -c 'cmp "$1" a' sh {} 2>sh.err && rc=0 || rc=$?
show sh.err
[ $rc = 0 ] || fail "a backup with the installed snaphost: exit $rc"
grep -q "plug-in library /opt/pisnp/lib/libPiSNP.so" sh.err || fail "another library was used"
ok "a backup with the installed snaphost, no options: exit 0"
expect_no_snapshot "after the installed run"

$installed --trace trace --size 2G "$VG/origin" -- true 2>sh.err && rc=0 || rc=$?
show sh.err
[ $rc = 8 ] || fail "--size 2G: exit $rc, not 8"
grep -qE "needs 2.00 GiB .* but volume group $VG has only [0-9.]+ MiB free" sh.err ||
    fail "the refusal does not give the numbers"
! grep -q lvcreate trace || fail "lvcreate ran after all"
ok "--size 2G in a small volume group: refused before lvcreate, with the numbers"
expect_no_snapshot "after the refusal"
