#!/usr/bin/env bash
# Draws the program icon, a wireframe cube on a light tile, at every size it ships in.
# Needs ImageMagick's convert. The PNGs are committed; run this only to change the artwork.
set -euo pipefail
cd "$(dirname "$0")"

# The artwork lies on a 16 x 16 grid; lines sit on pixel centres so that the small sizes
# stay sharp, and every size scales the grid by size / 16.
front=(2.5 5.5  10.5 5.5  10.5 13.5  2.5 13.5)
back=(5.5 2.5  13.5 2.5  13.5 10.5  5.5 10.5)

for size in 16 32 48 64 128 256; do
    u=$(awk -v s="$size" 'BEGIN { print s / 16 }')
    # Up to 48 px a line is one grid unit wide and lands on whole pixels; larger sizes
    # get thinner lines and relatively smaller dots.
    if (( size <= 48 )); then line=$u; dot=0.85; else line=$(awk -v u="$u" 'BEGIN { print u * 0.6 }'); dot=0.95; fi
    at() { awk -v u="$u" -v x="$1" -v y="$2" 'BEGIN { printf "%g,%g", x * u - 0.5, y * u - 0.5 }'; }

    edges=""
    for i in 0 1 2 3; do
        j=$(( (i + 1) % 4 ))
        edges+="line $(at "${front[2*i]}" "${front[2*i+1]}") $(at "${front[2*j]}" "${front[2*j+1]}") "
        edges+="line $(at "${back[2*i]}" "${back[2*i+1]}") $(at "${back[2*j]}" "${back[2*j+1]}") "
        edges+="line $(at "${front[2*i]}" "${front[2*i+1]}") $(at "${back[2*i]}" "${back[2*i+1]}") "
    done

    dots=""
    for i in 0 1 2 3; do
        for corner in "${front[2*i]} ${front[2*i+1]}" "${back[2*i]} ${back[2*i+1]}"; do
            read -r x y <<<"$corner"
            dots+="circle $(at "$x" "$y") $(at "$x" "$(awk -v y="$y" -v d="$dot" 'BEGIN { print y + d }')") "
        done
    done

    convert -size "${size}x${size}" xc:none \
        -fill '#f3f6fb' -stroke '#8a98ae' -strokewidth "$u" \
        -draw "roundrectangle $(at 0.5 0.5) $(at 15.5 15.5) $(at 3 3)" \
         -fill none -stroke '#1f2937' -strokewidth "$line" -draw "$edges" \
        -stroke none -fill '#1446e6' -draw "$dots" \
        -define png:exclude-chunks=date,time -strip \
        "PNG32:trenn_${size}.png"
done
