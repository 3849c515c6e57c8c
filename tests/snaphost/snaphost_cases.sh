#!/bin/sh
# snaphost end to end with the real library and the fake volume manager.
# Usage: snaphost_cases.sh GROUP SNAPHOST LIBRARY
#   GROUP: help | args | success | failures | signals | watch | leftovers | dry_run
# Every group but help runs in a private mount namespace (tests/fakelvm/run-in-namespace.sh), with
# a 40 MiB file standing in for the origin /dev/vg01/home; it exits 77 where that is not possible.
#
# The pre, post and backup commands of the cases append a line to the fake volume manager's log,
# so the log shows the order of everything that happened: commands and volume manager calls.
# JSON results are read with a JSON parser (python3), never searched as text.
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
out_has() { grep -qF -- "$1" "$work/out"; }
# True when the JSON document in FILE satisfies the Python expression EXPR on it (d).
json_ok() {  # FILE EXPR
    python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
sys.exit(0 if eval("(" + sys.argv[2] + ")") else 1)' "$1" "$2"
}

# ---- help and version: nothing is looked at, no namespace needed ----

if [ "$group" = help ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    run --help
    check "--help explains the call, {}, the sizes, the watch, the sweep and every exit code" \
        '[ $rc = 0 ] &&
         grep -q "^Usage: snaphost \[OPTION\]... VOLUME \[--\] COMMAND" "$work/out" &&
         out_has "\"{}\" is replaced by the snapshot" && out_has SNAPHOST_DEVICE &&
         out_has "--size=SIZE" && out_has "512M, 2G" && out_has "--dry-run" &&
         out_has "--json[=FILE]" && out_has "--sweep=VG" && out_has "fill level" &&
         [ "$(grep -cE "^ +([0-9]+|128\+N)  " "$work/out")" = 15 ] &&
         [ "$(awk "length > 79" "$work/out")" = "" ] && [ ! -s "$work/err" ]'
    help_codes=$(sed -nE 's/^ +([0-9]+|128\+N)  .*/\1/p' "$work/out" | sort)
    manual=$here/../../tools/snaphost/snaphost.1.md
    man_codes=$(sed -n '/^# EXIT STATUS/,/^# ENV/s/^\*\*\([0-9N+]*\)\*\*$/\1/p' "$manual" | sort)
    check "the manual page's source lists the same exit codes as --help" \
        '[ -n "$help_codes" ] && [ "$help_codes" = "$man_codes" ]'
    run --version
    check "--version names the version and the library it would load" \
        '[ $rc = 0 ] && grep -q "^snaphost [0-9]" "$work/out" &&
         grep -q "^library: *$(readlink -f "$library")" "$work/out"'
    "$snaphost" --version -l /nonexistent/libPiSNP.so >"$work/out" 2>&1
    check "--version without a library says how to point at one" \
        'out_has "not found" && out_has "--library PATH or SNAPHOST_LIBRARY=PATH"'
    exit $failed
fi

# ---- inside the namespace ----

vg=$FAKELVM_VG
origin=/dev/$vg/home
work=$FAKELVM_TMP/work
mkdir -p "$work"
truncate -s 40M "$origin"

reset() {
    : >"$FAKELVM_LOG"
    : >"$FAKELVM_CONTROL"
}
# The snapshot name from the logged lvcreate line (empty when there was none).
snapshot_name() { sed -n 's/^lvcreate .* -n \([^ ]*\) .*/\1/p' "$FAKELVM_LOG" | head -n 1; }
logged() { grep -qxF -- "$1" "$FAKELVM_LOG"; }
logged_like() { grep -q -- "$1" "$FAKELVM_LOG"; }
# Nothing but queries reached the volume manager.
only_queries() { ! grep -qvE '^(lvs|vgs) ' "$FAKELVM_LOG"; }
only_origin_left() { [ "$(ls "/dev/$vg")" = home ]; }
# A process that is gone or only waits to be reaped (its parent died; init reaps it when it can).
ended() { [ ! -e "/proc/$1" ] || [ "$(cut -d' ' -f3 "/proc/$1/stat")" = Z ]; }
wait_for() {  # CONDITION [TENTHS]
    i=0
    while ! eval "$1" && [ $i -lt "${2:-100}" ]; do
        sleep 0.1
        i=$((i + 1))
    done
    eval "$1"
}
wait_logged() { wait_for "logged '$1'"; }
# For backup commands: "$fill" DEVICE PERCENT sets the fill level lvs shows for the snapshot.
fill=$work/fill
printf '#!/bin/sh\necho "$2" >"$FAKELVM_STATE/${1#/dev/}.percent"\n' >"$fill"
chmod +x "$fill"

case $group in
args)
    # Command lines that work: options anywhere before "--", the command after VOLUME.
    # Each row: the lvcreate size expected, then the arguments (COMMAND logs "ran").
    ran='sh -c "echo ran >>\"\$FAKELVM_LOG\""'
    while read -r size args; do
        reset
        eval "run $args"
        check "accepted: $args -> lvcreate -L $size, the command runs" \
            '[ $rc = 0 ] && logged_like "^lvcreate -L $size " && logged ran &&
             logged_like "^lvremove "'
    done <<EOF
