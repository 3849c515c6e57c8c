#!/usr/bin/env bash
# Runs shell scenarios against real LVM in a throw-away virtual machine.
#
# The host kernel may lack device-mapper, so real snapshots are made in a small qemu guest
# instead: the distribution's kernel, a busybox initramfs with the lvm2 programs, and a sparse
# disk image that the guest turns into a volume group. Each scenario is a plain sh script run
# inside the guest; results come back on the guest's second serial port. Everything lives in
# a temporary directory that is removed at exit; the only lasting change to the machine is the
# packages installed when missing.
#
# Usage: run-vm.sh [options]   (run-vm.sh --help lists them)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prog=${0##*/}

usage() {
    cat <<EOF
Usage: $prog [options]
  --add FILE[:GUEST_PATH]  put FILE into the guest (repeatable). Dynamic executables and
                           shared objects bring the libraries ldd finds for them.
                           Without GUEST_PATH: *.so and *.so.N go to /usr/local/lib (in the
                           guest's loader cache), other executables to /usr/local/bin (on
                           PATH), anything else to /usr/local/share/lvm-vm. A GUEST_PATH
                           ending in / is a directory that keeps the file's name.
  --scenarios DIR          run the *.sh scripts of DIR in name order (repeatable; default:
                           $here/scenarios)
  --only NAME              run only scenario NAME (with or without .sh; shell patterns
                           allowed; repeatable)
  --env NAME=VALUE         set a variable for every scenario (repeatable)
  --module NAME            also load this kernel module (and what it depends on) in the guest
  --kernel VERSION         guest kernel (default: the newest installed /boot/vmlinuz-*)
  --scenario-timeout SECS  time limit of one scenario inside the guest (default 120; a
                           scenario's line "# lvm-vm-timeout: SECS" overrides it)
  --timeout SECS           time limit of the whole guest run (default: 90 plus every
                           scenario's limit)
  --memory MIB             guest memory (default 256; 128 works, 64 does not)
  --disk-size MIB          size of the guest's disk, the volume group's only PV (default 64)
  --accel tcg|kvm          qemu accelerator (default tcg: software emulation works
                           everywhere; nested kvm was seen to hang at boot)
  --no-install             fail instead of installing missing packages
  --keep                   keep the temporary directory (its path is printed)
  -v, --verbose            print the guest's log and every scenario's output even on success
  -h, --help               this text
Exit status: 0 when every selected scenario passed, 1 when one failed or the guest did not
finish, 2 for a usage or preparation error.
EOF
}

die() { echo "$prog: $*" >&2; exit 2; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

adds=()
scenario_dirs=()
only=()
envs=()
extra_modules=()
kernel=""
scenario_timeout=120
timeout=""
memory=256
disk_mib=64
accel=tcg
install=1
keep=0
verbose=0

while (($#)); do
    case $1 in
        --add | --scenarios | --only | --env | --module | --kernel | --scenario-timeout | \
            --timeout | --memory | --disk-size | --accel)
            (($# >= 2)) || die "$1 needs a value"
            ;;&
        --add) adds+=("$2"); shift ;;
        --scenarios) scenario_dirs+=("$2"); shift ;;
        --only) only+=("$2"); shift ;;
        --env)
            [[ $2 =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || die "--env wants NAME=VALUE, not '$2'"
            envs+=("$2"); shift ;;
        --module) extra_modules+=("$2"); shift ;;
        --kernel) kernel=$2; shift ;;
        --scenario-timeout) scenario_timeout=$2; shift ;;
        --timeout) timeout=$2; shift ;;
        --memory) memory=$2; shift ;;
        --disk-size) disk_mib=$2; shift ;;
        --accel) accel=$2; shift ;;
        --no-install) install=0 ;;
        --keep) keep=1 ;;
        -v | --verbose) verbose=1 ;;
        -h | --help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
    shift
