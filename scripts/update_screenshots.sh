#!/usr/bin/env bash
# Takes the README's pictures with the real viewer under Xvfb, each grabbed by its window:
#   docs/screenshot.png        the torus sample, two thirds of its parts ticked, turned a few steps
#   docs/screenshot-wheel.png  the ferris wheel sample, every part ticked, turned a few steps
#   docs/screenshot-maximised.png  the same in a window as large as the 1920 x 1080 screen
#   docs/screenshot-shaded.png the ferris wheel again, shaded (S) with its edges (E)
# Usage: scripts/update_screenshots.sh [BUILD_DIR]   (default: build; built here if needed)
# The X display is :81 unless TRENN_SCREENSHOT_DISPLAY says otherwise.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
build="${1:-build}"
display="${TRENN_SCREENSHOT_DISPLAY:-:81}"

trenn_step 1/7 "Installing missing Debian packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}" xvfb xdotool imagemagick x11-utils

trenn_step 2/7 "Building trenn and the samples in $build/"
[ -f "$TRENN_ROOT/$build/build.ninja" ] || trenn_configure "$build"
trenn_compile "$build" trenn samples

xvfb_pid=""
trenn_pid=""
work=$(mktemp -d)
cleanup() {
    local status=$?
    [ -n "$trenn_pid" ] && kill "$trenn_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
    trenn_report_failure "$status"
}
trap cleanup EXIT

trenn_step 3/7 "Starting an X server on $display"
if xdpyinfo -display "$display" >/dev/null 2>&1; then
    trenn_note "$display is already running; using it."
else
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        xdpyinfo -display "$display" >/dev/null 2>&1 && break
        kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log"; exit 1; }
        sleep 0.1
    done
fi
export DISPLAY="$display"

# Waits for a visible window whose title matches exactly and prints its id.
wait_window() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$trenn_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/trenn.log" >&2
    echo "no window titled '$1' appeared" >&2
    return 1
}

# shoot SAMPLE OUT "LIST POSITIONS" "KEYS" [maximised]: opens SAMPLE in a fresh Trenn, ticks the
# parts at the list positions, turns the model with the keys and grabs the window into OUT;
# "maximised" first makes the window as large as the screen (there is no window manager to
# maximise it).
shoot() {
    local sample=$1 out=$2 parts=($3) keys=($4) size=${5:-}
    # Opens in samples/, so the dialog takes the bare file name, as a user would type it.
    cd "$TRENN_ROOT/$build/samples"
    QT_QPA_PLATFORM=xcb "$TRENN_ROOT/$build/trenn" >"$work/trenn.log" 2>&1 &
    trenn_pid=$!

    local dialog window
    dialog=$(wait_window "Open file")
    trenn_note "open-file dialog: window $dialog"
    # Without a window manager nothing gives the dialog the keyboard; take it explicitly.
    xdotool windowfocus --sync "$dialog"
    xdotool type --delay 20 "$sample"
    xdotool key Return

    window=$(wait_window Trenn)
    if [ "$size" = maximised ]; then
        xdotool windowmove "$window" 0 0 windowsize "$window" 1920 1080
        sleep 0.5
    fi
    trenn_note "Trenn window: $window ($(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w " x " h }'))"
    sleep 0.5
    # Check boxes of the part list sit 14 px apart in window coordinates.
    local i
    for i in "${parts[@]}"; do
        xdotool mousemove --window "$window" 11 $((27 + 14 * i)) click 1
        sleep 0.1
    done
    # A click gives the picture the keyboard focus; the arrows then turn the model.
    xdotool mousemove --window "$window" 300 150 click 1
    sleep 0.2
    xdotool key --delay 80 "${keys[@]}"
    # Out of the picture, so that no pointer-driven state differs between runs.
    xdotool mousemove 0 0
    sleep 0.5

    mkdir -p "$(dirname "$out")"
    # No time stamps in the file: an unchanged picture gives an unchanged file.
    import -window "$window" -strip -define png:exclude-chunks=date,time "png:$work/shot.png"
    kill "$trenn_pid" 2>/dev/null || true
    wait "$trenn_pid" 2>/dev/null || true
    trenn_pid=""
    # A grab of a window that had not drawn yet is one flat colour; drawn parts add blue dots
    # and black lines to the grey background.
    local colours
    colours=$(convert "$work/shot.png" -format '%k' info:)
    if [ "$colours" -lt 4 ]; then
        echo "the grab has only $colours colour(s): the window was not drawn" >&2
        exit 1
    fi
    mv "$work/shot.png" "$out"
    trenn_note "Wrote ${out#"$TRENN_ROOT"/} ($(identify -format '%w x %h' "$out"), $colours colours)."
}

trenn_step 4/7 "Running Trenn on samples/torus.o and grabbing its window"
# Two thirds of the torus: list positions 0 to 7 of 12.
shoot torus.o "$TRENN_ROOT/docs/screenshot.png" "0 1 2 3 4 5 6 7" \
    "Right Right Right Right Up Up Up Up Up Up"

trenn_step 5/7 "Running Trenn on samples/ferris_wheel.o and grabbing its window"
# Every one of its eight parts.
shoot ferris_wheel.o "$TRENN_ROOT/docs/screenshot-wheel.png" "0 1 2 3 4 5 6 7" \
    "Left Left Left Up Up"

trenn_step 6/7 "Running Trenn on samples/ferris_wheel.o in a window as large as the screen"
shoot ferris_wheel.o "$TRENN_ROOT/docs/screenshot-maximised.png" "0 1 2 3 4 5 6 7" \
    "Left Left Left Up Up" maximised

trenn_step 7/7 "Running Trenn on samples/ferris_wheel.o with surfaces and edges"
shoot ferris_wheel.o "$TRENN_ROOT/docs/screenshot-shaded.png" "0 1 2 3 4 5 6 7" \
    "Left Left Left Up Up s e"
