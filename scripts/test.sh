#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, runs every test, then runs the
# engine's tests again under ThreadSanitizer (the walk's threads share folder stacks and writers),
# every test under AddressSanitizer with UndefinedBehaviorSanitizer, and each fuzz target for 30 s
# (docs/testing.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSWEEP_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
FSWEEP_BUILD_JOBS="$jobs" scripts/sanitize.sh thread test_engine
FSWEEP_BUILD_JOBS="$jobs" scripts/sanitize.sh address test_base test_agent test_engine test_collect test_proxy test_scan test_e2e
FSWEEP_BUILD_JOBS="$jobs" scripts/fuzz.sh 30