done
for n in "$scenario_timeout" "$memory" "$disk_mib" ${timeout:+"$timeout"}; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || die "not a positive whole number: '$n'"
done
[[ $accel == @(kvm|tcg) ]] || die "--accel wants tcg or kvm"
((${#scenario_dirs[@]})) || scenario_dirs=("$here/scenarios")
((EUID == 0)) || die "must run as root (packages, kernel image and modules)"

t_start=$(now)

# --- packages -------------------------------------------------------------------------------
packages=(qemu-system-x86 linux-image-amd64 lvm2 dmsetup busybox-static cpio kmod)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$p")
done
if ((${#missing[@]})); then
    ((install)) || die "missing packages: ${missing[*]}"
    echo "$prog: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # The kernel package would also build an initramfs for the host itself, which takes most
    # of the install time. That image only matters to a machine that boots its kernels from
    # /boot; on one that does not (a container, or a VM started with its own kernel) it is
    # skipped. Anywhere else the normal hook runs, so a kernel the bootloader offers can boot.
    if ! compgen -G '/boot/vmlinuz*' >/dev/null && [[ ! -e /boot/grub && ! -e /boot/loader &&
        ! -e /boot/efi/EFI && ! -e /boot/extlinux ]]; then
        export INITRD=No
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
t_install=$(since "$t_start")

# --- work area and cleanup ------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/lvm-vm.XXXXXX")
vm_pid=""
cleanup() {
    if [[ -n $vm_pid ]] && kill -0 "$vm_pid" 2>/dev/null; then
        kill "$vm_pid" 2>/dev/null || true
        wait "$vm_pid" 2>/dev/null || true
    fi
    if ((keep)); then
        echo "$prog: kept $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'echo "$prog: interrupted" >&2; exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

root=$work/root
mkdir -p "$root"

# --- kernel ---------------------------------------------------------------------------------
if [[ -z $kernel ]]; then
    for k in $(linux-version list 2>/dev/null | linux-version sort --reverse 2>/dev/null); do
        if [[ -r /boot/vmlinuz-$k && -r /lib/modules/$k/modules.dep ]]; then
            kernel=$k
            break
        fi
    done
    [[ -n $kernel ]] || die "no installed kernel with modules found"
fi
vmlinuz=/boot/vmlinuz-$kernel
[[ -r $vmlinuz && -d /lib/modules/$kernel ]] || die "kernel $kernel is not installed"

# --- initramfs contents ---------------------------------------------------------------------
# The guest mirrors the host's merged /usr, so a file keeps the path it has on the host and
# whatever ldd prints (/lib64/ld-linux-x86-64.so.2, /lib/x86_64-linux-gnu/...) is right there.
mkdir -p "$root"/{usr/bin,usr/sbin,usr/lib,etc,dev,proc,sys,tmp,run,root,scenarios}
for d in bin sbin lib lib32 lib64 libx32; do
    if [[ -L /$d ]]; then
        # Relative, so that writing through it while building stays inside $root.
        target=$(readlink "/$d")
        target=${target#/}
        mkdir -p "$root/$target"
        ln -s "$target" "$root/$d"
    elif [[ -d /$d ]]; then
        mkdir -p "$root/$d"
    fi
done

declare -A placed=()
is_elf() { [[ $(head -c 4 "$1" 2>/dev/null | od -An -c | tr -d ' ') == '177ELF' ]]; }

# place HOST_FILE GUEST_PATH: copies the file (following links) and, for a dynamic ELF
# file, every library ldd resolves for it.
place() {
    local src=$1 dst=$2
    [[ -n ${placed[$dst]:-} ]] && return 0
    placed[$dst]=1
    mkdir -p "$root$(dirname "$dst")"
    rm -f "$root$dst"
    cp -L --preserve=mode "$src" "$root$dst"
    is_elf "$src" || return 0
    local out line lib
    out=$(ldd "$src" 2>&1) || {
        [[ $out == *"not a dynamic executable"* || $out == *"statically linked"* ]] &&
            return 0
        die "ldd $src: $out"
    }
    [[ $out != *"not found"* ]] || die "missing libraries for $src: $out"
    while read -r line; do
        case $line in
            *'=> /'*) lib=${line#*=> }; lib=${lib%% (*} ;;
            /*) lib=${line%% (*} ;;
            *) continue ;;
        esac
        place "$lib" "$lib"
    done <<<"$out"
}

# busybox first: the real programs copied after it replace its applet links of the same name.
place /bin/busybox /usr/bin/busybox
while read -r applet; do
    [[ -e $root/$applet || -L $root/$applet ]] || ln -s /usr/bin/busybox "$root/$applet"
done < <(/bin/busybox --list-full)

lvm_bin=$(command -v lvm) || die "lvm not found"
place "$lvm_bin" /usr/sbin/lvm
while read -r f; do
    # Every lvm2 command name is a link to the one lvm binary.
    if [[ -L $f && $(basename "$(readlink -f "$f")") == lvm ]]; then
        ln -sf lvm "$root/usr/sbin/$(basename "$f")"
    fi
done < <(dpkg -L lvm2 | grep -E '/s?bin/[^/]+$')
place "$(command -v dmsetup)" /usr/sbin/dmsetup

mkdir -p "$root/etc/lvm"
# No udev in the guest: lvm must create and clear device nodes itself. Without
# udev_rules = 0, lvcreate fails to clear the start of a new volume ("device not cleared").
cat >"$root/etc/lvm/lvm.conf" <<'EOF'
activation {
    udev_sync = 0
    udev_rules = 0
    verify_udev_operations = 0
    monitoring = 0
}
devices {
    obtain_device_list_from_udev = 0
    external_device_info_source = "none"
    use_devicesfile = 0
}
global {
    use_lvmpolld = 0
    event_activation = 0
}
EOF
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\n' >"$root/etc/group"

for item in "${adds[@]}"; do
    if [[ -e $item ]]; then
        src=$item dst=""
    else
        src=${item%:*} dst=${item##*:}
    fi
    [[ -f $src ]] || die "--add: no such file: $src"
    base=${src##*/}
    if [[ -z $dst ]]; then
        if [[ $base =~ \.so(\.[0-9]+)*$ ]]; then
            dst=/usr/local/lib/
        elif [[ -x $src ]]; then
            dst=/usr/local/bin/
        else
            dst=/usr/local/share/lvm-vm/
        fi
    fi
    [[ $dst == /* ]] || die "--add: guest path must be absolute: $dst"
    [[ $dst == */ ]] && dst=$dst$base
    unset "placed[$dst]"  # an explicit --add wins over a library that landed there first
    place "$src" "$dst"
done

# A loader cache, so that dlopen and programs find what was added to /usr/local/lib by
# soname, as they would on an installed system.
printf '/usr/local/lib\n' >"$root/etc/ld.so.conf"
ldconfig -r "$root" 2>/dev/null || ldconfig -X -r "$root" 2>/dev/null || true

# --- kernel modules -------------------------------------------------------------------------
mkdir -p "$root/lib/modules/lvm-vm"
: >"$root/lib/modules/lvm-vm/load-order"
declare -A loaded=()
n=0
for m in virtio_pci virtio_blk dm_mod dm_bufio dm_snapshot "${extra_modules[@]}"; do
    deps=$(modprobe -S "$kernel" --show-depends "$m") || die "no module $m in kernel $kernel"
    while read -r kind path _; do
        [[ $kind == insmod && -z ${loaded[$path]:-} ]] || continue
        loaded[$path]=1
        n=$((n + 1))
        name=$(printf '%02d-%s' "$n" "$(basename "$path")")
        # busybox insmod takes a plain object; later kernels ship their modules compressed.
        case $path in
            *.ko) cp "$path" "$root/lib/modules/lvm-vm/$name" ;;
            *.ko.xz) xz -dc "$path" >"$root/lib/modules/lvm-vm/${name%.xz}"; name=${name%.xz} ;;
            *.ko.zst) zstd -qdc "$path" >"$root/lib/modules/lvm-vm/${name%.zst}"; name=${name%.zst} ;;
            *.ko.gz) gzip -dc "$path" >"$root/lib/modules/lvm-vm/${name%.gz}"; name=${name%.gz} ;;
            *) die "unknown module format: $path" ;;
        esac
        echo "$name" >>"$root/lib/modules/lvm-vm/load-order"
    done <<<"$deps"
done

# --- scenarios ------------------------------------------------------------------------------
declare -A scenario_src=()
selected=()
for dir in "${scenario_dirs[@]}"; do
    [[ -d $dir ]] || die "--scenarios: not a directory: $dir"
    while IFS= read -r -d '' f; do
        name=${f##*/}
        [[ -z ${scenario_src[$name]:-} ]] || die "two scenarios named $name"
        scenario_src[$name]=$f
        selected+=("$name")
    done < <(find "$dir" -maxdepth 1 -type f -name '*.sh' -print0 | LC_ALL=C sort -z)
done
# shellcheck disable=SC2053 # --only takes shell patterns on purpose
matches() { [[ $1 == $2 || $1 == $2.sh ]]; }
if ((${#only[@]})); then
    chosen=()
    for name in "${selected[@]}"; do
        for pat in "${only[@]}"; do
            if matches "$name" "$pat"; then
                chosen+=("$name")
                break
            fi
        done
    done
    for pat in "${only[@]}"; do
        hit=0
        for name in "${chosen[@]}"; do
            matches "$name" "$pat" && hit=1
        done
        ((hit)) || die "--only $pat: no such scenario"
    done
    selected=("${chosen[@]}")
fi
((${#selected[@]})) || die "no scenario to run"
limits=0
for name in "${selected[@]}"; do
    cp "${scenario_src[$name]}" "$root/scenarios/$name"
    echo "$name" >>"$root/scenarios/order"
    limit=$(sed -n 's/^# lvm-vm-timeout: *\([0-9][0-9]*\).*/\1/p' "$root/scenarios/$name" |
        head -n 1)
    limits=$((limits + ${limit:-$scenario_timeout}))
done

# --- run configuration ----------------------------------------------------------------------
token=lvmvm-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')
mkdir -p "$root/etc/lvm-vm"
cat >"$root/etc/lvm-vm/run.conf" <<EOF
TOKEN=$token
VG=vg01
PV=/dev/vda
SCENARIO_TIMEOUT=$scenario_timeout
EOF
{
    echo "VG=vg01"
    echo "PV=/dev/vda"
    for e in "${envs[@]}"; do
        printf '%s=%q\n' "${e%%=*}" "${e#*=}"
    done
} >"$root/etc/lvm-vm/env"
install -m 755 "$here/guest-init.sh" "$root/init"

(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet) >"$work/initrd.cpio"
truncate -s "${disk_mib}M" "$work/disk.img"
t_build=$(since "$t_start")

# --- boot -----------------------------------------------------------------------------------
: "${timeout:=$((90 + limits))}"
echo "$prog: kernel $kernel, ${#selected[@]} scenario(s), accel $accel, limit ${timeout}s"
t_boot=$(now)
timeout -k 5 "$timeout" qemu-system-x86_64 \
    -machine "pc,accel=$accel" -cpu max -smp 1 -m "$memory" \
    -nodefaults -display none -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initrd.cpio" \
    -append "console=ttyS0 panic=-1 loglevel=4" \
    -drive "file=$work/disk.img,format=raw,if=virtio,cache=unsafe" \
    -serial "file:$work/console.log" -serial "file:$work/result.log" \
    </dev/null >"$work/qemu.log" 2>&1 &
vm_pid=$!
vm_rc=0
wait "$vm_pid" || vm_rc=$?
vm_pid=""
t_vm=$(since "$t_boot")

# --- results --------------------------------------------------------------------------------
tr -d '\r' <"$work/result.log" >"$work/result.txt" 2>/dev/null || : >"$work/result.txt"
tr -d '\r' <"$work/console.log" >"$work/console.txt" 2>/dev/null || : >"$work/console.txt"

marker() { grep -E "^$token $1" "$work/result.txt" || true; }
scenario_output() {  # the lines between a scenario's BEGIN and END markers
    awk -v b="$token BEGIN $1" -v e="$token END $1 " '
        $0 == b { on = 1; next }
        on && index($0, e) == 1 { exit }
        on && $0 != "" { print }' "$work/result.txt"
}

passed=0
failed=0
problems=()
failed_names=()
if ((vm_rc == 124 || vm_rc == 137)); then
    problems+=("the guest did not finish within ${timeout}s")
elif ((vm_rc != 0)); then
    problems+=("qemu exited with status $vm_rc")
fi
setup=$(marker 'SETUP')
if [[ -z $setup ]]; then
    problems+=("the guest did not report its setup")
elif [[ $setup == *SETUP-FAILED* ]]; then
    problems+=("guest setup failed: ${setup#* SETUP-FAILED }")
fi
reset=$(marker 'RESET-FAILED')
[[ -z $reset ]] || problems+=("could not clear the state left by ${reset##* }")
[[ -n $(marker 'DONE$') ]] || problems+=("the guest did not reach the end of its run")

for name in "${selected[@]}"; do
    end=$(grep -F "$token END $name " "$work/result.txt" | head -n 1 || true)
    if [[ -z $end ]]; then
        if [[ -n $(grep -Fx "$token BEGIN $name" "$work/result.txt" || true) ]]; then
            echo "FAIL $name (no result: the guest stopped while it ran)"
        else
            echo "FAIL $name (not run)"
        fi
        failed=$((failed + 1))
        failed_names+=("$name")
        continue
    fi
    read -r _ _ _ rc secs <<<"$end"
    if [[ $rc == 0 ]]; then
        echo "PASS $name (${secs}s)"
        passed=$((passed + 1))
    elif [[ $rc == timeout ]]; then
        echo "FAIL $name (killed at its time limit, after ${secs}s)"
        failed=$((failed + 1))
        failed_names+=("$name")
    else
        echo "FAIL $name (exit status $rc, ${secs}s)"
        failed=$((failed + 1))
        failed_names+=("$name")
    fi
done

for p in "${problems[@]}"; do
    echo "ERROR: $p"
done
show_names=("${failed_names[@]}")
((verbose)) && show_names=("${selected[@]}")
for name in "${show_names[@]}"; do
    echo "----- output of $name -----"
    scenario_output "$name"
done
if ((verbose || failed || ${#problems[@]})); then
    echo "----- guest console -----"
    cat "$work/console.txt"
    if [[ -s $work/qemu.log ]]; then
        echo "----- qemu -----"
        cat "$work/qemu.log"
    fi
    echo "-----"
fi
echo "time: install ${t_install}s, build $(awk -v a="$t_build" -v b="$t_install" \
    'BEGIN { printf "%.1f", a - b }')s, guest ${t_vm}s, total $(since "$t_start")s"
echo "$passed passed, $failed failed"
((failed == 0 && ${#problems[@]} == 0))
