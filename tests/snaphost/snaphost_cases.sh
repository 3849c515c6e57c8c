#!/bin/sh
# snaphost end to end with the real library and the fake volume manager.
# Usage: snaphost_cases.sh GROUP SNAPHOST LIBRARY
#   GROUP: help | success | lvcreate_fails | cleanup | signals | pre_post
# Every group but help runs in a private mount namespace (tests/fakelvm/run-in-namespace.sh), with
# a 10 MiB file standing in for the origin /dev/vg01/home; it exits 77 where that is not possible.
#
# The pre, post and backup commands of the cases append a line to the fake volume manager's log,
# so the log shows the order of everything that happened: commands and volume manager calls.
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${2:-}" = --inside ]; then
    group=$1
    shift 2
else
    group=$1
    if [ "$group" != help ]; then
        exec sh "$here/../fakelvm/run-in-namespace.sh" sh "$0" "$group" --inside "$2" "$3"
    fi
    shift
fi
snaphost=$1
library=$2

failed=0
work=
rc=

check() {  # DESCRIPTION CONDITION
    if eval "$2"; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        failed=1
        for f in out err; do
            [ -s "$work/$f" ] && { echo "  --- snaphost std$f:"; sed 's/^/  | /' "$work/$f"; }
        done
        [ -n "${FAKELVM_LOG:-}" ] && { echo "  --- call log:"; sed 's/^/  | /' "$FAKELVM_LOG"; }
    fi
}

# Runs snaphost with the library under test; rc, $work/out and $work/err hold the outcome.
run() {
    "$snaphost" -l "$library" "$@" >"$work/out" 2>"$work/err"
    rc=$?
}

err_has() { grep -qF -- "$1" "$work/err"; }

# ---- help and the command line: nothing is created, no namespace needed ----

