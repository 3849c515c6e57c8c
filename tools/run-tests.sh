#!/usr/bin/env bash
# The whole test suite, as CI runs it: installs what is missing, then builds and tests
# normally, runs the LVM scenarios in a virtual machine with those builds, tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer (the threaded tests),
# cross-builds for 64-bit little-endian PowerPC and tests there under emulation, runs the fuzzers
# briefly and the benchmarks once.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${PISNP_BUILD_ROOT:-$root/build}
jobs=$(nproc)

tools/install-deps.sh

step() { printf '\n=== %s ===\n' "$*"; }

step "normal build"
cmake -S . -B "$out/normal" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/normal" -j "$jobs"
ctest --test-dir "$out/normal" --output-on-failure -j "$jobs"

step "LVM scenarios in a virtual machine (real snapshots through the plug-in and snaphost)"
tests/snaphost/run-vm-scenarios.sh "$out/normal"

step "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B "$out/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPISNP_SANITIZE=ON \
      -DPISNP_BENCH=OFF >/dev/null
cmake --build "$out/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$out/asan" --output-on-failure -j "$jobs"

step "ThreadSanitizer build (threaded tests)"
cmake -S . -B "$out/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPISNP_TSAN=ON \
      -DPISNP_BENCH=OFF >/dev/null
cmake --build "$out/tsan" -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$out/tsan" --output-on-failure -j "$jobs" \
    -R 'Thread|Concurren|Stress|Mutex|Cond|Signal|Callback' --no-tests=ignore

step "64-bit little-endian PowerPC: cross build, every test under qemu-user"
tools/ppc-stage.sh

step "fuzzers (libFuzzer, clang)"
CC=clang CXX=clang++ cmake -S . -B "$out/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DPISNP_FUZZ=ON -DPISNP_TESTS=OFF -DPISNP_BENCH=OFF >/dev/null
cmake --build "$out/fuzz" -j "$jobs" --target fuzzers
for f in "$out"/fuzz/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    echo "fuzzing $(basename "$f")"
    "$f" -max_total_time="${PISNP_FUZZ_SECONDS:-10}" -print_final_stats=0 2>&1 | tail -n 2
done

step "benchmarks (one short run, ratios against their baselines)"
for b in "$out"/normal/bench/bench_*; do
    [ -x "$b" ] || continue
    "$b" --benchmark_min_time=0.05 2>/dev/null
done

step "share of test code"
tools/build/test_share.sh

echo
echo "all test stages passed"
