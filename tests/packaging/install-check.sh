#!/usr/bin/env bash
# Checks the installed tool as a user gets it, away from the build tree.
#   install-check.sh tree BUILD_DIR   cmake --install into a scratch root (DESTDIR), then run it
#   install-check.sh deb BUILD_DIR    cpack's .deb, extracted with dpkg-deb -x, then run it
#   install-check.sh completion SCRIPT FRAMEMELD   the bash completion offers every option
# The tool must load both modules from the installed lib/framemeld/ (it would fall back on the
# build tree's otherwise), and render a plate of a small generated clip that shows the background.
set -euo pipefail

mode=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/framemeld-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install-check: FAIL: $*" >&2; exit 1; }

completion_check() {
    local script=$1 program=$2
    # shellcheck disable=SC1090
    source "$script"
    compopt() { :; } # only defined inside a completion that bash itself runs
    local option offered
    # Every option --help lists is offered, and --depth offers its values.
    for option in $("$program" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' |
                    sort -u); do
        COMP_WORDS=(framemeld "$option")
        COMP_CWORD=1
        _framemeld
        offered=" ${COMPREPLY[*]} "
        [[ $offered == *" $option "* ]] || fail "completion does not offer $option"
    done
    COMP_WORDS=(framemeld --depth "")
    COMP_CWORD=2
    _framemeld
    [[ "${COMPREPLY[*]}" == "8 16 32" ]] || fail "--depth completes to '${COMPREPLY[*]}'"
    # After "--" only file names.
    mkdir "$scratch/files" && touch "$scratch/files/-x.png"
    COMP_WORDS=(framemeld -- "$scratch/files/-")
    COMP_CWORD=2
    _framemeld
    [[ "${COMPREPLY[*]}" == "$scratch/files/-x.png" ]] || fail "after --: '${COMPREPLY[*]}'"
    echo "install-check: the completion offers every option of --help"
}

# Runs the installed tool in ROOT (bin/framemeld, lib/framemeld/) on a generated clip.
run_installed() {
    local root=$1
    local tool="$root/bin/framemeld"
    [[ -x $tool ]] || fail "no $tool"
    [[ -x $root/bin/framemeld_describe ]] || fail "no framemeld_describe"
    local version
    version=$("$tool" --version) || fail "--version failed: $version"
    echo "$version"
    grep -q "plug-in module: Framemeld 2.2, $root/lib/framemeld/Framemeld.so" <<<"$version" ||
        fail "the plug-in module is not the installed one"
    grep -q "through $root/lib/framemeld/framemeld-oiio.so" <<<"$version" ||
        fail "the OpenImageIO module is not the installed one"

    # Five frames of a still background; a red block passes through three of them.
    local clip="$scratch/clip"
    mkdir -p "$clip"
    oiiotool --pattern constant:color=0.2,0.4,0.6 32x16 3 -d uint8 -o "$scratch/background.tif"
    for f in 1 2 3 4 5; do
        if ((f % 2)); then
            oiiotool "$scratch/background.tif" --fill:color=1,0,0 8x8+$((f * 4))+4 \
                -d uint8 -o "$clip/shot.000$f.tif"
        else
            cp "$scratch/background.tif" "$clip/shot.000$f.tif"
        fi
    done
    "$tool" "$clip/shot.####.tif" -o "$scratch/plate.tif" --start 1 --end 5 -q ||
        fail "the installed tool failed on the clip"
    idiff -q "$scratch/background.tif" "$scratch/plate.tif" >/dev/null ||
        fail "the plate is not the clip's background"
    "$tool" "$clip/shot.####.tif" -o "$scratch/none.tif" --start 0 -q 2>"$scratch/err" &&
        fail "--start 0 on a sequence numbered from 1 was taken"
    grep -q "no file of the clip carries" "$scratch/err" || fail "$(cat "$scratch/err")"
    [[ -f $root/share/man/man1/framemeld.1 ]] || fail "no manual page"
    grep -qE 'rating(\\)?-range' "$root/share/man/man1/framemeld.1" || fail "manual page lacks options"
    [[ -f $root/share/bash-completion/completions/framemeld ]] || fail "no bash completion"
    echo "install-check: the installed tool in $root renders the background of the clip"
}

case $mode in
    tree)
        build=$2
        DESTDIR="$scratch/root" cmake --install "$build" --prefix /opt/framemeld >/dev/null
        # Moved after installing: the tool finds its modules from where it is now.
        mv "$scratch/root/opt/framemeld" "$scratch/moved"
        run_installed "$scratch/moved"
        ;;
    deb)
        build=$2
        (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" \
            >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
        deb=$(ls "$scratch"/out/framemeld_*.deb)
        dpkg-deb -f "$deb" Depends | grep -q libopenimageio ||
            fail "the package's dependencies lack OpenImageIO: $(dpkg-deb -f "$deb" Depends)"
        dpkg-deb -x "$deb" "$scratch/extracted"
        run_installed "$scratch/extracted/usr"
        ;;
    completion)
        completion_check "$2" "$3"
        ;;
    *)
        fail "unknown mode $mode"
        ;;
esac
