#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without errors or warnings (hints are fine:
# the entry is meant to sit in more than one main menu category) and starts the program
# without a file argument, since Trenn asks for its file itself.
# Usage: desktop_entry_test.sh ENTRY.desktop
set -euo pipefail
entry=$1

if ! command -v desktop-file-validate >/dev/null; then
    echo "skipped: desktop-file-validate is not installed (Debian package desktop-file-utils)"
    exit 77
fi

status=0
report=$(desktop-file-validate "$entry" 2>&1) || status=$?
printf '%s\n' "$report"
if [ "$status" -ne 0 ] || grep -Eq ': (error|warning): ' <<<"$report"; then
    echo "FAIL: desktop-file-validate reports problems in $entry (exit $status)"
    exit 1
fi

exec_line=$(sed -n 's/^Exec=//p' "$entry")
if [ -z "$exec_line" ] || [[ "$exec_line" == *%* ]]; then
    echo "FAIL: Exec must start the program without a file field code, found '$exec_line'"
    exit 1
fi
echo "ok: $entry"
