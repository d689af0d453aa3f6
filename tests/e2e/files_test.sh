#!/usr/bin/env bash
# End to end: what trenn does with files, on a virtual X screen. A file named on the command
# line opens without the dialog; F5 loads it again after it was rewritten (the part stays
# ticked); a rewrite that no longer loads brings the Error box and leaves the window as it
# was; with --watch a rewrite shows by itself, also one that replaces the file by a rename;
# and the scratch file goes when the window closes or a signal ends trenn.
#
# usage: files_test.sh TRENN TRENN_INSPECT CLOSE_WINDOW
#   CLOSE_WINDOW: the helper that asks a window to close as a window manager would.
# Exit status: 0 passed, 1 failed, 77 skipped (Xvfb, xdotool, ImageMagick or python3 missing).
# TRENN_E2E_DISPLAY=N uses display :N instead of looking for a free one.

set -u

trenn=$1
inspect=$2
close_window=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if ! command -v python3 >/dev/null 2>&1; then
    echo "SKIP: python3 is not installed"
    exit 77
fi
source "$here/e2e_lib.sh"

# make_model FILE a|b: a two-part model ("_shape", "_base"); b moves the shape's vertices.
make_model() { python3 "$here/make_model.py" "$1" "$2"; }

# like_inspect PICTURE FILE OPTIONS...: the screen shows what trenn-inspect --render draws.
like_inspect() {
    local picture=$1 file=$2
    shift 2
    if ! TEMP="$work/temp" "$inspect" --render "$work/inspect.png" "$@" "$file" >/dev/null; then
        fail "trenn-inspect --render $* $file"
        return 1
    fi
    [ "$(differing "$picture" "$work/inspect.png")" = 0 ]
}

scratch_files() { find "$work/temp" -maxdepth 1 -name 'Trenn_*.tmp' | wc -l; }

# open_window: waits for the Trenn window and sets window, wx and wy.
open_window() {
    window=$(wait_window '^Trenn$') || return 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    wx=$X wy=$Y
}

tick_first_part() { xdotool mousemove $((wx + 14)) $((wy + 27)) click 1; }

mkdir -p "$work/model"
model="$work/model/shape.o"

# ---- a file on the command line ------------------------------------------------------------

make_model "$model" a
trenn_args=(shape.o)
start_trenn "$work/model"
if ! open_window; then
    fail "no Trenn window for trenn shape.o"
    finish
fi
xdotool search --onlyvisible --name '^Open file$' >/dev/null 2>&1 &&
    fail "an \"Open file\" dialog showed although a file was named" ||
    pass "trenn shape.o opens the window without the dialog"
[ "$(scratch_files)" = 1 ] && pass "one scratch file while the window is open" ||
    fail "$(scratch_files) scratch files while the window is open"

tick_first_part
if wait_picture "$work/a.png" has_blue && like_inspect "$work/a.png" "$work/model/shape.o" --check 0; then
    pass "the window shows shape.o with its first part ticked"
else
    fail "the picture is not trenn-inspect's of shape.o with the first part ticked"
fi

# ---- F5 after a rewrite --------------------------------------------------------------------

# The list has the focus after the click on its check box: F5 works from there too.
make_model "$model" b
xdotool key F5
if wait_picture "$work/b.png" differs_from "$work/a.png" && like_inspect "$work/b.png" "$model" --check 0; then
    pass "F5 shows the rewritten file, the part still ticked"
else
    fail "after F5 the picture is not trenn-inspect's of the rewritten file with the first part ticked"
fi
[ "$(scratch_files)" = 1 ] && pass "the reload's scratch file replaced the first one" ||
    fail "$(scratch_files) scratch files after F5"

# ---- a reload that fails keeps the model ---------------------------------------------------

echo "half a model" >"$model"
xdotool key F5
if box=$(wait_window '^Error$'); then
    pass "\"Error\" box when the rewritten file is no ELF file"
    xdotool windowfocus --sync "$box" && xdotool key Return
    sleep 0.5
    if kill -0 "$trenn_pid" 2>/dev/null && wait_window '^Trenn$' >/dev/null &&
        grab_picture "$work/kept.png" && same_as "$work/kept.png" "$work/b.png"; then
        pass "after the Error box the window shows the model it showed before"
    else
        fail "after the Error box trenn ended or its picture changed"
    fi
    grep -qx "trenn: the first four bytes of shape.o are not 7F 45 4C 46" "$work/trenn.log" &&
        pass "the diagnosis on stderr" || fail "no diagnosis on stderr"