if [ "$group" = help ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    run --help
    check "--help succeeds and explains the call, {}, the variable and every exit code" \
        '[ $rc = 0 ] &&
         grep -q "^Usage: snaphost \[OPTION\]... VOLUME \[--\] COMMAND" "$work/out" &&
         grep -qF "\"{}\" is replaced by the snapshot" "$work/out" &&
         grep -q SNAPHOST_DEVICE "$work/out" && grep -q -- "--size=PERCENT" "$work/out" &&
         grep -q -- "--trace=FILE" "$work/out" && grep -q -- "--pre=COMMAND" "$work/out" &&
         [ "$(grep -cE "^ +([0-9]+|128\+N)  " "$work/out")" = 14 ] &&
         [ "$(awk "length > 79" "$work/out")" = "" ] && [ ! -s "$work/err" ]'

    run
    check "no arguments: exit 2 with a pointer to --help" \
        '[ $rc = 2 ] && err_has "no volume given" && err_has "snaphost --help"'
    run vg01/home
    check "no backup command: exit 2" '[ $rc = 2 ] && err_has "no backup command"'
    for size in 0 101 abc -5 10x; do
        run -s "$size" vg01/home true
        check "--size $size is refused with exit 2" \
            '[ $rc = 2 ] && err_has "percentage from 1 to 100"'
    done
    for volume in /dev/mapper/vg01-home /dev/vg01 vg01/home/x "vg01/home;reboot" vg01/-x; do
        run "$volume" true
        check "volume '$volume' is refused with exit 2" \
            '[ $rc = 2 ] && err_has "not a logical volume"'
    done
    run --bogus vg01/home true
    check "an unknown option is refused with exit 2" \
        '[ $rc = 2 ] && err_has "unknown option --bogus"'

    "$snaphost" -l /nonexistent/libPiSNP.so vg01/home true >"$work/out" 2>"$work/err"
    rc=$?
    check "a library that cannot be loaded: exit 3, naming the path" \
        '[ $rc = 3 ] && err_has "loading the plug-in library failed" &&
         err_has /nonexistent/libPiSNP.so'
    run novg-snaphost-test/nolv true
    check "a volume that does not exist: exit 4, naming it" \
        '[ $rc = 4 ] && err_has "cannot open /dev/novg-snaphost-test/nolv"'
    exit $failed
fi

# ---- inside the namespace ----

vg=$FAKELVM_VG
origin=/dev/$vg/home
work=$FAKELVM_TMP/work
mkdir -p "$work"
truncate -s 10M "$origin"

reset() {
    : >"$FAKELVM_LOG"
    : >"$FAKELVM_CONTROL"
}
# The snapshot name from the logged lvcreate line (empty when there was none).
snapshot_name() { sed -n 's/^lvcreate .* -n \([^ ]*\) .*/\1/p' "$FAKELVM_LOG" | head -n 1; }
logged() { grep -qxF -- "$1" "$FAKELVM_LOG"; }
logged_like() { grep -q -- "$1" "$FAKELVM_LOG"; }
only_origin_left() { [ "$(ls "/dev/$vg")" = home ]; }
# A process that is gone or only waits to be reaped (its parent died; init reaps it when it can).
ended() { [ ! -e "/proc/$1" ] || [ "$(cut -d' ' -f3 "/proc/$1/stat")" = Z ]; }
# Waits up to 10 s for the log to show LINE.
wait_logged() {
    i=0
    while ! logged "$1" && [ $i -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    logged "$1"
}

case $group in
success)
    reset
    run --pre 'echo "pre origin=$SNAPHOST_ORIGIN" >>"$FAKELVM_LOG"' \
        --post 'echo "post device=$SNAPHOST_DEVICE" >>"$FAKELVM_LOG"' \
        "$origin" -- sh -c 'echo "backup $1 $2 env=$SNAPHOST_DEVICE" >>"$FAKELVM_LOG"
                            cat "$1" >"$3"; echo "read the snapshot"' sh {} "if={}" "$work/copy"
    name=$(snapshot_name)
    dev=/dev/$vg/$name
    check "exit 0" '[ $rc = 0 ]'
    check "the snapshot is named after the date and time" \
        'echo "$name" |
         grep -qx "bkpsnapshot_date_[0-9]*_[0-9]*_20[0-9][0-9]_time_[0-9]*\.[0-9]*\.[0-9]*"'
    cat >"$work/expected" <<EOF
pre origin=$origin
lvcreate -L 1024K -n $name -s $origin
post device=$dev
backup $dev if=$dev env=$dev
lvremove -f $dev
EOF
    check "in order: pre, lvcreate 1024K (10 % of 10 MiB), post, backup ({}, env), lvremove" \
        'cmp -s "$work/expected" "$FAKELVM_LOG"'
    check "the backup command read the snapshot device while it existed" \
        '[ "$(cat "$work/copy")" = "snapshot of $origin, 1024K" ]'
    check "snaphost's standard output is the backup command's alone" \
        '[ "$(cat "$work/out")" = "read the snapshot" ] && [ ! -s "$work/err" ]'
    check "nothing but the origin is left in the volume group" only_origin_left

    reset
    run -v -s 25 --trace "$work/trace" "$vg/home" true
    name=$(snapshot_name)
    check "VG/LV form and --size 25: exit 0, lvcreate asks for 2560K" \
        '[ $rc = 0 ] && logged "lvcreate -L 2560K -n $name -s $origin" &&
         logged "lvremove -f /dev/$vg/$name"'
    check "--verbose reports the snapshot's creation and removal" \
        'err_has "snapshot /dev/$vg/$name of $origin created" &&
         err_has "snapshot /dev/$vg/$name removed"'
    check "--trace holds snaphost's stages and the plug-in's own lines" \
        'grep -q "snaphost.c:[0-9]* stage: creating the snapshot" "$work/trace" &&
         grep -q "lvcreate -L 2560K" "$work/trace" &&
         grep -q "bkpTerminateSnapshot" "$work/trace" &&
         [ "$(grep -vc "snaphost.c:" "$work/trace")" -gt 0 ]'
    ;;

lvcreate_fails)
    reset
    lvm_text='  Volume group "vg01" has insufficient free space (0 extents): 1 required.'
    printf 'FAKELVM_LVCREATE_RC=5\nFAKELVM_LVCREATE_ERR=%s\n' "'$lvm_text'" >"$FAKELVM_CONTROL"
    run --pre 'echo pre >>"$FAKELVM_LOG"' --post 'echo post >>"$FAKELVM_LOG"' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    check "exit 8, the stage named, the volume manager's own words shown" \
        '[ $rc = 8 ] && err_has "creating the snapshot failed" &&
         err_has "lvcreate ended with return code 5" && err_has "$lvm_text"'
    check "the post command still ran, to undo the pre command" 'logged pre && logged post'
    check "no backup and no lvremove of a snapshot that never was" \
        '! logged backup && ! logged_like "^lvremove" && only_origin_left'
    ;;

cleanup)
    reset
    run "$origin" -- sh -c 'exit 3'
    name=$(snapshot_name)
    check "a failing backup command: exit 10 with its status, snapshot removed" \
        '[ $rc = 10 ] && err_has "the backup command failed: sh exited with status 3" &&
         logged "lvremove -f /dev/$vg/$name" && only_origin_left'

    reset
    run "$origin" -- /nonexistent/backup-tool {}
    name=$(snapshot_name)
    check "a backup command that cannot start: exit 10 with the reason, snapshot removed" \
        '[ $rc = 10 ] && err_has "/nonexistent/backup-tool: No such file or directory" &&
         logged "lvremove -f /dev/$vg/$name" && only_origin_left'

    reset
    echo "FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  Logical volume $vg/snap in use.'" \
        >"$FAKELVM_CONTROL"
    run "$origin" -- true
    name=$(snapshot_name)
    check "lvremove failing: exit 12, its words and how to remove the snapshot by hand" \
        '[ $rc = 12 ] && err_has "removing the snapshot failed" &&
         err_has "Logical volume $vg/snap in use." && err_has "lvremove -f /dev/$vg/$name"'
    rm -f "/dev/$vg/$name"

    reset
    echo "FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  busy'" >"$FAKELVM_CONTROL"
    run "$origin" -- false
    check "backup and removal both failing: exit 10, the first, and both reported" \
        '[ $rc = 10 ] && err_has "the backup command failed" &&
         err_has "removing the snapshot failed"'
    rm -f "/dev/$vg/$(snapshot_name)"
    ;;

