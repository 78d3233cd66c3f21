#!/usr/bin/env bash
# bench/gif/run.sh [BUILD_TREE]: GIF decoding throughput against giflib.
# Configures a release tree (default build/bench), generates the pictures
# (200 animations of 320 x 240 x 10 frames and one 4000 x 3000 picture), then
# times each decoder in its own process, 5 runs each, and prints the medians.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tree=${1:-$root/build/bench}
if [[ ! -f $tree/build.ninja ]]; then
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROVEND_TESTS=OFF >/dev/null
fi
cmake --build "$tree" --target gif_bench gif_bench_generate -- -j2 >/dev/null
data=$tree/bench/gif/pictures
[[ -f $data/large.gif ]] || "$tree/bin/gif_bench_generate" "$data"
for decoder in rovend giflib; do
  "$tree/bin/gif_bench" "$data" --benchmark_filter="^$decoder/" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=json > "$tree/gif_bench_$decoder.json"
done
python3 - "$tree" <<'PY'
import json, sys
tree = sys.argv[1]
median = {}
for decoder in ("rovend", "giflib"):
    for b in json.load(open(f"{tree}/gif_bench_{decoder}.json"))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            median[b["run_name"]] = b
for case in ("animations", "large"):
    ours, peer = median[f"rovend/{case}"], median[f"giflib/{case}"]
    print(f"{case:10s}  rovend {ours['items_per_second']/1e6:7.1f} Mpixel/s ({ours['real_time']:7.1f} ms wall, "
          f"{ours['cpu_time']:7.1f} ms cpu)   giflib {peer['items_per_second']/1e6:7.1f} Mpixel/s "
          f"({peer['real_time']:7.1f} ms wall, {peer['cpu_time']:7.1f} ms cpu)   "
          f"ratio {ours['items_per_second']/peer['items_per_second']:.2f} (cpu), "
          f"{peer['real_time']/ours['real_time']:.2f} (wall)")
PY
