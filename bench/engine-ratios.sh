#!/usr/bin/env bash
# Runs engine_bench once (one thread) and prints, per string length, how much faster the engine
# is than the step-by-step reference, its pair tests per second, and each kernel set's time.
#
# usage: bench/engine-ratios.sh [--build-dir DIR] [--repetitions N]
#   --build-dir    a build with FRAMEMELD_BUILD_BENCH=ON (default build/bench, the 'bench' preset)
#   --repetitions  repetitions of each benchmark; the table uses their median (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
repetitions=5
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --repetitions) repetitions=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "engine-ratios: unknown argument $1" >&2; exit 2 ;;
  esac
done

if [[ ! -x "$build_dir/bench/engine_bench" ]]; then
  if [[ "$build_dir" == build/bench ]]; then
    cmake --preset bench >/dev/null
  fi
  cmake --build "$build_dir" --target engine_bench
fi

json=$(mktemp)
trap 'rm -f "$json"' EXIT
echo "engine-ratios: load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
"$build_dir/bench/engine_bench" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
echo "engine-ratios: load after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$json" <<'PY'
import json, re, sys
rows = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    rows[b["run_name"]] = b

def get(kind, depth, n, isa=None):
    name = f"{kind}<{depth}>/n:{n}" + (f"/isa:{isa}" if isa is not None else "")
    return rows.get(name)

isas = {0: "portable", 1: "sse2", 2: "avx2"}
print("CPU time per output pixel (ns), median of the repetitions, one thread:")
print()
print("| depth | n | reference | engine | engine speed-up | engine pair tests/s | " +
      " | ".join(f"{v} kernels" for v in isas.values()) + " |")
print("|---|---:|---:|---:|---:|---:|" + "---:|" * len(isas))
for depth, label in (("unsigned char", "8-bit"), ("float", "float")):
    for n in (10, 30, 100, 300):
        ref, eng = get("Reference", depth, n), get("Engine", depth, n)
        if not ref or not eng:
            continue
        kernels = []
        for isa in isas:
            k = get("Kernels", depth, n, isa)
            kernels.append(f"{k['ns_per_pixel']:.0f}" if k and "error_occurred" not in k else "-")
        print(f"| {label} | {n} | {ref['ns_per_pixel']:.0f} | {eng['ns_per_pixel']:.0f} | "
              f"{ref['ns_per_pixel'] / eng['ns_per_pixel']:.1f}x | {eng['pair_tests_per_s'] / 1e9:.2f} G | " +
              " | ".join(kernels) + " |")
PY
