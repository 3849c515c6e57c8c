#!/usr/bin/env bash
# Checks the harness itself, so that a green run-vm.sh can be trusted: failures, hangs and
# leftovers of a scenario are reported as such, extra files (a program that dlopens a C++
# shared object by name) work in the guest, option errors stop before booting, and an
# interrupted run leaves neither qemu nor its temporary directory behind.
# Takes about a minute and a half under software emulation.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
t=$(mktemp -d /tmp/lvm-vm-selftest.XXXXXX)
trap 'rm -rf "$t"' EXIT
passes=0
failures=0
check() {  # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passes=$((passes + 1))
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
has_line() { grep -qxF -- "$1" "$2"; }
has_text() { grep -qF -- "$1" "$2"; }
lacks_text() { ! grep -qF -- "$1" "$2"; }
dir_empty() { [[ -z $(ls -A "$1") ]]; }

# --- files for the guest: a C program that dlopens a C++ library by its bare name -------------
mkdir -p "$t/src" "$t/scenarios" "$t/tmp"
cat >"$t/src/probe.cpp" <<'EOF'
#include <string>
extern "C" int probe_answer() { return static_cast<int>(std::string("forty-two!").size()) + 32; }
EOF
cat >"$t/src/loader.c" <<'EOF'
#include <dlfcn.h>
#include <stdio.h>
int main(void) {
    void *h = dlopen("libvmprobe.so", RTLD_NOW);
    if (!h) { fprintf(stderr, "%s\n", dlerror()); return 1; }
    int (*answer)(void) = (int (*)(void))dlsym(h, "probe_answer");
    if (!answer) { fprintf(stderr, "%s\n", dlerror()); return 1; }
    printf("answer %d\n", answer());
    return 0;
}
EOF
g++ -shared -fPIC -o "$t/src/libvmprobe.so" "$t/src/probe.cpp"
gcc -o "$t/src/vmloader" "$t/src/loader.c" -ldl
printf 'data for the guest\n' >"$t/src/notes.txt"

# --- scenarios --------------------------------------------------------------------------------
cat >"$t/scenarios/10-extras.sh" <<'EOF'
set -eu
[ "$(vmloader)" = "answer 42" ] || { echo "vmloader failed"; exit 1; }
[ "$(cat /opt/probe/notes.txt)" = "data for the guest" ] || { echo "no notes"; exit 1; }
[ "$(cat /usr/local/share/lvm-vm/notes.txt)" = "data for the guest" ] || exit 1
[ "$GREETING" = "hello world" ] || { echo "GREETING='$GREETING'"; exit 1; }
[ "$(pwd)" = "$WORKDIR" ] && [ "$SCENARIO" = 10-extras.sh ] || exit 1
# Leave state behind for the next scenario: a mounted snapshot of a volume.
lvcreate -q -y -L 4M -n keep "$VG" >/dev/null
lvcreate -q -y -s -L 4M -n keepsnap "$VG/keep" >/dev/null
mkdir -p mnt && mount -t tmpfs none mnt
echo "extras fine"
EOF
cat >"$t/scenarios/20-fresh.sh" <<'EOF'
set -eu
lvs=$(lvs --noheadings -o lv_name "$VG")
[ -z "$(echo $lvs)" ] || { echo "left over: $lvs"; exit 1; }
! grep -q " /tmp/scenario/" /proc/mounts || { echo "mount left over"; exit 1; }
[ -z "$(ls -A)" ] || { echo "own work directory not empty"; exit 1; }
vgs "$VG" >/dev/null
EOF
printf 'echo output-of-a-failing-scenario\nexit 3\n' >"$t/scenarios/30-fails.sh"
printf '# lvm-vm-timeout: 3\necho started\nsleep 600\n' >"$t/scenarios/40-hangs.sh"
printf 'echo after-the-hang\n' >"$t/scenarios/50-after.sh"
printf 'echo must-not-run\nexit 1\n' >"$t/scenarios/60-excluded.sh"

# --- one guest run with all of the above ------------------------------------------------------
echo "== guest run (about a minute) =="
rc=0
TMPDIR=$t/tmp bash "$here/run-vm.sh" --scenarios "$t/scenarios" \
    --add "$t/src/vmloader" --add "$t/src/libvmprobe.so" \
    --add "$t/src/notes.txt:/opt/probe/" --add "$t/src/notes.txt" \
    --env "GREETING=hello world" --scenario-timeout 60 \
    --only 10-extras --only 20-fresh.sh --only '[345]0-*' >"$t/out" 2>&1 || rc=$?
check "a failed run exits 1" [ "$rc" = 1 ]
check "extra files, libraries and variables reach the guest" has_text "PASS 10-extras.sh (" "$t/out"
check "each scenario starts with an empty VG and nothing mounted" \
    has_text "PASS 20-fresh.sh (" "$t/out"
check "a failing scenario is reported with its status" \
    has_text "FAIL 30-fails.sh (exit status 3" "$t/out"
check "a failing scenario's output is shown" \
    has_line "output-of-a-failing-scenario" "$t/out"
check "a hanging scenario is killed at its own limit" \
    has_text "FAIL 40-hangs.sh (killed at its time limit" "$t/out"
check "the run goes on after a killed scenario" has_text "PASS 50-after.sh (" "$t/out"
check "--only leaves other scenarios out" lacks_text "60-excluded" "$t/out"
check "the summary counts" has_line "3 passed, 2 failed" "$t/out"
check "a passing scenario's output is not shown" lacks_text "extras fine" "$t/out"
check "the work directory is removed" dir_empty "$t/tmp"

# --- option errors stop before any guest is started --------------------------------------------
rc=0
TMPDIR=$t/tmp bash "$here/run-vm.sh" --scenarios "$t/scenarios" --only nosuch >"$t/out" 2>&1 ||
    rc=$?
check "an unknown --only name is a usage error" [ "$rc" = 2 ]
check "it names the scenario" has_text "--only nosuch: no such scenario" "$t/out"
rc=0
TMPDIR=$t/tmp bash "$here/run-vm.sh" --add "$t/src/none" >"$t/out" 2>&1 || rc=$?
check "a missing --add file is a usage error" [ "$rc" = 2 ]
check "nothing is left behind after usage errors" dir_empty "$t/tmp"

# --- an interrupted run stops its guest and removes its files ---------------------------------
# Processes of a run are found by the run's directory in their command line; the brackets keep
# the pattern from matching the command line of grep itself.
processes_of_run() { grep -l -e "$t/tm[p]/" /proc/[0-9]*/cmdline 2>/dev/null | grep -q .; }
guest_running() { grep -l -e "$t/tm[p]/.*/initrd[.]cpio" /proc/[0-9]*/cmdline 2>/dev/null | grep -q .; }
interrupt() {  # SIGNAL EXPECTED_STATUS
    # Job control gives the run its own process group, as a terminal would; a background job
    # of a script would otherwise ignore SIGINT from the start, and such a signal cannot be
    # trapped at all.
    set -m
    TMPDIR=$t/tmp bash "$here/run-vm.sh" --scenarios "$t/scenarios" --only 40-hangs \
        >"$t/out" 2>&1 &
    local runner=$! seen=0 rc=0
    set +m
    for _ in $(seq 1 300); do
        if guest_running; then
            seen=1
            break
        fi
        sleep 0.1
    done
    check "SIG$1: the guest was started" [ "$seen" = 1 ]
    kill -"$1" "$runner"
    wait "$runner" || rc=$?
    check "SIG$1: the run exits $2" [ "$rc" = "$2" ]
    check "SIG$1: no process of the run is left" eval '! processes_of_run'
    check "SIG$1: the run's directory is removed" dir_empty "$t/tmp"
}
interrupt INT 130
interrupt TERM 143

echo "$passes passed, $failures failed"
((failures == 0))
