# Shared part of the fake volume manager commands; sourced by each of them, which set
# fakelvm_name first.
#
# Every call is appended to $FAKELVM_LOG as one line: the command's name and its arguments.
# The answer is chosen per command through the environment or through a control file
# ($FAKELVM_CONTROL, a shell fragment that is read on every call, so a test can change the answer
# between calls without touching its own environment):
#   FAKELVM_<CMD>_RC   exit status (default 0)
#   FAKELVM_<CMD>_ERR  text written to the error stream before exiting (default none)
# with <CMD> LVCREATE, LVREMOVE, LVS, VGS or LVCHANGE. Device nodes are plain files under
# $FAKELVM_DEV (default /dev), which the fakes write only inside the private namespace of
# run-in-namespace.sh, or when FAKELVM_DEV names another directory.
#
# A volume group is a directory $FAKELVM_DEV/<vg>. A node whose text starts with "snapshot of "
# is a snapshot (of the origin and size its text names); any other file is an ordinary volume
# of the file's size. What lvs shows beyond that lives beside the nodes, in $FAKELVM_STATE
# (default $FAKELVM_TMP/state, else $FAKELVM_DEV/.fakelvm-state), one file per volume and kind:
#   <vg>/<lv>.tags     one tag a line (lvchange --addtag writes it)
#   <vg>/<lv>.percent  a snapshot's fill level; 100 or more makes it invalid, as an overflow does
#   <vg>/<lv>.attr     the attribute field to show instead of the computed one
# Sizes: FAKELVM_EXTENT (bytes, default 4 MiB), FAKELVM_VG_SIZE (bytes, default 1 GiB); the
# free space is what the volumes' sizes, in whole extents, leave of it.

# The including script sets fakelvm_name; its arguments are still the positional parameters.
if [ -n "${FAKELVM_CONTROL:-}" ] && [ -r "$FAKELVM_CONTROL" ]; then
    . "$FAKELVM_CONTROL"
fi

fakelvm_log=${FAKELVM_LOG:-/dev/null}
fakelvm_dev=${FAKELVM_DEV:-/dev}
if [ -n "${FAKELVM_STATE:-}" ]; then
    fakelvm_state=$FAKELVM_STATE
elif [ -n "${FAKELVM_TMP:-}" ]; then
    fakelvm_state=$FAKELVM_TMP/state
else
    fakelvm_state=$fakelvm_dev/.fakelvm-state
fi
fakelvm_extent=${FAKELVM_EXTENT:-4194304}
printf '%s %s\n' "$fakelvm_name" "$*" >>"$fakelvm_log"

# The machine's own /dev is never written: only the namespace's tmpfs, or a directory of a test.
fakelvm_dev_writable() {
    [ "$fakelvm_dev" != /dev ] && return 0
    [ "${FAKELVM_INSIDE:-}" = 1 ] &&
        [ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ]
}

# Answers as the test asked; returns only when the command is to succeed.
fakelvm_answer() {
    fakelvm_rc=$1
    fakelvm_err=$2
    if [ -n "$fakelvm_err" ]; then
        printf '%s\n' "$fakelvm_err" >&2
    fi
    if [ "$fakelvm_rc" != 0 ]; then
        exit "$fakelvm_rc"
    fi
}

# Refuses a command line that the real command would refuse too, so a malformed line shows up
# as a failure in the caller's test.
fakelvm_usage() {
    printf '%s: %s\n' "$fakelvm_name" "$1" >&2
    exit 3
}

# The volume group and volume of a device path /dev/<vg>/<lv>.
fakelvm_vg_of() {
    case $1 in
        /dev/*/*) ;;
        *) fakelvm_usage "not a logical volume path: $1" ;;
    esac
    fakelvm_lv_of "${1#/dev/}"
}

# The same of <vg>/<lv>, with or without /dev/ before it.
fakelvm_lv_of() {
    fakelvm_rest=${1#/dev/}
    case $fakelvm_rest in
        /* | */*/* | */ | *//*) fakelvm_usage "not a logical volume: $1" ;;
        ?*/?*) ;;
        *) fakelvm_usage "not a logical volume: $1" ;;
    esac
    fakelvm_vg=${fakelvm_rest%%/*}
    fakelvm_lv=${fakelvm_rest#*/}
}

