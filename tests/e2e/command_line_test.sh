#!/usr/bin/env bash
# trenn's command line before any window: --help and --version answer without a display,
# a usage error and an unreachable display each give one line on stderr and their exit
# status, never Qt's abort.
#
# usage: command_line_test.sh TRENN VERSION SAMPLES_DIR
set -u

trenn=$1
version=$2
samples=$3

# A display number no X server answers on: neither its socket nor its lock file exists.
free=
for ((n = 500 + $$ % 300; n < 900; n++)); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        free=$n
        break
    fi
done

no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM)
dead_display=(env -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM "DISPLAY=:$free")

# name | environment (an array name) | arguments | status | stdout (a regular expression)
# | stderr (exact)
failures=0
check() {
    local name=$1 envname=$2 status=$3 out_pattern=$4 err_expected=$5
    shift 5
    local -n environment=$envname
    local out err code
    out=$("${environment[@]}" "$trenn" "$@" 2>"$tmp/err")
    code=$?
    err=$(cat "$tmp/err")
    if [ "$code" = "$status" ] && [[ "$out" =~ $out_pattern ]] && [ "$err" = "$err_expected" ]; then
        echo "ok: $name"
    else
        echo "FAIL: $name: status $code (want $status)"
        echo "  stdout: $out"
        echo "  stderr: $err (want: $err_expected)"
        failures=$((failures + 1))
    fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

check "--help" no_display 0 '^usage: trenn \[--watch\] \[FILE\]'$'\n''.*--watch.*--version' "" --help
check "-h, after a bad option" no_display 0 '^usage: trenn ' "" --bogus -h
check "--version" no_display 0 "^trenn $version\$" "" --version
check "--version after a file" no_display 0 "^trenn $version\$" "" model.o --version
check "unknown option" no_display 2 '^$' "trenn: unknown option --bogus (see trenn --help)" --bogus model.o
check "two files" no_display 2 '^$' "trenn: more than one file: a.o and b.o (see trenn --help)" a.o b.o
check "no display at all" no_display 1 '^$' \
    "trenn: no display is set (neither DISPLAY nor WAYLAND_DISPLAY)" "$samples/cube.o"
check "a display nobody answers on" dead_display 1 '^$' \
    "trenn: cannot connect to the display \":$free\"" "$samples/cube.o"
check "--watch, no display" no_display 1 '^$' \
    "trenn: no display is set (neither DISPLAY nor WAYLAND_DISPLAY)" --watch

[ "$failures" -eq 0 ] && echo "all checks passed" || echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
