#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time on a copy of its seed corpus.
#   scripts/fuzz.sh [seconds per target, default 30] [target names...]   (default: all of fuzz/)
# Build folder: build-fuzz (clang 14, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer).
# The corpus is copied to a scratch folder, so runs never write into the repository. A finding
# fails the run; its input stays in the scratch folder (named in the output): fix the parser,
# then add the input to fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
jobs="${FSWEEP_BUILD_JOBS:-2}"

# Warnings are errors in the main build (g++); clang's own warnings here are reported, not fatal.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
      -DCMAKE_CXX_COMPILER=clang++-14 -DFSWEEP_FUZZ=ON -DFSWEEP_WERROR=OFF -DFSWEEP_BUILD_TESTS=OFF \
      -DFSWEEP_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target "${targets[@]/#/fuzz_}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/fsweep-fuzz-run-XXXXXX")"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target/corpus" "$scratch/$target/findings"
  cp -r "fuzz/corpus/$target/." "$scratch/$target/corpus/"
  log="$scratch/$target/fuzz.log"
  # -timeout: one input taking seconds is a finding (a parser that hangs the job).
  if build-fuzz/fuzz/"fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$scratch/$target/findings/" "$scratch/$target/corpus" >"$log" 2>&1; then
    echo "fuzz: $target: $(grep -o 'Done [0-9]* runs' "$log" | tail -n1 || true), no finding"
  else
    echo "fuzz: $target: FINDING, input and log in $scratch/$target" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
[ $status -eq 0 ] && rm -rf "$scratch"
exit $status
