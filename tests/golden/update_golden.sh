#!/usr/bin/env bash
# Writes the golden pictures tests/data/golden/*.png anew from the samples, with the options
# listed in tests/data/golden/cases.txt. Run it after a deliberate change of the drawing, look
# at the pictures, then commit them.
# usage: tests/golden/update_golden.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
golden=$root/tests/data/golden
inspect=$build/trenn-inspect

cmake --build "$build" --target trenn-inspect samples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

grep -v -e '^#' -e '^[[:space:]]*$' "$golden/cases.txt" | while read -r name sample options; do
    # shellcheck disable=SC2086  # the options are words
    TEMP="$work" "$inspect" --render "$golden/$name.png" $options "$build/samples/$sample" >/dev/null
    echo "wrote $golden/$name.png"
done
