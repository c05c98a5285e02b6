#!/usr/bin/env bash
# Fails when a tracked C or C++ file is not in the house style (.clang-format at the root).
#   scripts/check-format.sh          lists the files that clang-format would change
#   scripts/check-format.sh --fix    rewrites them in place
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: scripts/check-format.sh [--fix]" >&2; exit 2 ;;
esac

formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z "$formatter" ]]; then
  echo "check-format: clang-format is not installed (Debian package clang-format)" >&2
  exit 1
fi

mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
if ((fix)); then
  "$formatter" -i --style=file "${files[@]}"
  exit 0
fi

unformatted=()
for f in "${files[@]}"; do
  if ! "$formatter" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
    unformatted+=("$f")
  fi
done
if ((${#unformatted[@]})); then
  echo "check-format: ${#unformatted[@]} file(s) differ from .clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "check-format: run 'bash scripts/check-format.sh --fix' and review the diff" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files in the house style"