else
    fail "no Error box for a reload of a file that is no ELF file"
fi
[ "$(scratch_files)" = 1 ] && pass "the failed load left no scratch file behind" ||
    fail "$(scratch_files) scratch files after the failed reload"

# ---- closing the window removes the scratch file -------------------------------------------

"$close_window" "$window"
if wait_exit; then
    [ "$exit_status" = 0 ] && pass "closing the window ends trenn with status 0" ||
        fail "closing the window: status $exit_status"
    [ "$(scratch_files)" = 0 ] && pass "no scratch file after the window closed" ||
        fail "the scratch file is still there after the window closed"
else
    fail "trenn still runs after its window was asked to close"
    stop_trenn
fi

# ---- --watch -------------------------------------------------------------------------------

make_model "$model" a
trenn_args=(--watch shape.o)
start_trenn "$work/model"
if open_window; then
    tick_first_part
    wait_picture "$work/watch-a.png" has_blue || fail "nothing drawn after the tick"
    # As editors and compilers do: a new file renamed over the old one.
    make_model "$work/model/.shape.o.new" b && mv "$work/model/.shape.o.new" "$model"
    if wait_picture "$work/watch-b.png" differs_from "$work/watch-a.png" &&
        like_inspect "$work/watch-b.png" "$model" --check 0; then
        pass "--watch: a file renamed over the one shown shows without a key"
    else
        fail "--watch: the picture did not follow the file renamed over the one shown"
    fi
    # The watch outlives the rename: a rewrite in place shows as well.
    make_model "$model" a
    if wait_picture "$work/watch-a2.png" same_as "$work/watch-a.png"; then
        pass "--watch: a rewrite in place after the rename shows as well"
    else
        fail "--watch: the rewrite in place after the rename did not show"
    fi
    stop_trenn || fail "trenn ended while watching"
else
    fail "no Trenn window for trenn --watch shape.o"
fi

# ---- memory --------------------------------------------------------------------------------

# With a large part shown and loaded again, trenn holds at most 64 MiB + 4 x the file's size
# more than it does showing a tiny model.
peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$trenn_pid/status"; }
make_model "$work/model/large.o" large
trenn_args=(shape.o)
start_trenn "$work/model"
if open_window; then
    tick_first_part
    wait_picture "$work/small.png" has_blue || fail "nothing drawn for the small model"
    baseline=$(peak_kib)
    stop_trenn
    trenn_args=(large.o)
    start_trenn "$work/model"
    if open_window; then
        tick_first_part
        # A million long edges cover the dots: the picture is all but black.
        wait_picture "$work/large.png" has_black || fail "nothing drawn for the large model"
        xdotool key F5
        sleep 1
        wait_picture "$work/large2.png" has_black || fail "nothing drawn after F5"
        peak=$(peak_kib)
        size_kib=$(($(stat -c %s "$work/model/large.o") / 1024))
        allowed=$((64 * 1024 + 4 * size_kib))
        [ $((peak - baseline)) -le "$allowed" ] &&
            pass "the large model shown and loaded again: $((peak - baseline)) KiB beyond a tiny model's, at most $allowed" ||
            fail "the large model shown and loaded again took $((peak - baseline)) KiB beyond a tiny model's, more than $allowed"
        stop_trenn
    else
        fail "no Trenn window for trenn large.o"
    fi
else
    fail "no Trenn window for the memory baseline"
fi

# ---- signals -------------------------------------------------------------------------------

# Whatever signal ends trenn, it tidies up first and then dies of that signal.
trenn_args=(shape.o)
for signal in INT TERM HUP; do
    rm -f "$work/temp"/Trenn_*.tmp
    start_trenn "$work/model"
    if ! open_window; then
        fail "no Trenn window before SIG$signal"
        continue
    fi
    [ "$(scratch_files)" = 1 ] || fail "no scratch file before SIG$signal"
    kill "-$signal" "$trenn_pid"
    if wait_exit; then
        expected=$((128 + $(kill -l "$signal")))
        [ "$exit_status" = "$expected" ] && [ "$(scratch_files)" = 0 ] &&
            pass "SIG$signal: trenn ends by the signal (status $exit_status), the scratch file removed" ||
            fail "SIG$signal: status $exit_status (want $expected), $(scratch_files) scratch file(s) left"
    else
        fail "trenn still runs after SIG$signal"
        stop_trenn
    fi
done

finish
