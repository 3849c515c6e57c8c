#!/usr/bin/env bash
# The main job: snaphost keeps a snapshot of a live logical volume for as long as a backup
# command reads it. This installs what is missing, builds libPiSNP.so and snaphost, boots a small
# virtual machine with a fresh disk and real LVM (tests/lvm-vm), runs the demo there and prints
# what happened, step by step. Run as root on Debian: bash tools/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PISNP_BUILD_ROOT:-$root/build}/normal
demo_start=$SECONDS

echo "== installing what the build needs, if anything is missing (with apt-get; on a fresh"
echo "   machine this takes a few minutes)"
tools/install-deps.sh
echo "== building libPiSNP.so and snaphost in $build"
guest=$(mktemp -d)
trap 'rm -rf "$guest"' EXIT
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$build" -j 2 --target PiSNP snaphost catalogs; } >"$guest/build.log" 2>&1; then
    cat "$guest/build.log"
    echo "== the build failed (see above)"
    exit 1
fi

# What runs inside the virtual machine: tools/demo-guest.sh, as the harness's only scenario.
cp tools/demo-guest.sh "$guest/demo.sh"

echo "== booting a small virtual machine with a fresh disk and real LVM; the demo runs there"
echo "   (software emulation: about two minutes; on first use qemu, a kernel and lvm2 are"
echo "   installed for it first, which takes a minute or a few)"
# The harness's own progress lines (installing, booting) are shown as they come.
set +e
bash tests/lvm-vm/run-vm.sh -v --scenarios "$guest" --module ext4 \
    --add "$build/libPiSNP.so" --add "$build/tools/snaphost" \
    --add "$build/EN_US/arcclientV3.cat:/usr/local/lib/EN_US/" 2>&1 |
    tee "$guest/run.log" | sed -un 's/^run-vm.sh: /   /p'
status=${PIPESTATUS[0]}
set -e
if ((status != 0)); then
    cat "$guest/run.log"
    echo "== the demo failed (see above)"
    exit 1
fi
# The guest's own output, without the harness's markers and the guest console.
sed -n '/^----- output of demo.sh -----$/,/^----- guest console -----$/p' "$guest/run.log" |
    sed '1d;$d'
echo
grep '^time: ' "$guest/run.log" || true
echo "== the whole demo took $((SECONDS - demo_start)) s of real time"
