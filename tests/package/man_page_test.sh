#!/usr/bin/env bash
# The man pages render without groff or man warnings (the check Debian's lintian runs), and the
# trenn-inspect page describes every option the program's --help prints.
# Usage: man_page_test.sh TRENN_INSPECT MAN_DIR
set -euo pipefail
inspect=$1
man_dir=$2

if ! command -v man >/dev/null || ! command -v groff >/dev/null; then
    echo "skipped: man or groff is not installed (Debian packages man-db, groff-base)"
    exit 77
fi

fail=0
pages=("$man_dir"/*.1)
if [ ! -e "${pages[0]}" ]; then
    echo "FAIL: no man pages in $man_dir"
    exit 1
fi
for page in "${pages[@]}"; do
    # Warnings go to stderr; the rendered text is thrown away.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || { echo "FAIL: man could not render $page"; fail=1; }
    if [ -n "$warnings" ]; then
        printf 'FAIL: %s:\n%s\n' "$page" "$warnings"
        fail=1
    fi
    if grep -q '@[A-Z_]*@' "$page"; then
        echo "FAIL: $page has an unreplaced @VARIABLE@"
        fail=1
    fi
done

page="$man_dir/trenn-inspect.1"
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null)
options=$("$inspect" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
for option in $options; do
    if ! grep -qF -- "$option" <<<"$text"; then
        echo "FAIL: trenn-inspect --help offers $option but $page does not describe it"
        fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "ok: ${#pages[@]} man page(s), options: $(echo $options)"
exit "$fail"
