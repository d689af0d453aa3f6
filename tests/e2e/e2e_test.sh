#!/usr/bin/env bash
# End to end: the real trenn on a virtual X screen, driven and looked at as a person would:
# choose a file in the "Open file" dialog, tick a part, turn the model with the keys; a file
# that is no ELF file ends with the "Error" box; a cancelled dialog ends quietly.
#
# usage: e2e_test.sh TRENN SAMPLES_DIR [TRENN_INSPECT]
#   With TRENN_INSPECT the pictures on the screen are also compared with its --render output.
# Exit status: 0 passed, 1 failed, 77 skipped (Xvfb, xdotool or ImageMagick missing).
# TRENN_E2E_DISPLAY=N uses display :N instead of looking for a free one.

set -u

trenn=$1
samples=$2
inspect=${3:-}
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

# ---- helpers -------------------------------------------------------------------------------

blank() { [ "$(colours "$1")" -eq 1 ] && [ "$(count "$1" '#FFFFFF')" -gt 0 ]; }

# like_inspect PICTURE OPTIONS...: the screen shows what trenn-inspect --render draws.
like_inspect() {
    [ -n "$inspect" ] || return 0
    local picture=$1
    shift
    if ! TEMP="$work/temp" "$inspect" --render "$work/inspect.png" "$@" "$work/view/torus.o" >/dev/null; then
        fail "trenn-inspect --render $*"
        return
    fi
    local n
    n=$(differing "$picture" "$work/inspect.png")
    [ "$n" = 0 ] && pass "the picture is trenn-inspect --render $*" ||
        fail "the picture differs from trenn-inspect --render $* in $n pixels"
}

# ---- viewing a model -----------------------------------------------------------------------

mkdir -p "$work/view"
cp "$samples/torus.o" "$work/view/"
start_trenn "$work/view"
choose torus.o
if ! window=$(wait_window '^Trenn$'); then
    fail "no Trenn window after choosing torus.o"
    cat "$work/trenn.log"
    exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window")"
wx=$X wy=$Y
[ "$WIDTH" = 536 ] && [ "$HEIGHT" = 358 ] && pass "window 536 x 358 at $wx,$wy" ||
    fail "window is $WIDTH x $HEIGHT"
ls "$work/temp"/Trenn_*.tmp >/dev/null 2>&1 && pass "scratch file in TEMP" ||
    fail "no scratch file Trenn_*.tmp in TEMP"

# Nothing drawn before the first tick: the picture area holds its white background only.
if wait_picture "$work/empty.png" blank; then
    pass "nothing drawn before the first tick"
else
    fail "picture area is not plain white before the first tick: $(convert "$work/empty.png" -format %c histogram:info:- | head -n 3)"
fi

# Tick the first part by clicking its check box.
xdotool mousemove $((wx + 14)) $((wy + 27)) click 1
if wait_picture "$work/ticked.png" has_blue; then
    blue=$(count "$work/ticked.png" '#0000FF')
    black=$(count "$work/ticked.png" '#000000')
    [ "$black" -gt 0 ] && pass "ticked: $blue blue and $black black pixels" ||
        fail "ticked: blue dots but no black edges"
    like_inspect "$work/ticked.png" --check 0
else
    fail "no blue dots after ticking the first part"
fi

# A click gives the picture the keyboard focus.
xdotool mousemove $((wx + 330)) $((wy + 330)) click 1

xdotool key Left
if wait_picture "$work/left.png" differs_from "$work/ticked.png"; then
    pass "Left turns the model"
    like_inspect "$work/left.png" --check 0 --keys Left
else
    fail "the picture did not change on Left"
fi

xdotool key Home
if wait_picture "$work/home.png" same_as "$work/ticked.png"; then
    pass "Home brings back the first picture"
else
    fail "after Home the picture differs from the first in $(differing "$work/home.png" "$work/ticked.png") pixels"
fi

# One drag move to the right turns one step, the way Left does.
xdotool mousemove $((wx + 250)) $((wy + 200)) mousedown 1
xdotool mousemove $((wx + 290)) $((wy + 200))
xdotool mouseup 1
if wait_picture "$work/dragged.png" same_as "$work/left.png"; then
    pass "a drag to the right turns like Left"
else
    fail "after a drag to the right the picture differs from Left's in $(differing "$work/dragged.png" "$work/left.png") pixels"
fi

stop_trenn || fail "trenn ended while viewing"

# ---- a file that is no ELF file ------------------------------------------------------------

mkdir -p "$work/bad"
echo "shopping list: bread, milk" >"$work/bad/notes.o"
start_trenn "$work/bad"
choose notes.o
if box=$(wait_window '^Error$'); then
    pass "\"Error\" box for notes.o"
    xdotool windowfocus --sync "$box" && xdotool key Return
    if wait_exit; then
        [ "$exit_status" -ne 0 ] && pass "trenn ended with status $exit_status" ||
            fail "trenn ended with status 0 after the Error box"
    else
        fail "trenn still runs after the Error box was closed"
    fi
else
    fail "no Error box for notes.o"
fi
xdotool search --onlyvisible --name '^Trenn$' >/dev/null 2>&1 && fail "a Trenn window showed for notes.o"
[ -z "$trenn_pid" ] || { kill "$trenn_pid" 2>/dev/null; wait "$trenn_pid" 2>/dev/null; trenn_pid=; }

# ---- cancelling the dialog -----------------------------------------------------------------

start_trenn "$work/view"
if dialog=$(wait_window '^Open file$'); then
    xdotool windowfocus --sync "$dialog" && xdotool key Escape
    if wait_exit; then
        [ "$exit_status" -eq 0 ] && pass "Escape in the dialog ends trenn with status 0" ||
            fail "Escape in the dialog: status $exit_status"
    else
        fail "trenn still runs after Escape in the dialog"
        xdotool search --onlyvisible --name '^Trenn$' >/dev/null 2>&1 && fail "a Trenn window showed after Escape"
    fi
else
    fail "no \"Open file\" dialog"
fi

finish
