#!/usr/bin/env bash
# The desktop entry passes desktop-file-validate without a single remark: no error, no
# warning and no hint (one main menu category, additional ones that fit it).
# Usage: desktop_entry_test.sh ENTRY.desktop
set -euo pipefail
entry=$1

if ! command -v desktop-file-validate >/dev/null; then
    echo "skipped: desktop-file-validate is not installed (Debian package desktop-file-utils)"
    exit 77
fi

status=0
report=$(desktop-file-validate "$entry" 2>&1) || status=$?
if [ "$status" -ne 0 ] || [ -n "$report" ]; then
    printf '%s\n' "$report"
    echo "FAIL: desktop-file-validate has remarks on $entry (exit $status)"
    exit 1
fi
echo "ok: $entry"
