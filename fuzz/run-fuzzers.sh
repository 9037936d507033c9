#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang (ASan + UBSan) and runs each for a bounded time from its seed corpus.
#   fuzz/run-fuzzers.sh [SECONDS]    default 25 seconds per target
# A crash, a sanitizer report, a leak or a broken check ends the run with a failure and leaves the input in
# build-fuzz/artifacts/; reproduce it with `build-fuzz/bin/<fuzzer> <file>`, then make it a regression test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-25}
build=$root/build-fuzz
jobs=$(nproc 2>/dev/null || echo 2)
targets=(vxcam_fuzz_camera_id vxcam_fuzz_convert vxcam_fuzz_sim_config)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVXCAM_FUZZ=ON \
  -DVXCAM_SANITIZE=address,undefined -DBUILD_TESTING=OFF -DVXCAM_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# What a run finds goes to a scratch corpus, so the committed seeds stay small and reviewed.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  name=${target#vxcam_fuzz_}
  mkdir -p "$scratch/$name"
  echo "== fuzzing $name for ${seconds}s"
  # Full stacks at each allocation, so that the one suppressed leak (lsan.supp, inside Qt) is told apart.
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$scratch/$name" "$root/fuzz/corpus/$name" 2>"$scratch/$name.log" || {
    tail -n 60 "$scratch/$name.log"
    echo "== $name failed; the input is in $build/artifacts/"
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^Done' "$scratch/$name.log" || true
done
