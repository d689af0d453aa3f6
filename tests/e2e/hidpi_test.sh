#!/usr/bin/env bash
# End to end on a screen scaled by two (QT_SCALE_FACTOR=2): trenn shown at scale 1 and at
# scale 2 on the same virtual screen and the two screenshots compared. At scale 2 the dialog
# and the window are twice as large and lie on the screen, no caption is cut off by its
# control, the picture is the same one twice as fine (drawn at the screen's pixels, not a
# doubled copy: 4 x 4 dots, edges 2 pixels thick, only pure colours), and keys and drags turn
# it as at scale 1.
#
# usage: hidpi_test.sh TRENN SAMPLES_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (Xvfb, xdotool or ImageMagick missing).

set -u

trenn=$1
samples=$2
# The dialog at scale 2 needs more than 1024 x 768.
screen=1280x1024x24
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
mkdir -p "$work/view"
cp "$samples/torus.o" "$work/view/"

# ---- helpers -------------------------------------------------------------------------------

# on_screen X Y W H: the rectangle lies wholly on the screen.
on_screen() { [ "$1" -ge 0 ] && [ "$2" -ge 0 ] && [ $(($1 + $3)) -le "$screen_w" ] && [ $(($2 + $4)) -le "$screen_h" ]; }
# near A B TOLERANCE
near() { [ $(($1 - $2)) -le "$3" ] && [ $(($2 - $1)) -le "$3" ]; }

