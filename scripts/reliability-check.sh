#!/usr/bin/env bash
# Reliability checks, in order, each in its own build directory:
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (with leak checks): the reliability suites
#      (fault sweeps at every depth, cancels, withheld suites, hostile input, out of memory) and
#      a soak of 1000 frames;
#   2. ThreadSanitizer: the threaded end-to-end tests (reliability, render, runner) and a soak,
#      on 8 worker threads where the test takes its count from FRAMEMELD_TEST_THREADS;
#   3. libFuzzer (clang, with ASan and UBSan): each fuzz target for a bounded time.
# Exits non-zero on any failure or sanitizer report.
#   scripts/reliability-check.sh [--fuzz-seconds N (default 45)] [--skip-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=45
fuzz=1
while (($#)); do
  case "$1" in
    --fuzz-seconds) fuzz_seconds=${2:?}; shift 2 ;;
    --skip-fuzz) fuzz=0; shift ;;
    *) echo "usage: scripts/reliability-check.sh [--fuzz-seconds N] [--skip-fuzz]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh # clang and its libFuzzer runtime among the rest

jobs=2 # the machine's cores are shared
threads=8
started=$SECONDS

configure_and_build() {
  local dir=$1; shift
  local targets=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir" -j "$jobs" --target $targets
}

step() { echo "== reliability: $* ($((SECONDS - started)) s)"; }

step "AddressSanitizer: fault sweeps and the other reliability suites"
# The 'asan' preset itself, so after scripts/test.sh its objects are reused.
cmake --preset asan >/dev/null
cmake --build build/asan -j "$jobs" --target framemeld_reliability_tests framemeld_soak
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build/asan/tests/reliability/framemeld_reliability_tests --gtest_brief=1
build/asan/tests/reliability/framemeld_soak --frames 1000
unset ASAN_OPTIONS UBSAN_OPTIONS

step "ThreadSanitizer: threaded end-to-end tests on $threads worker threads"
configure_and_build build/rel-tsan \
  "framemeld_reliability_tests framemeld_soak framemeld_render_tests framemeld_runner_tests framemeld_tiny_effect" \
  -DFRAMEMELD_WERROR=ON -DFRAMEMELD_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:exitcode=66
export FRAMEMELD_TEST_THREADS=$threads
build/rel-tsan/tests/reliability/framemeld_reliability_tests --gtest_brief=1
build/rel-tsan/tests/render/framemeld_render_tests --gtest_brief=1
build/rel-tsan/tests/runner/framemeld_runner_tests --gtest_brief=1
build/rel-tsan/tests/reliability/framemeld_soak --frames 200 --threads "$threads"
unset TSAN_OPTIONS FRAMEMELD_TEST_THREADS

if ((fuzz)); then
  step "libFuzzer: each target for $fuzz_seconds s"
  # Warnings stay warnings here: clang warns where gcc does not, in code this check does not own.
  CC=clang CXX=clang++ configure_and_build build/rel-fuzz \
    "framemeld_fuzz_engine_oracle framemeld_fuzz_render framemeld_fuzz_png_reader framemeld_fuzz_oiio_footage" \
    -DFRAMEMELD_BUILD_FUZZERS=ON -DFRAMEMELD_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fuzz/run.sh build/rel-fuzz "$fuzz_seconds"
fi

step "all reliability checks passed"
