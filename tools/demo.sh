#!/usr/bin/env bash
# The main job. Until the snapshot road exists this builds the library and runs the plain-C
# host smoke test, which loads libPiSNP.so as a host does.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal
ctest --test-dir build/normal --output-on-failure -R '^host\.'