# ink IMAGE X Y W H: "left top right bottom count" of the dark pixels (text, check marks)
# inside that rectangle, relative to it; "none" when there are none.
ink() {
    local out
    out=$(convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -threshold 50% -negate \
        -bordercolor black -border 1 -format '%@ %[fx:round(mean*w*h)]' info:)
    local box=${out% *} n=${out#* }
    if [ "$n" -eq 0 ]; then
        echo none
        return
    fi
    local w=${box%%x*} rest=${box#*x}
    local h=${rest%%+*} x=${rest#*+}
    x=${x%%+*}
    local y=${rest##*+}
    echo "$((x - 1)) $((y - 1)) $((x - 1 + w - 1)) $((y - 1 + h - 1)) $n"
}

# pixels IMAGE: how many pixels of the mask (white on black) are set.
pixels() { convert "$1" -format '%[fx:round(mean*w*h)]' info:; }

# masks PICTURE PREFIX: PREFIX-ink (anything not white), PREFIX-blue and PREFIX-black, for a
# picture of white, blue and black only.
masks() {
    convert "$1" -channel R -separate +channel -negate "$2-ink.png"
    convert "$1" -channel B -separate +channel -negate "$2-black.png"
    convert "$1" -channel B -separate +channel \( "$1" -channel R -separate +channel \) \
        -compose Minus_Src -composite "$2-blue.png"
}
# outside MASK AREA: pixels of MASK not covered by AREA.
outside() { convert "$1" "$2" -compose Minus_Src -composite -format '%[fx:round(mean*w*h)]' info:; }


# view K: trenn at QT_SCALE_FACTOR=K opens torus.o and ticks its second part. Leaves the
# dialog's and the window's geometry in dialog_K and window_K ("x y w h"), the window as
# it shows then in $work/window-K.png and its picture area in $work/picture-K.png.
view() {
    k=$1
    start_trenn "$work/view" QT_SCALE_FACTOR="$k"
    local dialog
    if ! dialog=$(wait_window '^Open file$'); then
        fail "scale $k: no \"Open file\" dialog"
        return 1
    fi
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    eval "dialog_$k='$X $Y $WIDTH $HEIGHT'"
    choose torus.o || return 1
    if ! window=$(wait_window '^Trenn$'); then
        fail "scale $k: no Trenn window after choosing torus.o"
        return 1
    fi
    eval "$(xdotool getwindowgeometry --shell "$window")"
    wx=$X wy=$Y
    eval "window_$k='$X $Y $WIDTH $HEIGHT'"
    # _torus_2 lies wholly inside the picture, so that no dot or edge is cut at its border.
    xdotool mousemove $((wx + 14 * k)) $((wy + 41 * k)) click 1
    if ! wait_picture "$work/picture-$k.png" has_blue; then
        fail "scale $k: no blue dots after ticking _torus_2"
        return 1
    fi
    import -window root "$work/screen.png" &&
        convert "$work/screen.png" -crop "$WIDTH"x"$HEIGHT"+"$wx"+"$wy" +repage "$work/window-$k.png"
}

# ---- scale 1, then scale 2 -----------------------------------------------------------------

view 1 || finish
stop_trenn || fail "scale 1: trenn ended while viewing"
view 2 || finish
echo "scale 1: dialog $dialog_1, window $window_1; scale 2: dialog $dialog_2, window $window_2"

# ---- sizes ---------------------------------------------------------------------------------

read -r _ _ d1w d1h <<<"$dialog_1"
read -r d2x d2y d2w d2h <<<"$dialog_2"
near "$d2w" $((2 * d1w)) 2 && near "$d2h" $((2 * d1h)) 2 &&
    pass "the dialog is twice as large: $d2w x $d2h against $d1w x $d1h" ||
    fail "the dialog at scale 2 is $d2w x $d2h, at scale 1 $d1w x $d1h"
on_screen "$d2x" "$d2y" "$d2w" "$d2h" && pass "the dialog lies on the screen" ||
    fail "the dialog at $d2x,$d2y ($d2w x $d2h) leaves the $screen_w x $screen_h screen"

read -r _ _ w1w w1h <<<"$window_1"
read -r w2x w2y w2w w2h <<<"$window_2"
[ "$w1w" = 536 ] && [ "$w1h" = 358 ] || fail "the window at scale 1 is $w1w x $w1h"
[ "$w2w" = $((2 * w1w)) ] && [ "$w2h" = $((2 * w1h)) ] &&
    pass "the window is twice as large: $w2w x $w2h" ||
    fail "the window at scale 2 is $w2w x $w2h, at scale 1 $w1w x $w1h"
on_screen "$w2x" "$w2y" "$w2w" "$w2h" && pass "the window lies on the screen" ||
    fail "the window at $w2x,$w2y ($w2w x $w2h) leaves the $screen_w x $screen_h screen"

# ---- the controls --------------------------------------------------------------------------

# Each caption inside the room its control has (in window units of scale 1: x y w h). Text
# cut off by its control ends on the control's edge; here it must end short of the right and
# bottom edges, and at scale 2 span twice what it spans at scale 1.
check_room() {
    local name=$1 x=$2 y=$3 w=$4 h=$5 box1 box2
    box1=$(ink "$work/window-1.png" "$x" "$y" "$w" "$h")
    box2=$(ink "$work/window-2.png" $((2 * x)) $((2 * y)) $((2 * w)) $((2 * h)))
    if [ "$box1" = none ] || [ "$box2" = none ]; then
        fail "$name: no text (scale 1: $box1, scale 2: $box2)"
        return
    fi
    local l1 t1 r1 b1 l2 t2 r2 b2
    read -r l1 t1 r1 b1 _ <<<"$box1"
    read -r l2 t2 r2 b2 _ <<<"$box2"
    if [ "$r2" -gt $((2 * w - 3)) ] || [ "$b2" -gt $((2 * h - 3)) ]; then
        fail "$name: the text reaches the edge of its room at scale 2 (ink $l2..$r2 x $t2..$b2 in $((2 * w)) x $((2 * h)))"
    elif ! near "$l2" $((2 * l1)) 4 || ! near "$r2" $((2 * r1)) 4 ||
        ! near "$t2" $((2 * t1)) 4 || ! near "$b2" $((2 * b1)) 4; then
        fail "$name: ink $l2..$r2 x $t2..$b2 at scale 2 is not twice $l1..$r1 x $t1..$b1 at scale 1"
    else
        pass "$name: whole and twice as large (ink $l2..$r2 x $t2..$b2 at scale 2)"
    fi
}
check_room '"Parts to show:"' 0 0 133 20
check_room "part list" 6 22 121 285       # the list inside its frame
check_room '"Rotate:"' 0 309 133 19
check_room '"Left/Right"' 4 328 61 25
check_room '"Up/Down"' 68 328 61 25

# ---- the picture ---------------------------------------------------------------------------

p1=$work/picture-1.png
p2=$work/picture-2.png
n_colours=$(colours "$p2")
blue=$(count "$p2" '#0000FF')
black=$(count "$p2" '#000000')
white=$(count "$p2" '#FFFFFF')
[ "$n_colours" -eq 3 ] && [ $((blue + black + white)) -eq $((790 * 692)) ] &&
    pass "the picture holds white, $blue blue and $black black pixels and nothing else" ||
    fail "the picture at scale 2 is smoothed: $n_colours colours ($(convert "$p2" -format %c histogram:info:- | sort -rn | head -n 5 | tr -s ' \n' ' '))"

# The same drawing, where the scale-1 one lies, twice as fine.
read -r ink1 < <(convert "$p1" -format %@ info:)
read -r ink2 < <(convert "$p2" -format %@ info:)
IFS='x+' read -r iw1 ih1 ix1 iy1 <<<"$ink1"
IFS='x+' read -r iw2 ih2 ix2 iy2 <<<"$ink2"
near "$ix2" $((2 * ix1)) 3 && near "$iy2" $((2 * iy1)) 3 && near "$iw2" $((2 * iw1)) 3 &&
    near "$ih2" $((2 * ih1)) 3 &&
    pass "the model spans $ink2 at scale 2, twice $ink1" ||
    fail "the model spans $ink2 at scale 2 against $ink1 at scale 1"

masks "$p2" "$work/m2"
convert "$work/m2-ink.png" -morphology Open Rectangle:4x4 "$work/m2-ink-4x4.png"
convert "$work/m2-black.png" -morphology Open Rectangle:2x2 "$work/m2-black-2x2.png"
# Edges are drawn over the dots, so a dot shows as the blue part of a 4 x 4 inked square.
n=$(outside "$work/m2-blue.png" "$work/m2-ink-4x4.png")
[ "$n" -eq 0 ] && pass "every blue pixel lies in an inked 4 x 4 square" ||
    fail "$n of $blue blue pixels lie in no inked 4 x 4 square: dots smaller than 4 x 4"
n=$(outside "$work/m2-black.png" "$work/m2-black-2x2.png")
[ "$n" -eq 0 ] && pass "every black pixel lies in a black 2 x 2 square" ||
    fail "$n of $black black pixels lie in no black 2 x 2 square: edges thinner than 2 pixels"
# A picture drawn at scale 1 and shown doubled would pass the two above; one drawn at the
# screen's own pixels has edges that start on odd pixels too.
convert "$p2" -sample 50% -sample 200% "$work/doubled.png"
n=$(differing "$p2" "$work/doubled.png")
[ "$n" -gt $(((blue + black) / 10)) ] && pass "drawn at the screen's pixels, not doubled ($n pixels off the 2 x 2 grid)" ||
    fail "the picture is a doubled scale-1 picture: only $n pixels differ from its 2 x 2 blocks"

# ---- turning at scale 2 --------------------------------------------------------------------

xdotool mousemove $((wx + 330 * k)) $((wy + 330 * k)) click 1  # focus to the picture
xdotool key Left
if wait_picture "$work/left.png" differs_from "$p2"; then
    pass "Left turns the model"
else
    fail "the picture did not change on Left"
fi
xdotool key Home
wait_picture "$work/home.png" same_as "$p2" && pass "Home brings back the first picture" ||
    fail "after Home the picture differs from the first in $(differing "$work/home.png" "$p2") pixels"
xdotool mousemove $((wx + 250 * k)) $((wy + 200 * k)) mousedown 1
xdotool mousemove $((wx + 290 * k)) $((wy + 200 * k))
xdotool mouseup 1
wait_picture "$work/dragged.png" same_as "$work/left.png" && pass "a drag to the right turns like Left" ||
    fail "after a drag to the right the picture differs from Left's in $(differing "$work/dragged.png" "$work/left.png") pixels"

stop_trenn || fail "scale 2: trenn ended while viewing"
finish
