# Shared by the end-to-end scripts (sourced, not run): a private Xvfb, trenn started in a
# folder of its own, the "Open file" dialog answered with xdotool, and colour counts with
# ImageMagick.
#
# Set `trenn` (the program) before sourcing; `screen` (WIDTHxHEIGHTxDEPTH) may choose the
# virtual screen. Sourcing makes the scratch folder `work`, cleans up on exit and exits 77
# when Xvfb, xdotool or ImageMagick is missing.
# TRENN_E2E_DISPLAY=N uses display :N instead of looking for a free one.

readonly kSkip=77
readonly kWait=10  # seconds for anything to show up
screen=${screen:-1024x768x24}

for tool in Xvfb xdotool import convert compare; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit "$kSkip"
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/trenn-e2e-XXXXXX")
xvfb_pid=
trenn_pid=
cleanup() {
    if [ -n "$trenn_pid" ] && kill -0 "$trenn_pid" 2>/dev/null; then
        kill "$trenn_pid" 2>/dev/null
        wait "$trenn_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# finish: the exit status of the script, with trenn's output when a check failed.
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed; trenn's output:"
        cat "$work/trenn.log" 2>/dev/null
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# ---- the X server --------------------------------------------------------------------------

start_xvfb() {
    local n=$1
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && return 1
    Xvfb ":$n" -screen 0 "$screen" -nolisten tcp -noreset >"$work/xvfb-$n.log" 2>&1 &
    xvfb_pid=$!
    local deadline=$((SECONDS + kWait))
    while [ "$SECONDS" -lt "$deadline" ]; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then  # lost the race for this display
            wait "$xvfb_pid" 2>/dev/null
            xvfb_pid=
            return 1
        fi
        # Ours only when the lock names our server: a loser of the race may still be alive.
        if [ "$({ tr -d ' \n' <"/tmp/.X$n-lock"; } 2>/dev/null)" = "$xvfb_pid" ] &&
            DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            export DISPLAY=":$n"
            return 0
        fi
        sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
    return 1
}

if [ -n "${TRENN_E2E_DISPLAY:-}" ]; then
    start_xvfb "$TRENN_E2E_DISPLAY" || { echo "FAIL: cannot start Xvfb on :$TRENN_E2E_DISPLAY"; exit 1; }
else
    # Spread over a range far from the usual displays, so that parallel runs rarely meet.
    base=$((300 + $$ % 200))
    for ((i = 0; i < 50; i++)); do
        start_xvfb $((base + i)) && break
    done
    [ -n "$xvfb_pid" ] || { echo "FAIL: no free display for Xvfb"; exit 1; }
fi
echo "Xvfb on $DISPLAY"

export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# ---- trenn ---------------------------------------------------------------------------------

# wait_window NAME_REGEX: prints the id of the first visible window with that name.
wait_window() {
    local deadline=$((SECONDS + kWait)) id
    while [ "$SECONDS" -lt "$deadline" ]; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# start_trenn FOLDER [NAME=VALUE...]: runs trenn there, with TEMP pointing at its own folder
# and the given variables added to its environment; its arguments are those in the array
# trenn_args (none when unset).
start_trenn() {
    local folder=$1
    shift
    mkdir -p "$work/temp"
    (cd "$folder" && exec env TEMP="$work/temp" "$@" "$trenn" ${trenn_args[@]+"${trenn_args[@]}"}) \
        >"$work/trenn.log" 2>&1 &
    trenn_pid=$!
}

# stop_trenn: ends the running trenn; fails when it had already ended.
stop_trenn() {
    [ -n "$trenn_pid" ] || return 1
    local alive=0
    kill -0 "$trenn_pid" 2>/dev/null || alive=1
    kill "$trenn_pid" 2>/dev/null
    wait "$trenn_pid" 2>/dev/null
    trenn_pid=
    return "$alive"
}

# wait_exit: waits for trenn to end and sets exit_status (empty when it did not end).
wait_exit() {
    local deadline=$((SECONDS + kWait))
    exit_status=
    while [ "$SECONDS" -lt "$deadline" ]; do
        if ! kill -0 "$trenn_pid" 2>/dev/null; then
            wait "$trenn_pid"
            exit_status=$?
            trenn_pid=
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# choose FILE: types the file name into the open-file dialog and confirms it.
choose() {
    local dialog
    if ! dialog=$(wait_window '^Open file$'); then
        fail "no \"Open file\" dialog"
        return 1
    fi
    xdotool windowfocus --sync "$dialog" && xdotool type --delay 20 "$1" && xdotool key Return
}

# ---- pictures ------------------------------------------------------------------------------

colours() { convert "$1" -format %c histogram:info:- | wc -l; }
# count FILE HEX: pixels of that colour, such as #0000FF.
count() {
    convert "$1" -format %c histogram:info:- |
        awk -v hex="$2" '$0 ~ " " hex " " { sub(":", "", $1); print $1; found = 1 } END { if (!found) print 0 }'
}
differing() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

# ---- the picture area on the screen ----------------------------------------------------------

# grab_picture OUT: the inside of the picture area as it is on the screen now, for the window
# at (wx, wy) drawn at screen scale k (1 when unset).
grab_picture() {
    local s=${k:-1}
    import -window root "$work/screen.png" &&
        convert "$work/screen.png" -crop "$((395 * s))x$((346 * s))+$((wx + 135 * s))+$((wy + 6 * s))" +repage "$1"
}

# wait_picture OUT CHECK...: grabs until CHECK (a command, given OUT last) succeeds.
wait_picture() {
    local out=$1 deadline=$((SECONDS + kWait))
    shift
    while [ "$SECONDS" -lt "$deadline" ]; do
        grab_picture "$out" && "$@" "$out" && return 0
        sleep 0.2
    done
    return 1
}
has_blue() { [ "$(count "$1" '#0000FF')" -gt 0 ]; }
has_black() { [ "$(count "$1" '#000000')" -gt 0 ]; }
differs_from() { [ "$(differing "$1" "$2")" != 0 ]; }
same_as() { [ "$(differing "$1" "$2")" = 0 ]; }