# Fails as the volume manager does when the volume group does not exist.
fakelvm_need_vg() {  # VG
    [ -d "$fakelvm_dev/$1" ] && return 0
    printf '  Volume group "%s" not found\n  Cannot process volume group %s\n' "$1" "$1" >&2
    exit 5
}

fakelvm_need_lv() {  # VG LV
    fakelvm_need_vg "$1"
    [ -f "$fakelvm_dev/$1/$2" ] && return 0
    printf '  Failed to find logical volume "%s/%s"\n' "$1" "$2" >&2
    exit 5
}

# Rounded up to whole extents.
fakelvm_extents() {  # BYTES
    echo $((($1 + fakelvm_extent - 1) / fakelvm_extent * fakelvm_extent))
}

# Facts of one volume: fakelvm_origin (empty unless a snapshot) and fakelvm_size (bytes).
fakelvm_read_lv() {  # VG LV
    fakelvm_origin=
    fakelvm_first=
    # An origin may be a large file of zeros: only a snapshot's node is read whole.
    if [ "$(head -c 12 "$fakelvm_dev/$1/$2" | tr -d '\000')" = "snapshot of " ]; then
        read -r fakelvm_first <"$fakelvm_dev/$1/$2"
    fi
    case $fakelvm_first in
        "snapshot of "*)
            fakelvm_origin=${fakelvm_first#snapshot of /dev/*/}
            fakelvm_origin=${fakelvm_origin%%,*}
            fakelvm_k=${fakelvm_first##*, }
            fakelvm_size=$(fakelvm_extents $((${fakelvm_k%K} * 1024)))
            ;;
        *) fakelvm_size=$(fakelvm_extents "$(wc -c <"$fakelvm_dev/$1/$2")") ;;
    esac
}

fakelvm_vg_free() {  # VG
    fakelvm_used=0
    for fakelvm_f in "$fakelvm_dev/$1"/*; do
        [ -f "$fakelvm_f" ] || continue
        fakelvm_read_lv "$1" "${fakelvm_f##*/}"
        fakelvm_used=$((fakelvm_used + fakelvm_size))
    done
    fakelvm_free=$((${FAKELVM_VG_SIZE:-1073741824} - fakelvm_used))
    [ $fakelvm_free -ge 0 ] || fakelvm_free=0
    echo $fakelvm_free
}

# Report options shared by lvs and vgs: only the machine-readable form is understood.
# Sets fakelvm_fields, fakelvm_sep, fakelvm_headings and the targets as fakelvm_targets.
fakelvm_report_options() {
    fakelvm_fields=
    fakelvm_sep=' '
    fakelvm_headings=1
    fakelvm_targets=
    while [ $# -gt 0 ]; do
        case $1 in
            --noheadings) fakelvm_headings=0; shift ;;
            --nosuffix) shift ;;
            --units)
                [ "${2:-}" = b ] || fakelvm_usage "only --units b is understood"
                shift 2 ;;
            --separator) [ $# -ge 2 ] || fakelvm_usage "--separator needs a value"
                fakelvm_sep=$2; shift 2 ;;
            -o | --options) [ $# -ge 2 ] || fakelvm_usage "-o needs fields"
                fakelvm_fields=$2; shift 2 ;;
            -*) fakelvm_usage "unexpected option: $1" ;;
            *) fakelvm_targets="$fakelvm_targets $1"; shift ;;
        esac
    done
    [ -n "$fakelvm_fields" ] || fakelvm_usage "no -o fields"
}

# Prints one report row: each field of fakelvm_fields through the function fakelvm_field.
fakelvm_row() {
    fakelvm_line=
    fakelvm_n=0
    fakelvm_ifs=$IFS
    IFS=,
    for fakelvm_name_of_field in $fakelvm_fields; do
        IFS=$fakelvm_ifs
        fakelvm_value=$(fakelvm_field "$fakelvm_name_of_field") || exit 3
        [ $fakelvm_n = 0 ] || fakelvm_line=$fakelvm_line$fakelvm_sep
        fakelvm_line=$fakelvm_line$fakelvm_value
        fakelvm_n=1
    done
    IFS=$fakelvm_ifs
    printf '  %s\n' "$fakelvm_line"
}
