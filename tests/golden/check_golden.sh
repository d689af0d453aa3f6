#!/usr/bin/env bash
# Renders one golden case again and compares it with the stored picture, pixel for pixel.
# usage: check_golden.sh INSPECT COMPARE SAMPLES_DIR GOLDEN_DIR NAME
set -euo pipefail
inspect=$1 compare=$2 samples=$3 golden=$4 name=$5

line=$(awk -v n="$name" '$1 == n' "$golden/cases.txt")
if [ -z "$line" ]; then
    echo "no golden case $name in $golden/cases.txt" >&2
    exit 1
fi
read -r _ sample options <<<"$line"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2086  # the options are words
TEMP="$work" "$inspect" --render "$work/$name.png" $options "$samples/$sample" >/dev/null
"$compare" "$golden/$name.png" "$work/$name.png"
