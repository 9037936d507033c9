#!/usr/bin/env bash
# The soak: one driver object, loaded by name as a host loads it, through FRAMES simulated frames (default ten
# million) at the highest rate the machine gives, with random stops, starts, trigger-mode changes and one
# conversion in a thousand failed. Not part of CI: it runs for minutes. Simulated cameras only; no network.
#   bench/soak.sh [FRAMES] [SEED] [RATE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target vxcam_soak
"$build/bin/vxcam_soak" "${1:-10000000}" "${2:-13}" "${3:-100000}"
