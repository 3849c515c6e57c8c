# Shared part of the fake volume manager commands; sourced by lvcreate and lvremove, which set
# fakelvm_name first.
#
# Every call is appended to $FAKELVM_LOG as one line: the command's name and its arguments.
# The answer is chosen per command through the environment or through a control file
# ($FAKELVM_CONTROL, a shell fragment that is read on every call, so a test can change the answer
# between calls without touching its own environment):
#   FAKELVM_<CMD>_RC   exit status (default 0)
#   FAKELVM_<CMD>_ERR  text written to the error stream before exiting (default none)
# with <CMD> LVCREATE or LVREMOVE. Device nodes are plain files under $FAKELVM_DEV (default /dev),
# which the fakes write only inside the private namespace of run-in-namespace.sh, or when
# FAKELVM_DEV names another directory.

# The including script sets fakelvm_name; its arguments are still the positional parameters.
if [ -n "${FAKELVM_CONTROL:-}" ] && [ -r "$FAKELVM_CONTROL" ]; then
    . "$FAKELVM_CONTROL"
fi

fakelvm_log=${FAKELVM_LOG:-/dev/null}
fakelvm_dev=${FAKELVM_DEV:-/dev}
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

# The volume group of a device path /dev/<vg>/<lv>.
fakelvm_vg_of() {
    case $1 in
        /dev/*/*) ;;
        *) fakelvm_usage "not a logical volume path: $1" ;;
    esac
    fakelvm_rest=${1#/dev/}
    fakelvm_vg=${fakelvm_rest%%/*}
    fakelvm_lv=${fakelvm_rest#*/}
    case $fakelvm_lv in
        '' | */*) fakelvm_usage "not a logical volume path: $1" ;;
    esac
}
