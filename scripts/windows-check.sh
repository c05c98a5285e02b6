#!/usr/bin/env bash
# Builds the Windows module framemeldAE.aex with the mingw-w64 cross compiler and checks it:
#   1. the PE check: x64 DLL, exports exactly EntryPointFunc, imports only Windows' own DLLs,
#      and a PIPL resource (id 16000, language 1033) holding the PiPL generator's bytes;
#   2. the package: cpack makes Framemeld-<version>-win64.zip with framemeldAE.aex (which passes
#      the PE check too) and INSTALL.txt;
#   3. the render check: the same render-dump program, built for Linux and for Windows, renders a
#      generated clip at 8, 16 and 32 bits through Framemeld.so and (under Wine) through
#      framemeldAE.aex; every output file must be byte for byte the same.
# Exits non-zero on any failure and says what differs.
#
#   scripts/windows-check.sh [--no-setup]
#
# Build folders: build/win-native (native) and build/win-cross (Windows). WINE names the Wine
# launcher (default: wine).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

setup=1
for arg in "$@"; do
  case "$arg" in
    --no-setup) setup=0 ;;
    *) echo "usage: scripts/windows-check.sh [--no-setup]" >&2; exit 2 ;;
  esac
done
if ((setup)); then
  bash scripts/setup.sh
fi

jobs=$(nproc)
if ((jobs > 2)); then jobs=2; fi
linux_dir="$root/build/win-native"
cross_dir="$root/build/win-cross"
failures=0
fail() { echo "windows-check: FAIL: $*" >&2; failures=$((failures + 1)); }

echo "== native build: Framemeld.so, the render-dump program, the .aex check"
cmake -S . -B "$linux_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFRAMEMELD_WERROR=ON \
      -DFRAMEMELD_BUILD_TESTS=OFF >/dev/null
cmake --build "$linux_dir" -j "$jobs" --target Framemeld framemeld_plate_dump framemeld_aex_check

echo "== cross build: framemeldAE.aex and the render-dump program for Windows"
# The toolchain file alone: the build leaves out by itself the tests and the command-line tool,
# which need libraries that have no Windows build here.
cmake -S . -B "$cross_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFRAMEMELD_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$root/packaging/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$cross_dir" -j "$jobs"

aex="$cross_dir/framemeldAE.aex"
pipl="$cross_dir/pipl/FramemeldPiPL.bin"

echo "== PE check"
# Both builds' generators must agree, or the Windows bytes say nothing about the Linux ones.
cmake --build "$linux_dir" --target framemeld_pipl_files >/dev/null
if ! cmp "$pipl" "$linux_dir/pipl/FramemeldPiPL.bin"; then
  fail "the cross build's PiPL generator wrote other bytes than the native build's"
fi
if ! "$linux_dir/packaging/framemeld_aex_check" "$aex" "$pipl"; then
  fail "framemeldAE.aex is not what the host needs (see above)"
fi

echo "== package: the .zip for Windows"
version=$(sed -n 's/^project(Framemeld VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip="$cross_dir/Framemeld-$version-win64.zip"
rm -f "$zip"
(cd "$cross_dir" && cpack >/dev/null) || fail "cpack failed in $cross_dir"
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/framemeld-winzip.XXXXXX")
if [[ -f $zip ]] && (cd "$unpacked" && cmake -E tar xf "$zip"); then
  [[ -f $unpacked/INSTALL.txt ]] || fail "$zip has no INSTALL.txt"
  grep -q 'Tessaran' "$unpacked/INSTALL.txt" || fail "INSTALL.txt does not say how to find the effect"
  if [[ ! -f $unpacked/framemeldAE.aex ]]; then
    fail "$zip has no framemeldAE.aex"
  elif ! "$linux_dir/packaging/framemeld_aex_check" "$unpacked/framemeldAE.aex" "$pipl"; then
    fail "the framemeldAE.aex in $zip is not what the host needs (see above)"
  else
    echo "   $(basename "$zip"): framemeldAE.aex and INSTALL.txt"
  fi
else
  fail "no readable $zip"
fi
rm -rf "$unpacked"

echo "== render check under Wine"
wine=${WINE:-wine}
if ! command -v "$wine" >/dev/null; then
  echo "windows-check: no '$wine' launcher (Debian packages wine and wine64)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/framemeld-wincheck.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  # Only the Wine server of our own prefix.
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A new prefix takes a while to create; a console program needs nothing else from it.
echo "   creating a Wine prefix"
if ! timeout 300 "$wine" wineboot --init >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log" >&2
  fail "wineboot did not finish"
  exit 1
fi

mkdir -p "$work/linux" "$work/windows"
"$linux_dir/packaging/framemeld_plate_dump" "$linux_dir/Framemeld.so" "$work/linux" >/dev/null
if ! timeout 300 "$wine" "$cross_dir/packaging/framemeld_plate_dump.exe" \
       "$(winepath -w "$aex")" "$(winepath -w "$work/windows")" >"$work/wine.log" 2>&1; then
  cat "$work/wine.log" >&2
  fail "the Windows render-dump program failed under Wine"
fi

compared=0
for plate in "$work/linux"/*.raw; do
  name=$(basename "$plate")
  other="$work/windows/$name"
  if [[ ! -f "$other" ]]; then
    fail "$name: written on Linux, missing on Windows"
    continue
  fi
  if cmp -s "$plate" "$other"; then
    compared=$((compared + 1))
  else
    differing=$(cmp -l "$plate" "$other" 2>/dev/null | wc -l || true)
    fail "$name: $differing bytes differ; first ones (offset, Linux, Windows, octal):"
    cmp -l "$plate" "$other" 2>&1 | head -5 >&2 || true
  fi
done
for other in "$work/windows"/*.raw; do
  if [[ -f "$other" && ! -f "$work/linux/$(basename "$other")" ]]; then
    fail "$(basename "$other"): written on Windows only"
  fi
done
if ((compared == 0 && failures == 0)); then
  fail "no plates were written"
fi

if ((failures)); then
  echo "windows-check: $failures check(s) failed" >&2
  exit 1
fi
echo "windows-check: framemeldAE.aex passes the PE check; $compared plates are byte for byte the" \
     "same under Wine as on Linux"