8192K vg01/home --size 20 -- $ran
8192K --size 20 vg01/home $ran
8192K vg01/home -s 20% $ran
8192K -s20 -q vg01/home -- $ran
524288K vg01/home --size=512M -- $ran
2048K /dev/vg01/home -s 2m -v -v -- $ran
4096K vg01/home -- $ran --size 20
4096K vg01/home $ran -s 20
EOF

    # Mistakes: refused with exit 2 before the volume manager is even asked.
    while IFS='|' read -r message args; do
        reset
        eval "run $args"
        check "refused: $args" \
            '[ $rc = 2 ] && err_has "$message" && err_has "snaphost --help" &&
             [ ! -s "$FAKELVM_LOG" ] && only_origin_left'
    done <<'EOF'
no volume given|
no backup command given after vg01/home|vg01/home
no backup command given after vg01/home|vg01/home --size 20
option --size needs a value|vg01/home --size -- true
unknown option --sise|vg01/home --sise 20 -- true
unknown option -x|vg01/home -x true
option --verbose takes no value|--verbose=2 vg01/home -- true
option --size is given twice|--size 10 vg01/home --size 20 -- true
-q and -v contradict each other|-q vg01/home -v -- true
the backup command is an empty word|vg01/home -- ''
--size takes a percentage of the volume from 1 to 100|vg01/home --size 0 -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size 101 -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size 512 -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size -5 -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size 10x -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size 0M -- true
--size takes a percentage of the volume from 1 to 100|vg01/home --size 2.5% -- true
not a logical volume|/dev/mapper/vg01-home -- true
not a logical volume|/dev/vg01 -- true
not a logical volume|vg01/home/x -- true
not a logical volume|'vg01/home;reboot' -- true
not a logical volume|vg01/-x -- true
--sweep takes no VOLUME|--sweep vg01 vg01/home -- true
--sweep takes no VOLUME|vg01/home --sweep vg01
--size has no meaning with --sweep|--sweep vg01 --size 20
not a volume group|--sweep 'vg01;x'
cannot open the trace file|--trace /nonexistent/dir/trace vg01/home -- true
EOF

    reset
    echo kept >"$work/victim"
    ln -s "$work/victim" "$work/linked-trace"
    ln -s "$work/never-made" "$work/dangling-trace"
    run --trace "$work/linked-trace" vg01/home -- true
    rc_linked=$rc
    run --trace "$work/dangling-trace" vg01/home -- true
    check "--trace refuses a symbolic link, dangling or not, and writes through neither" \
        '[ $rc_linked = 2 ] && [ $rc = 2 ] && err_has "is a symbolic link" &&
         [ "$(cat "$work/victim")" = kept ] && [ ! -e "$work/never-made" ] &&
         [ ! -s "$FAKELVM_LOG" ]'
    reset
    "$snaphost" -l /nonexistent/libPiSNP.so vg01/home true >"$work/out" 2>"$work/err"
    rc=$?
    check "a library that cannot be loaded: exit 3, naming the path and how to give another" \
        '[ $rc = 3 ] && err_has "could not be loaded" && err_has /nonexistent/libPiSNP.so &&
         err_has "--library PATH or SNAPHOST_LIBRARY=PATH" && [ ! -s "$FAKELVM_LOG" ]'
    reset
    run vg01/nolv -- true
    check "a volume that does not exist: exit 4, naming it; nothing created" \
        '[ $rc = 4 ] && err_has "there is no logical volume nolv in volume group vg01" &&
         only_queries'
    reset
    run novg/lv -- true
    check "a volume group that does not exist: exit 4 with the volume manager's words" \
        '[ $rc = 4 ] && err_has "Volume group \"novg\" not found" && only_queries'
    reset
    run vg01/home -- /nonexistent/backup-tool {}
    check "a backup command that cannot start: exit 10 before anything is created" \
        '[ $rc = 10 ] && err_has "/nonexistent/backup-tool: no such executable file" &&
         err_has "nothing was created" && only_queries'
    reset
    run --json vg01/home
    check "a wrong command line with --json still gives a JSON result" \
        '[ $rc = 2 ] && json_ok "$work/out" \
            "d[\"exit_code\"] == 2 and \"no backup command\" in d[\"error\"]"'
    ;;

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
    tag=$(sed -n "s|^lvchange --addtag \(snaphost-run:[^ ]*\) $vg/$name\$|\1|p" "$FAKELVM_LOG")
    grep -vE '^(lvs|vgs|lvchange) ' "$FAKELVM_LOG" >"$work/order"
    cat >"$work/expected" <<EOF
