#!/bin/sh
# Compares the dynamic symbols defined by the shared library with the checked-in lists.
# Usage: check_exports.sh libPiSNP.so list...
set -eu
lib=$1; shift
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
nm -DC --defined-only "$lib" | sed -E 's/^[0-9a-fA-F]+ [A-Za-z] //' \
    | grep -v -E '^(_init|_fini|__bss_start|_edata|_end)$|^__odr_asan|^__asan|^__ubsan|^__sanitizer|^__tsan' | LC_ALL=C sort -u > "$tmp/actual"
cat "$@" | grep -v -E '^[[:space:]]*(#|$)' | LC_ALL=C sort -u > "$tmp/expected"
if ! diff -u "$tmp/expected" "$tmp/actual" > "$tmp/diff"; then
    echo "exported symbols differ from the lists (- missing, + unexpected):"
    grep -E '^[-+][^-+]' "$tmp/diff"
    exit 1
fi
echo "$(wc -l < "$tmp/actual") exported symbols match the lists"
