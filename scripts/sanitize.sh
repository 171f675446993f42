#!/usr/bin/env bash
# Builds test programs with a sanitizer and runs them.
#   scripts/sanitize.sh <address|thread> [test targets...]   (default: test_engine)
# Build folders: build-asan (address, with undefined-behaviour checks) and build-tsan.
# Extra arguments for the test programs go in FSWEEP_SANITIZE_TEST_ARGS (e.g. a gtest filter).
set -euo pipefail
cd "$(dirname "$0")/.."

kind="${1:-}"
case "$kind" in
  address) folder=build-asan ;;
  thread) folder=build-tsan ;;
  *) echo "usage: $0 <address|thread> [test targets...]" >&2; exit 2 ;;
esac
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(test_engine)
jobs="${FSWEEP_BUILD_JOBS:-2}"

cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSWEEP_WERROR=ON \
      -DFSWEEP_SANITIZE="$kind" -DFSWEEP_BUILD_BENCH=OFF >/dev/null
# The end-to-end tests run the scan process and the backup phase of the same build.
build_targets=("${targets[@]}")
[[ " ${targets[*]} " == *" test_e2e "* ]] && build_targets+=(fsweep fsbackup)
cmake --build "$folder" -j"$jobs" --target "${build_targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

status=0
for target in "${targets[@]}"; do
  program="$folder/tests/$target"
  if [ ! -x "$program" ]; then
    echo "sanitize: no test program $program" >&2
    status=1
    continue
  fi
  echo "== $kind: $target"
  # shellcheck disable=SC2086
  "$program" ${FSWEEP_SANITIZE_TEST_ARGS:-} || status=1
done
exit $status
