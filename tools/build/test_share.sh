#!/usr/bin/env bash
# Prints the share of test code: non-blank lines that are not // comments, in the C and C++
# files of tests/ and fuzz/, against those of src/, include/, tools/, tests/ and fuzz/.
# Usage: test_share.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
count() {
    git ls-files -- "$@" | grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' | xargs -r cat |
        grep -c -v -E '^\s*(//.*)?$' || true
}
code=$(count src include tools)
tests=$(count tests fuzz)
awk -v t="$tests" -v c="$code" 'BEGIN {
    printf "test lines: %d of %d C/C++ lines (%.1f %%)\n", t, t + c, 100 * t / (t + c) }'
