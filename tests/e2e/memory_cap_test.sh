#!/usr/bin/env bash
# trenn under a limit on its address space (ulimit -v): whatever the limit lets it do, it never
# hangs. It either ends by itself with a line on stderr, or it runs (perhaps showing its Error
# box) and a SIGTERM ends it within a second, its scratch file removed.
#
# usage: memory_cap_test.sh TRENN SAMPLES_DIR
set -u

trenn=$1
samples=$2
if ! command -v prlimit >/dev/null 2>&1; then
    echo "SKIP: prlimit (util-linux) is not installed"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# The font library may run out of memory half-way through scanning the fonts and keep the
# half-made list in its cache, which every program would then read: it gets a cache of its
# own here.
cat >"$work/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <cachedir>$work/fontcache</cachedir>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
</fontconfig>
CONF
export FONTCONFIG_FILE="$work/fonts.conf"

for mib in 90 100 120 150 200 300; do
    mkdir -p "$work/temp"
    QT_QPA_PLATFORM=offscreen TEMP="$work/temp" \
        prlimit --as=$((mib * 1024 * 1024)) "$trenn" "$samples/ferris_wheel.o" >"$work/out" 2>&1 &
    pid=$!
    ended=
    for _ in $(seq 30); do
        kill -0 "$pid" 2>/dev/null || { ended=1; break; }
        sleep 0.1
    done
    if [ -n "$ended" ]; then
        wait "$pid"
        status=$?
        if [ "$status" -ge 128 ] || ! grep -q '^trenn: ' "$work/out"; then
            echo "FAIL: $mib MiB: ended with status $status without saying why:"
            sed 's/^/    /' "$work/out"
            failures=$((failures + 1))
        else
            echo "ok: $mib MiB: ended with status $status: $(grep '^trenn: ' "$work/out" | head -1)"
        fi
    else
        sent=$(date +%s%N)
        kill -TERM "$pid"
        for _ in $(seq 20); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "FAIL: $mib MiB: still running a second after SIGTERM"
            kill -KILL "$pid"
            failures=$((failures + 1))
        fi
        wait "$pid"
        status=$?
        took=$((($(date +%s%N) - sent) / 1000000))
        if [ "$status" != 143 ]; then
            echo "FAIL: $mib MiB: SIGTERM gave status $status"
            failures=$((failures + 1))
        else
            echo "ok: $mib MiB: running, ended $took ms after SIGTERM"
        fi
    fi
    left=$(find "$work/temp" -name 'Trenn_*' | wc -l)
    if [ "$left" != 0 ]; then
        echo "FAIL: $mib MiB: $left scratch file(s) left behind"
        failures=$((failures + 1))
    fi
    rm -rf "$work/temp"
done
[ "$failures" = 0 ]
