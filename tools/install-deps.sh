#!/usr/bin/env bash
# Installs, by Debian package name, whatever the build and the tests need and the machine lacks,
# and the packages named as arguments (what one stage needs besides).
set -euo pipefail
# python3 runs the house checks and reads snaphost's JSON results in the tests; pkgconf and
# groff-base check the installed tree as a user of the package sees it.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev binutils util-linux procps python3 libc-bin locales pkgconf groff-base
          "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the message tests run in; a test whose locale is missing skips and says why.
for spec in de_DE:UTF-8:de_DE.UTF-8 de_DE:ISO-8859-1:de_DE.ISO-8859-1 en_US:UTF-8:en_US.UTF-8; do
    IFS=: read -r input charset name <<<"$spec"
    listed=$(sed 's/UTF-8/utf8/; s/ISO-8859-1/iso88591/' <<<"$name")  # as locale -a lists it
    if ! locale -a 2>/dev/null | grep -qx "$listed"; then
        localedef -i "$input" -f "$charset" "$name" || echo "locale $name could not be generated"
    fi
done

# The locales the string tests compare their byte and character paths in: Shift-JIS and Big5
# (bytes that look like ASCII inside characters), Turkish (its own case of i) and Latin-1.
for spec in ja_JP:SHIFT_JIS:ja_JP.SJIS:ja_JP.sjis zh_TW:BIG5:zh_TW.BIG5:zh_TW.big5 \
            tr_TR:UTF-8:tr_TR.UTF-8:tr_TR.utf8 en_US:ISO-8859-1:en_US.ISO-8859-1:en_US.iso88591; do
    IFS=: read -r input charset name listed <<<"$spec"
    if ! locale -a 2>/dev/null | grep -qx "$listed"; then
        # Shift-JIS is not ASCII-compatible everywhere, which localedef warns about (exit code 1).
        localedef -i "$input" -f "$charset" "$name" 2>/dev/null ||
            locale -a | grep -qx "$listed" || echo "locale $name could not be generated"
    fi
done