pre origin=$origin
lvcreate -L 4096K -n $name -s $origin
post device=$dev
backup $dev if=$dev env=$dev
lvremove -f $dev
EOF
    check "in order: pre, lvcreate 4096K (10 % of 40 MiB), post, backup ({}, env), lvremove" \
        'cmp -s "$work/expected" "$work/order"'
    check "the snapshot was tagged with this run's host, boot, process and start" \
        'echo "$tag" | grep -qE "^snaphost-run:host=[^:]+:boot=[0-9a-f-]+:ns=[0-9]+:pid=[0-9]+:start=[0-9]+$" &&
         [ "$(grep -n "^lvchange" "$FAKELVM_LOG" | cut -d: -f1)" -lt \
           "$(grep -n "^post" "$FAKELVM_LOG" | cut -d: -f1)" ]'
    check "the backup command read the snapshot device while it existed" \
        '[ "$(cat "$work/copy")" = "snapshot of $origin, 4096K" ]'
    check "standard output is the backup command's; standard error the peak fill alone" \
        '[ "$(cat "$work/out")" = "read the snapshot" ] && [ "$(wc -l <"$work/err")" = 1 ] &&
         err_has "the snapshot (4.00 MiB) was at most 0.0 % full during the backup"'
    check "nothing but the origin is left in the volume group" only_origin_left

    reset
    run -v -s 25 --trace "$work/trace" --json="$work/result.json" "$vg/home" -- \
        sh -c '"$0" "$1" 35; sleep 0.8; "$0" "$1" 75; sleep 0.8' "$fill" {}
    name=$(snapshot_name)
    check "VG/LV form and --size 25: exit 0, lvcreate asks for 10240K" \
        '[ $rc = 0 ] && logged "lvcreate -L 10240K -n $name -s $origin" &&
         logged "lvremove -f /dev/$vg/$name"'
    check "the fill level is shown as it grows (plain lines off a terminal), and its peak" \
        'err_has "snapshot 30 % full (of 12.00 MiB)" && err_has "snapshot 70 % full" &&
         err_has "was at most 75.0 % full"'
    check "--verbose reports the snapshot's creation and removal" \
        'err_has "snapshot /dev/$vg/$name of $origin created" &&
         err_has "snapshot /dev/$vg/$name removed"'
    check "--trace holds snaphost's stages, its commands and the plug-in's own lines" \
        'grep -q "report.cpp:[0-9]* stage: create" "$work/trace" &&
         grep -q "running: /sbin/lvchange --addtag" "$work/trace" &&
         grep -q "lvcreate -L 10240K" "$work/trace" &&
         grep -q "bkpTerminateSnapshot" "$work/trace" &&
         grep -q "lvmSnapshotOps.cpp:[0-9]" "$work/trace"'
    check "--json=FILE: the result with every stage in order, the peak, no error" \
        'json_ok "$work/result.json" "d[\"exit_code\"] == 0 and d[\"error\"] is None and
            d[\"volume\"] == \"$origin\" and d[\"snapshot\"] == \"/dev/$vg/$name\" and
            d[\"size_bytes\"] == 12582912 and d[\"size_requested\"] == \"25%\" and
            d[\"peak_fill_percent\"] == 75 and d[\"overflowed\"] is False and
            [s[\"stage\"] for s in d[\"stages\"]] == [\"load\", \"inspect\", \"start\",
                \"prepare\", \"pre\", \"create\", \"tag\", \"post\", \"backup\", \"end\",
                \"remove\", \"stop\"] and all(s[\"ok\"] and s[\"seconds\"] >= 0
                for s in d[\"stages\"]) and
            [s for s in d[\"stages\"] if s[\"stage\"] == \"backup\"][0][\"seconds\"] >= 1.5"'

    reset
    mkdir -p "$FAKELVM_STATE/$vg"
    echo Vwi-a-tz-- >"$FAKELVM_STATE/$vg/home.attr"
    run "$vg/home" -- true
    check "a thin volume: told before creating that the snapshot is a thick one" \
        '[ $rc = 0 ] && err_has "is a thin volume; the snapshot will be a thick one of 4.00 MiB"'
    rm -f "$FAKELVM_STATE/$vg/home.attr"
    ;;

failures)
    reset
    lvm_text='  Volume group "vg01" has insufficient free space (0 extents): 1 required.'
    printf 'FAKELVM_LVCREATE_RC=5\nFAKELVM_LVCREATE_ERR=%s\n' "'$lvm_text'" >"$FAKELVM_CONTROL"
    run --pre 'echo pre >>"$FAKELVM_LOG"' --post 'echo post >>"$FAKELVM_LOG"' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    check "lvcreate failing: exit 8, the stage named, lvcreate's own words, no internal numbers" \
        '[ $rc = 8 ] && err_has "creating the snapshot of vg01/home failed; lvcreate said:" &&
         err_has "${lvm_text#  }" && ! grep -qE "code|5250|status 5" "$work/err"'
    check "the post command still ran, to undo the pre command" 'logged pre && logged post'
    check "no backup, no tag and no lvremove of a snapshot that never was" \
        '! logged backup && ! logged_like "^lvremove" && ! logged_like "^lvchange" &&
         only_origin_left'
    run -v "$origin" -- true
    check "with -v the plug-in's code and message follow, and the catalog's text of it" \
        '[ $rc = 8 ] && err_has "failed (plug-in code 5); lvcreate said:" &&
         err_has "(plug-in message 5250, lvcreate exit status 5" &&
         err_has "ANS5250E The snapshot could not be created in DSnapshotProvider::startSnapshot()"'

    reset
    run "$origin" -- sh -c 'exit 3'
    name=$(snapshot_name)
    check "a failing backup command: exit 10 with its status, snapshot removed" \
        '[ $rc = 10 ] && err_has "the backup command failed: sh exited with status 3" &&
         logged "lvremove -f /dev/$vg/$name" && only_origin_left'

    reset
    echo "FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  Logical volume $vg/snap in use.'" \
        >"$FAKELVM_CONTROL"
    run "$origin" -- true
    name=$(snapshot_name)
    check "lvremove failing: exit 12, its words and how to remove the snapshot by hand" \
        '[ $rc = 12 ] && err_has "removing the snapshot vg01/$name failed; lvremove said:" &&
         err_has "Logical volume $vg/snap in use." && err_has "lvremove -f $vg/$name" &&
         ! err_has "1>/dev/null" && ! err_has "code 24"'
    rm -f "/dev/$vg/$name"

    reset
    echo "FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  busy'" >"$FAKELVM_CONTROL"
    run "$origin" -- false
    check "backup and removal both failing: exit 10, the first, and both reported" \
        '[ $rc = 10 ] && err_has "the backup command failed" &&
         err_has "removing the snapshot"'
    rm -f "/dev/$vg/$(snapshot_name)"

    reset
    echo "FAKELVM_LVCHANGE_RC=5; FAKELVM_LVCHANGE_ERR='  Cannot change tags.'" >"$FAKELVM_CONTROL"
    run "$origin" -- true
    check "a snapshot that cannot be tagged: a warning, and the run goes on to its end" \
        '[ $rc = 0 ] && err_has "could not be tagged" && err_has "Cannot change tags." &&
         logged_like "^lvremove" && only_origin_left'

    reset
    run --pre 'echo pre >>"$FAKELVM_LOG"; exit 4' --post 'echo post >>"$FAKELVM_LOG"' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    check "a failing pre command: exit 7 with its status; no snapshot; post still runs" \
        '[ $rc = 7 ] && err_has "the pre-snapshot command failed: it exited with status 4" &&
         logged pre && logged post && ! logged_like "^lvcreate" && ! logged backup'

    reset
    run --post 'echo post >>"$FAKELVM_LOG"; exit 6' \
        "$origin" -- sh -c 'echo backup >>"$FAKELVM_LOG"'
    name=$(snapshot_name)
    check "a failing post command: exit 9 with its status; no backup; snapshot removed" \
        '[ $rc = 9 ] && err_has "the post-snapshot command failed: it exited with status 6" &&
         logged post && ! logged backup && logged "lvremove -f /dev/$vg/$name" && only_origin_left'
    ;;

signals)
    for sig in TERM INT QUIT; do
        case $sig in TERM) expected=143 ;; INT) expected=130 ;; QUIT) expected=131 ;; esac
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
            wait_for 'logged_like "^lvremove"'
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

watch)
    reset
    start=$(date +%s)
    run --json="$work/result.json" "$origin" -- sh -c \
        '"$0" "$1" 40; sleep 0.7; "$0" "$1" 100; echo filled >>"$FAKELVM_LOG"; sleep 30 &
         echo $! >"$2"; wait' "$fill" {} "$work/sleeper"
    name=$(snapshot_name)
    check "an overflow during the backup: exit 14 within seconds, the command and what it started ended" \
        '[ $rc = 14 ] && [ $(($(date +%s) - start)) -lt 10 ] && ended "$(cat "$work/sleeper")"'
    check "the overflow is explained with the snapshot's size and a size to try" \
        'err_has "the snapshot overflowed: more than its 4.00 MiB of changes were written to vg01/home" &&
         err_has "The backup command was ended and the snapshot removed." &&
         err_has "Try a larger snapshot: --size 16M (volume group vg01 has"'
    check "the snapshot is removed after an overflow" \
        'logged "lvremove -f /dev/$vg/$name" && only_origin_left'
    check "the result says so: overflowed, peak 100 %, exit 14, the explanation" \
        'json_ok "$work/result.json" "d[\"exit_code\"] == 14 and d[\"overflowed\"] is True and
            d[\"peak_fill_percent\"] == 100 and \"overflowed\" in d[\"error\"] and
            [(s[\"stage\"], s[\"ok\"]) for s in d[\"stages\"][-4:]] == [(\"backup\", False),
                (\"end\", True), (\"remove\", True), (\"stop\", True)]"'

    reset
    run "$origin" -- sh -c '"$0" "$1" 100' "$fill" {}
    check "an overflow the command outran is still caught: exit 14, not a success" \
        '[ $rc = 14 ] && err_has "had finished already; its result must not be trusted" &&
         logged_like "^lvremove" && only_origin_left'

    reset
    run "$origin" -- sh -c '"$0" "$1" 100; echo "read error" >&2; exit 1' "$fill" {}
    check "a backup that failed because the snapshot overflowed: exit 14, the cause, above 10" \
        '[ $rc = 14 ] && err_has "the backup command failed" && err_has "overflowed"'

    reset
    printf 'FAKELVM_VG_SIZE=%s\n' $((56 * 1048576)) >"$FAKELVM_CONTROL"
    run -s 10M "$origin" -- sh -c '"$0" "$1" 100' "$fill" {}
    check "a size to try that does not fit: say that room has to be made first" \
        '[ $rc = 14 ] && err_has "--size 44M; volume group vg01 has only"'
    ;;

leftovers)
    # A run killed with SIGKILL leaves its snapshot; its guardian ends the backup command.
    reset
    "$snaphost" -l "$library" "$origin" -- sh -c \
        'sleep 60 & echo $! >"$0/sleeper"; echo started >>"$FAKELVM_LOG"; wait' "$work" \
        >"$work/out" 2>"$work/err" &
    pid=$!
    wait_logged started
    kill -KILL $pid
    wait $pid 2>/dev/null
    left=$(snapshot_name)
    check "after kill -9 the backup command is ended all the same; the snapshot stays" \
        'wait_for "ended \"$(cat "$work/sleeper")\"" 150 && [ -f "/dev/$vg/$left" ]'

    # Beside it: a snapshot made by hand, one of another host's run, one of a live run.
    /sbin/lvcreate -L 4096K -n handmade -s "$origin" >/dev/null
    /sbin/lvcreate -L 4096K -n elsewhere -s "$origin" >/dev/null
    /sbin/lvchange --addtag snaphost-run:host=elsewhere:boot=b:ns=n:pid=1:start=1 "$vg/elsewhere" \
        >/dev/null
    reset
    "$snaphost" -l "$library" "$origin" -- sh -c \
        'echo live >>"$FAKELVM_LOG"; sleep 60' >"$work/live.out" 2>"$work/live.err" &
    live=$!
    wait_logged live
    live_name=$(snapshot_name)
    check "a run warns of the leftover of its volume, naming the command that sweeps it" \
        'grep -qF "vg01/$left is a snapshot of vg01/home left behind by an earlier snaphost run" \
             "$work/live.err" &&
         grep -qF "remove such leftovers with: snaphost --sweep vg01" "$work/live.err" &&
         ! grep -q handmade "$work/live.err"'

    reset
    run --sweep "$vg" --dry-run
    check "--sweep --dry-run names the leftover and removes nothing" \
        '[ $rc = 0 ] && out_has "would remove vg01/$left" && only_queries'

    reset
    run --sweep "/dev/$vg" --json
    check "--sweep removes exactly the leftover" \
        '[ $rc = 0 ] && [ "$(grep -c "^lvremove" "$FAKELVM_LOG")" = 1 ] &&
         logged "lvremove -f $vg/$left" && [ ! -e "/dev/$vg/$left" ] &&
         [ -f "/dev/$vg/handmade" ] && [ -f "/dev/$vg/elsewhere" ] &&
         [ -f "/dev/$vg/$live_name" ] && [ -f "$origin" ]'
    check "--sweep --json: removed the leftover, kept the live run's and the other host's" \
        'json_ok "$work/out" "d[\"action\"] == \"sweep\" and d[\"exit_code\"] == 0 and
            d[\"removed\"] == [\"/dev/$vg/$left\"] and d[\"failed\"] == [] and
            sorted(d[\"kept\"]) == sorted([\"/dev/$vg/elsewhere\", \"/dev/$vg/$live_name\"])"'
    check "the other host's snapshot is named as one that can only be judged there" \
        'err_has "kept vg01/elsewhere" && err_has "can only be seen on elsewhere"'
    kill -TERM $live
    wait $live

    # Two runs on one volume group at once: each makes, uses and removes its own snapshot.
    reset
    for n in 1 2; do
        "$snaphost" -l "$library" "$origin" -- sh -c 'echo "backup $0 $1" >>"$FAKELVM_LOG"
            sleep 1' $n {} >"$work/out$n" 2>"$work/err$n" &
        eval "pid$n=\$!"
    done
    wait $pid1
    rc1=$?
    wait $pid2
    rc2=$?
    names=$(sed -n 's/^lvcreate .* -n \([^ ]*\) .*/\1/p' "$FAKELVM_LOG" | sort -u)
    check "two runs at once on one volume group: both succeed with snapshots of their own" \
        '[ $rc1 = 0 ] && [ $rc2 = 0 ] && [ "$(echo "$names" | wc -l)" = 2 ] &&
         for n in $names; do logged_like "^backup [12] /dev/$vg/$n$" &&
             logged "lvremove -f /dev/$vg/$n" || exit 1; done'

    reset
    /sbin/lvcreate -L 4096K -n stuck -s "$origin" >/dev/null
    /sbin/lvchange --addtag "snaphost-run:host=$(hostname | tr -c 'A-Za-z0-9_+.=!&#/\n-' _):boot=old:ns=n:pid=1:start=1" \
        "$vg/stuck" >/dev/null
    echo "FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  Logical volume $vg/stuck in use.'" \
        >"$FAKELVM_CONTROL"
    run --sweep "$vg"
    check "a leftover that cannot be removed: exit 12 with lvremove's words" \
        '[ $rc = 12 ] && err_has "removing the leftover vg01/stuck failed; lvremove said:" &&
         err_has "in use"'
    check "no run's lock is left: runs that ended dropped theirs, the sweep the killed run's" \
        '[ -z "$(ls /run/snaphost | grep "^run-")" ]'
    ;;

dry_run)
    reset
    run --dry-run -s 512M "$vg/home" -- dd if={} of=/backup/home.img
    check "--dry-run: exit 0; shows the size and the lvcreate and lvremove lines" \
        '[ $rc = 0 ] && out_has "512.00 MiB asked for (--size 512M)" &&
         grep -qE "^  /sbin/lvcreate -L 524288K -n bkpsnapshot_[^ ]+ -s $origin$" "$work/out" &&
         grep -qE "^  /sbin/lvremove -f /dev/$vg/bkpsnapshot_" "$work/out" &&
         grep -qE "run the backup command: +dd if=/dev/$vg/bkpsnapshot_" "$work/out"'
    check "--dry-run changes nothing: only queries reach the volume manager" \
        'only_queries && only_origin_left'

    reset
    run --dry-run --json "$origin" -- true
    check "--dry-run --json: standard output is one JSON object; the plan goes to standard error" \
        '[ $rc = 0 ] && json_ok "$work/out" "d[\"dry_run\"] is True and d[\"exit_code\"] == 0
            and d[\"snapshot\"] is None and d[\"size_bytes\"] == 4194304 and
            any(c.startswith(\"/sbin/lvcreate -L 4096K \") for c in d[\"commands\"])" &&
         err_has "dry run: nothing is created" && only_queries'

    reset
    printf 'FAKELVM_VG_SIZE=%s\n' $((64 * 1048576)) >"$FAKELVM_CONTROL"
    for mode in --dry-run --verbose; do
        run "$mode" --size 2G "$origin" -- true
        check "--size 2G in a volume group with 24 MiB free ($mode): exit 8 before lvcreate, with the numbers" \
            '[ $rc = 8 ] &&
             err_has "the snapshot needs 2.00 GiB (--size 2G, in whole extents of 4.00 MiB), but volume group vg01 has only 24.00 MiB free" &&
             err_has "A snapshot never needs more than its volume (40.00 MiB)." &&
             err_has "At most --size 24M fits now" && only_queries'
    done

    reset
    mkdir -p "$FAKELVM_STATE/$vg"
    echo Vwi-a-tz-- >"$FAKELVM_STATE/$vg/home.attr"
    run --dry-run "$origin" -- true
    check "a thin volume: the dry run says the snapshot will be a thick one" \
        '[ $rc = 0 ] && out_has "a thin volume" && out_has "a thick snapshot" &&
         err_has "note: vg01/home is a thin volume"'
    rm -f "$FAKELVM_STATE/$vg/home.attr"
    ;;

*)
    echo "unknown group: $group"
    exit 2
    ;;
esac
exit $failed
