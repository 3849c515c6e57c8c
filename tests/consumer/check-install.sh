#!/bin/sh
# Installs the build into a scratch prefix and uses it as a user of the package would: the files
# are in their usual places, the library carries its soname, a project finds it with
# find_package(PiSNP) and with pkg-config, and the installed snaphost finds the installed
# library without options.
# Usage: check-install.sh BUILD_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failed=0
check() {  # DESCRIPTION CONDITION
    if eval "$2"; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        failed=1
    fi
}

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1
check "cmake --install succeeds" '[ $? = 0 ]' || cat "$tmp/install.log"
lib=$(find "$prefix" -name 'libPiSNP.so.*.*' | head -n 1)
libdir=$(dirname "$lib")
check "the library, its soname link and its development link are under lib" \
    '[ -f "$lib" ] && [ -L "$libdir/libPiSNP.so.1" ] && [ -L "$libdir/libPiSNP.so" ] &&
     objdump -p "$lib" | grep -q "SONAME *libPiSNP.so.1$"'
check "the public headers, the manual page and snaphost are in their places" \
    '[ -f "$prefix/include/piPlugin.h" ] && [ -f "$prefix/include/bkpSnapshot.h" ] &&
     [ -f "$prefix/share/man/man1/snaphost.1" ] && [ -x "$prefix/bin/snaphost" ]'
if command -v groff >/dev/null 2>&1; then
    check "the manual page formats without a warning" \
        '[ -z "$(groff -t -man -Tutf8 -ww -z "$prefix/share/man/man1/snaphost.1" 2>&1)" ]'
fi

cmake -S "$here" -B "$tmp/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    >"$tmp/consumer.log" 2>&1 && cmake --build "$tmp/consumer" >>"$tmp/consumer.log" 2>&1
check "a project builds against the installed tree with find_package(PiSNP)" \
    '[ $? = 0 ]' || cat "$tmp/consumer.log"
check "and runs, linked to the installed library" \
    '[ "$("$tmp/consumer/consumer")" = "PISNAPSHOT libPiSNP.so" ] &&
     ldd "$tmp/consumer/consumer" | grep -q "libPiSNP.so.1 => $libdir/"'

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$tmp/consumer-pc" "$here/consumer.c" $(pkg-config --cflags --libs pisnp) \
    -Wl,-rpath,"$(pkg-config --variable=libdir pisnp)" 2>"$tmp/pc.log"
check "a project builds with pkg-config pisnp, and runs" \
    '[ $? = 0 ] && [ "$("$tmp/consumer-pc")" = "PISNAPSHOT libPiSNP.so" ]' || cat "$tmp/pc.log"
version=$("$prefix/bin/snaphost" --version | sed -n 's/^snaphost //p')
check "pkg-config reports the project's version" '[ "$(pkg-config --modversion pisnp)" = "$version" ]'

env -u SNAPHOST_LIBRARY -u ARC_DIR "$prefix/bin/snaphost" --version >"$tmp/version" 2>&1
check "the installed snaphost finds the installed library without options" \
    'grep -q "^library: *$(readlink -f "$lib")$" "$tmp/version"' || cat "$tmp/version"
exit $failed
