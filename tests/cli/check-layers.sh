#!/usr/bin/env bash
# The tool's folders are layers, built from the bottom up: a folder may include its own headers
# and those of the folders below it, never one above it, so no two include each other. The
# OpenImageIO module (oiio/) and the alignment module (align/) are modules of their own: each
# builds on the layers it shares with the tool and implements an interface of the formats layer,
# and nothing of the tool includes them. No
# layer reaches into the plug-in's sources but for the processor detector the two share.
#   check-layers.sh SOURCE_DIR
set -euo pipefail
cd "$1/cli"

# The order the build makes them in, from cli/CMakeLists.txt; oiio/ is the module beside them.
read -r -a layers < <(sed -n 's/^foreach(layer \(.*\))$/\1/p' CMakeLists.txt | tr -s ' ' |
                      sed 's/ oiio / /')
((${#layers[@]} > 5)) || { echo "check-layers: no layer order in cli/CMakeLists.txt" >&2; exit 1; }
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

failures=0
fail() { echo "check-layers: $*" >&2; failures=$((failures + 1)); }

while IFS= read -r -d '' file; do
    room=${file%%/*}
    [[ $file == */* ]] || room=main
    while IFS= read -r include; do
        case $include in
        cli/*) ;;
        engine/CpuFeatures.h) continue ;;
        engine/* | host/* | render/*) fail "$file includes the plug-in's $include"; continue ;;
        *) continue ;;
        esac
        target=${include#cli/}
        target=${target%%/*}
        [[ $target == "$room" ]] && continue
        if [[ $room == main ]]; then
            [[ $target == oiio ]] && fail "$file includes the OpenImageIO module's $include"
            [[ $target == align ]] && fail "$file includes the alignment module's $include"
            continue
        fi
        if [[ $target == align ]]; then
            fail "$file includes the alignment module's $include"
            continue
        fi
        if [[ $room == align ]]; then
            case $include in
            cli/core/* | cli/formats/AlignModule.h | cli/formats/AlignTransform.h) ;;
            *) fail "the alignment module's $file includes $include" ;;
            esac
            continue
        fi
        if [[ $target == oiio ]]; then
            fail "$file includes the OpenImageIO module's $include"
            continue
        fi
        if [[ $room == oiio ]]; then
            case $include in
            cli/core/* | cli/files/* | cli/pixels/* | cli/formats/OiioModule.h) ;;
            *) fail "the OpenImageIO module's $file includes $include" ;;
            esac
            continue
        fi
        if [[ -z ${rank[$room]+x} || -z ${rank[$target]+x} ]]; then
            fail "$file: no layer order for $room or $target"
        elif ((rank[$target] > rank[$room])); then
            fail "$file ($room) includes $include from the layer above it ($target)"
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | tr '\n' '\0')

if ((failures > 0)); then
    echo "check-layers: $failures include(s) run against the layers (see cli/CMakeLists.txt)" >&2
    exit 1
fi
echo "check-layers: every include of cli/ runs downward"
