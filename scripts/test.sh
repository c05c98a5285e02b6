#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs the whole test suite:
#   0. the format check (every C and C++ file in the house style of .clang-format);
#   1. the 'ci' preset (warnings are errors) with every test;
#   2. the 'asan' preset (AddressSanitizer + UndefinedBehaviorSanitizer) with every test.
# --quick runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh
bash scripts/check-format.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  echo "== $preset: configure, build, test (at $SECONDS s)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: built (at $SECONDS s)"
  ctest --preset "$preset" -j "$jobs"
}

run_preset ci
if ((quick == 0)); then
  run_preset asan
fi
