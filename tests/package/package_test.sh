#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a throwaway root and checks
# the installed Trenn: its files, that trenn-inspect runs from there, that Depends names the
# package of every shared library the programs load, and that the versions agree. When they
# are installed, lintian (on the .deb) and appstreamcli (on the unpacked tree) must report
# neither errors nor warnings.
# Usage: package_test.sh CPACK BUILD_DIR
set -euo pipefail
cpack=$1
build=$2

for tool in dpkg-deb dpkg-shlibdeps file python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (Debian packages dpkg-dev, file, python3)"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/trenn-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Its own output folder, so that this test and ./package.sh never share CPack's staging area.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
debs=("$work"/out/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    cat "$work/cpack.log"
    echo "FAIL: expected one .deb in the cpack output, found: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"

# Everything lives under /usr: nothing from the build machine's paths or /usr/local.
stray=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v -E '^\./(usr/.*)?$' || true)
[ -z "$stray" ] || fail "files outside /usr: $stray"

for program in trenn trenn-inspect; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is missing or not executable"
done
app_id=org.example.Trenn
entry="$root/usr/share/applications/$app_id.desktop"
for file in "applications/$app_id.desktop" "metainfo/$app_id.metainfo.xml" doc/trenn/copyright \
    doc/trenn/changelog.Debian.gz man/man1/trenn.1.gz man/man1/trenn-inspect.1.gz; do
    [ -s "$root/usr/share/$file" ] || fail "usr/share/$file is missing"
done
for size in 16 32 48 64 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/trenn.png"
    if [ ! -f "$icon" ]; then
        fail "icon ${size}x${size} is missing"
    elif ! file -b "$icon" | grep -q "^PNG image data, $size x $size,"; then
        fail "icon in ${size}x${size} is $(file -b "$icon")"
    fi
done

# The desktop entry must name what the package ships: its program and its icon.
if [ -f "$entry" ]; then
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -x "$root/usr/bin/$exec_program" ] || fail "Exec=$exec_program is not a program of the package"
    icon_name=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon_name.png" ] ||
        fail "Icon=$icon_name has no icon in the package"
fi

# The installed trenn-inspect, not the one in the build folder, loads a sample.
sample="$build/samples/cube.o"
if [ -x "$root/usr/bin/trenn-inspect" ]; then
    status=0
    "$root/usr/bin/trenn-inspect" "$sample" >"$work/inspect.json" 2>"$work/inspect.err" || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$work/inspect.json" "$work/inspect.err"
        fail "installed trenn-inspect exits $status on $sample"
    elif ! python3 - "$work/inspect.json" "$sample" <<'PY'
import json, sys
out = json.load(open(sys.argv[1]))
assert out["object"] == sys.argv[2], out["object"]
assert "error" not in out, out
parts = out["parts"]
assert [p["text"] for p in parts] == ["_cube"], parts
assert parts[0]["vertices"] > 0 and parts[0]["indices"] > 0, parts[0]
PY
    then
        cat "$work/inspect.json"
        fail "installed trenn-inspect does not print the cube's JSON"
    fi
    # Picture output goes through Qt's image writer: it must work from the installed files.
    status=0
    "$root/usr/bin/trenn-inspect" --render "$work/cube.png" "$sample" >/dev/null || status=$?
    if [ "$status" -ne 0 ]; then
        fail "installed trenn-inspect --render exits $status"
    elif ! file -b "$work/cube.png" | grep -q '^PNG image data, 395 x 346,'; then
        fail "installed trenn-inspect --render wrote $(file -b "$work/cube.png")"
    fi
fi

# Depends must cover the package of every library the programs need, Qt's above all.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
dep_names=" $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends" | tr -s ' ') "
for qt in libqt6core6 libqt6gui6 libqt6widgets6; do
    [[ "$dep_names" == *" $qt "* ]] || fail "Depends lacks $qt"
done
declare -A needed_by=()   # library path -> the programs that need it
for program in trenn trenn-inspect; do
    binary="$root/usr/bin/$program"
    [ -x "$binary" ] || continue
    libraries=$(ldd "$binary")
    if grep -q 'not found' <<<"$libraries"; then
        fail "$program: a library is not found: $(grep 'not found' <<<"$libraries")"
    fi
    for soname in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(awk -v so="$soname" '$1 == so { print $3 }' <<<"$libraries")
        [ -n "$path" ] && needed_by[$path]+="$program "
    done
done
# One dpkg -S for all (it reads the whole database each time). With merged /usr the loader
# may report /lib/... for a file dpkg unpacked to /usr/lib/..., or the other way round, so
# each library is asked for under both names.
queries=()
for path in "${!needed_by[@]}"; do queries+=("/usr${path#/usr}" "${path#/usr}"); done
owners=$(dpkg -S "${queries[@]}" 2>/dev/null || true)
for path in "${!needed_by[@]}"; do
    owner=$(awk -v a="/usr${path#/usr}" -v b="${path#/usr}" \
        '$2 == a || $2 == b { sub(/:.*/, "", $1); print $1; exit }' <<<"$owners")
    if [ -z "$owner" ]; then
        fail "${needed_by[$path]}needs $path, which no installed package owns"
    elif [[ "$dep_names" != *" $owner "* ]]; then
        fail "${needed_by[$path]}needs $path from $owner, which Depends does not list"
    fi
done

# One version everywhere: the package, its changelog and what trenn-inspect says it is.
version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(gzip -dc "$root/usr/share/doc/trenn/changelog.Debian.gz" |
    dpkg-parsechangelog -l - -S Version 2>&1) || true
[ "$changelog_version" = "$version" ] ||
    fail "the changelog's latest version is '$changelog_version', the package's $version"
if [ -x "$root/usr/bin/trenn-inspect" ]; then
    said=$("$root/usr/bin/trenn-inspect" --version 2>&1) || true
    [ "$said" = "trenn-inspect ${version%-*}" ] ||
        fail "trenn-inspect --version says '$said' in package version $version"
fi

if command -v lintian >/dev/null; then
    # Informational and pedantic remarks are shown but pass; the override file the package
    # installs holds back the one tag that does not apply to a package made outside Debian.
    status=0
    report=$(lintian --tag-display-limit 0 --display-info --fail-on error,warning "$deb" 2>&1) ||
        status=$?
    report=$(grep -v '^running with root privileges' <<<"$report" || true)
    [ -z "$report" ] || printf '%s\n' "$report" | sed 's/^/lintian: /'
    if [ "$status" -ne 0 ] || grep -q '^[EW]: ' <<<"$report"; then
        fail "lintian reports errors or warnings (exit $status)"
    fi
else
    echo "not checked: lintian is not installed (Debian package lintian)"
fi
if command -v appstreamcli >/dev/null; then
    # The whole installed tree: the metainfo file, and the desktop entry it launches.
    status=0
    report=$(appstreamcli validate-tree --no-net --explain "$root" 2>&1) || status=$?
    printf '%s\n' "$report" | sed 's/^/appstreamcli: /'
    if [ "$status" -ne 0 ] || grep -q '^ *[EW]: ' <<<"$report"; then
        fail "appstreamcli validate-tree reports errors or warnings (exit $status)"
    fi
else
    echo "not checked: appstreamcli is not installed (Debian package appstream)"
fi

for field in Maintainer Section Description Version; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "control field $field is empty"
done
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$arch" = "$(dpkg --print-architecture)" ] || fail "Architecture is $arch"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "ok: $(basename "$deb") installs and runs"