signals)
    for sig in TERM INT; do
        case $sig in TERM) expected=143 ;; INT) expected=130 ;; esac
        reset
        start=$(date +%s)
        "$snaphost" -l "$library" "$origin" -- sh -c \
            'sleep 30 & echo $! >"$0/sleeper"; echo started >>"$FAKELVM_LOG"; wait' "$work" \
            >"$work/out" 2>"$work/err" &
        pid=$!
        wait_logged started
        kill -$sig $pid
        wait $pid
        rc=$?
        name=$(snapshot_name)
        check "SIG$sig while the backup runs: exit $expected, snapshot removed, within seconds" \
            '[ $rc = $expected ] && err_has "interrupted by signal" &&
             logged "lvremove -f /dev/$vg/$name" && only_origin_left &&
             [ $(($(date +%s) - start)) -lt 10 ]'
        check "SIG$sig: what the backup command started is gone too" \
            'ended "$(cat "$work/sleeper")"'
    done

    # Ctrl-C at a terminal: snaphost hands the terminal to the backup command, so the key
    # reaches the command alone; its end by SIGINT stands for the whole run's interruption.
    if command -v script >/dev/null 2>&1; then
        reset
        cat >"$work/at-terminal.sh" <<EOF
"$snaphost" -l "$library" "$origin" -- sh -c 'echo started >>"\$FAKELVM_LOG"; sleep 30' \\
    2>"$work/err"
echo "rc=\$?" >"$work/out"
EOF
        {
            wait_logged started
            printf '\003'
            # Keeps the terminal's input open until snaphost is through.
            i=0
            while ! logged_like "^lvremove" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        } | script -qfec "sh $work/at-terminal.sh" /dev/null >/dev/null
        check "Ctrl-C at a terminal: exit 130, snapshot removed" \
            '[ "$(cat "$work/out")" = rc=130 ] && err_has "ended by signal 2" &&
             logged_like "^lvremove" && only_origin_left'
    else
        echo "skipped: Ctrl-C at a terminal (no script program to make one)"
    fi

    # A command that ignores the signal is killed at the second one.
    reset
    "$snaphost" -l "$library" "$origin" -- sh -c \
        'trap "" TERM; echo started >>"$FAKELVM_LOG"; sleep 60' >"$work/out" 2>"$work/err" &
    pid=$!
    wait_logged started
    kill -TERM $pid
    sleep 0.5
    kill -TERM $pid
    wait $pid
    rc=$?
    check "a backup command deaf to SIGTERM is killed at the second one; snapshot removed" \
        '[ $rc = 143 ] && logged_like "^lvremove" && only_origin_left'

    # A signal during the pre command lets it finish, then stops before the snapshot.
    reset
    "$snaphost" -l "$library" \
        --pre 'echo pre >>"$FAKELVM_LOG"; sleep 1; echo pre-done >>"$FAKELVM_LOG"' \
        --post 'echo post >>"$FAKELVM_LOG"' "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"' \
        >"$work/out" 2>"$work/err" &
    pid=$!
    wait_logged pre
    kill -TERM $pid
    wait $pid
    rc=$?
    check "SIGTERM during the pre command: it finishes, post runs, no snapshot, exit 143" \
        '[ $rc = 143 ] && logged pre-done && logged post && ! logged_like "^lvcreate" &&
         ! logged backup'
    ;;

pre_post)
    reset
    run --pre 'echo pre >>"$FAKELVM_LOG"; exit 4' --post 'echo post >>"$FAKELVM_LOG"' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    check "a failing pre command: exit 7 with its code; no snapshot; post still runs" \
        '[ $rc = 7 ] && err_has "the pre-snapshot command failed: it returned 4" &&
         logged pre && logged post && ! logged_like "^lvcreate" && ! logged backup'

    reset
    run --post 'echo post >>"$FAKELVM_LOG"; exit 6' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    name=$(snapshot_name)
    check "a failing post command: exit 9 with its code; no backup; snapshot removed" \
        '[ $rc = 9 ] && err_has "the post-snapshot command failed: it returned 6" &&
         logged post && ! logged backup && logged "lvremove -f /dev/$vg/$name" && only_origin_left'
    ;;

*)
    echo "unknown group: $group"
    exit 2
    ;;
esac
exit $failed
