#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from its seed corpus and reports executions and
# findings. The seeds are copied, so new inputs stay out of the repository; a crashing input is
# kept in BUILD_DIR/fuzz/findings/.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET (default 60)] [TARGET ...]
# BUILD_DIR is a clang build with -DFRAMEMELD_BUILD_FUZZERS=ON. Exits non-zero when a target
# finds a fault or cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET ...]}
seconds=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(engine_oracle render png_reader oiio_footage); fi

findings="$build/fuzz/findings"
mkdir -p "$findings"
status=0
for target in "${targets[@]}"; do
  binary="$build/fuzz/framemeld_fuzz_$target"
  if [[ ! -x "$binary" ]]; then
    echo "fuzz: $binary is missing (build it with -DFRAMEMELD_BUILD_FUZZERS=ON)" >&2
    status=1
    continue
  fi
  # The footage readers must never cost more than a file weighs: inputs stay small, and memory
  # and time are held far below what a believed header claim would take.
  limits=(-timeout=30 -rss_limit_mb=4096)
  if [[ $target == oiio_footage ]]; then
    limits=(-timeout=10 -rss_limit_mb=1024 -max_len=16384)
  fi
  corpus=$(mktemp -d)
  cp "$here/corpus/$target/." "$corpus/" -r
  log="$build/fuzz/$target.log"
  set +e
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    "$binary" -max_total_time="$seconds" -print_final_stats=1 "${limits[@]}" \
      -artifact_prefix="$findings/$target-" "$corpus" >"$log" 2>&1
  code=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  units=$(find "$corpus" -type f | wc -l)
  rm -rf "$corpus"
  if ((code == 0)); then
    echo "fuzz: $target: ${runs:-?} executions in ${seconds} s, corpus of $units inputs, no finding"
  else
    echo "fuzz: $target: FINDING after ${runs:-?} executions (exit $code); see $log and $findings/" >&2
    grep -E "ERROR|SUMMARY|differs|render fuzzer:" "$log" | head -20 >&2 || true
    status=1
  fi
done
exit $status
