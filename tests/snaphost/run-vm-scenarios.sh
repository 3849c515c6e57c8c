#!/usr/bin/env bash
# Runs the LVM guest scenarios (tests/lvm-vm/scenarios/) with the project's built programs in the
# guest: libPiSNP.so, snaphost, rawhost and the scenarios' shared helpers, and the build as
# cmake --install lays it out, under /opt/pisnp.
# Usage: run-vm-scenarios.sh BUILD_DIR [run-vm.sh options...]   (as root)
#   e.g. run-vm-scenarios.sh build/normal --only '1*'
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:?usage: run-vm-scenarios.sh BUILD_DIR [run-vm.sh options...]}
shift
for f in "$build/libPiSNP.so" "$build/tools/snaphost" "$build/tests/snaphost/rawhost" \
    "$build/EN_US/arcclientV3.cat"; do
    [ -f "$f" ] || { echo "run-vm-scenarios.sh: $f is missing; build first" >&2; exit 2; }
done
# The build installed as a user would install it, under /opt/pisnp in the guest.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
installed=()
while read -r f; do
    installed+=(--add "$f:/opt/pisnp/${f#"$tmp/prefix/"}")
done < <(find "$tmp/prefix" \( -type f -o -type l \) \
    \( -path '*/bin/*' -o -name 'libPiSNP.so*' -o -path '*/share/pisnp/*' \))
bash "$root/tests/lvm-vm/run-vm.sh" \
    --add "$build/libPiSNP.so" --add "$build/tools/snaphost" \
    --add "$build/tests/snaphost/rawhost" --add "$here/vm-common.sh:/usr/local/share/lvm-vm/" \
    --add "$build/EN_US/arcclientV3.cat:/usr/local/lib/EN_US/" \
    "${installed[@]}" "$@"
