#!/usr/bin/env bash
# The PowerPC stage of the test command, runnable alone (as root, on Debian):
#     bash tools/ppc-stage.sh
# Hosts of the library are 64-bit little-endian PowerPC programs. This cross-builds the library,
# snaphost, the C host programs and the unit tests for them (in build/ppc64le) and runs the whole
# suite under qemu-user on this machine: ctest starts the programs through the emulator, and a
# binfmt entry lets scripts and programs start PowerPC programs of their own (the fake volume
# manager's tests, snaphost and its backup commands, death tests). Where the entry cannot be
# registered, only what ctest starts itself runs and every test left out is named; where PowerPC
# programs cannot be run at all, the stage says so and is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${PISNP_BUILD_ROOT:-$root/build}/ppc64le
jobs=$(nproc)
triplet=powerpc64le-linux-gnu
qemu=/usr/bin/qemu-ppc64le
# Programs started through the binfmt entry find the target's loader and libraries here.
export QEMU_LD_PREFIX=/usr/$triplet
started=$SECONDS

skip() {
    printf '\n*** PowerPC stage SKIPPED: %s ***\n\n' "$*"
    exit 0
}

tools/install-deps.sh "g++-$triplet" libc6-dev-ppc64el-cross qemu-user googletest ||
    skip "the cross compiler, qemu-user or the GoogleTest sources could not be installed"
[ -x "$qemu" ] || skip "$qemu is missing"

echo "cross build in $out"
# Assertions stay on: the point is to see the code misbehave on the target, where it happens.
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-ppc64le.cmake" \
      -DPISNP_GTEST_SOURCE=/usr/src/googletest -DPISNP_BENCH=OFF -DPISNP_FUZZ=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" >/dev/null
cmake --build "$out" -j "$jobs"

probe=$out/binfmt-probe
printf 'int main(void) { return 0; }\n' | "$triplet-gcc" -x c - -o "$probe"
"$qemu" "$probe" || skip "qemu-user cannot run PowerPC programs on this machine"

# ELF, 64-bit, little-endian, version 1, any OS ABI, an executable or a position-independent one
# (type 2 or 3), machine 21 (64-bit PowerPC). F: the kernel opens the emulator now, so it is
# found from private mount namespaces too.
binfmt_entry=':pisnp-ppc64le:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x15\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F'
register_binfmt() {
    local dir=/proc/sys/fs/binfmt_misc
    [ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir" || return 1
    [ "$(cat "$dir/status")" = enabled ] || echo 1 >"$dir/status" || return 1
    # A stale entry of ours (one whose emulator was replaced, say) goes first.
    if [ -e "$dir/pisnp-ppc64le" ]; then echo -1 >"$dir/pisnp-ppc64le" || return 1; fi
    printf '%s' "$binfmt_entry" >"$dir/register"
}
if "$probe" 2>/dev/null; then
    echo "PowerPC programs run through an existing binfmt entry"
elif register_binfmt 2>/dev/null && "$probe"; then
    echo "registered the binfmt entry pisnp-ppc64le for $qemu (fix-binary)"
else
    binfmt_missing=1
fi

# Without the entry, what ctest does not start itself cannot run: tests whose scripts start a
# PowerPC program of the build, and death tests, whose program re-executes itself.
needs_binfmt() {
    local line arg cmd=
    while IFS= read -r line; do
        if [[ $line =~ ^[0-9]+:\ Test\ command:\ (.*)$ ]]; then
            cmd=${BASH_REMATCH[1]}
        elif [[ $line =~ ^\ +Test\ +#[0-9]+:\ (.+)$ ]]; then
            local name=${BASH_REMATCH[1]}
            if [[ $name == *DeathTest.* ]]; then echo "$name"; continue; fi
            [[ $cmd == "$qemu "* ]] && continue
            while read -r arg; do
                arg=${arg//\"/}
                if [[ $arg == "$out"/* && $arg != *.so && -f $arg && -x $arg ]]; then
                    echo "$name"
                    break
                fi
            done < <(grep -o '"[^"]*"' <<<"$cmd")
        fi
    done < <(ctest --test-dir "$out" -N -V)
}
exclude=()
if [ -n "${binfmt_missing:-}" ]; then
    mapfile -t left_out < <(needs_binfmt)
    printf '\n*** PowerPC stage: no binfmt entry could be registered (binfmt_misc needs root and a\n'
    printf '*** writable /proc/sys/fs/binfmt_misc); these %d tests are SKIPPED:\n' "${#left_out[@]}"
    printf '***   %s\n' "${left_out[@]}"
    if ((${#left_out[@]})); then
        exclude=(-E "^($(printf '%s\n' "${left_out[@]}" | sed 's/[].*+?^$(){}|\\[]/\\&/g' |
            paste -sd '|'))\$")
    fi
fi

ctest --test-dir "$out" --output-on-failure -j "$jobs" "${exclude[@]}"
echo "PowerPC stage done in $((SECONDS - started)) s"
