#!/usr/bin/env bash
# Shared set-up for run.sh, test.sh, package.sh and friends: installs the Debian packages the
# build needs (only the missing ones) and configures and builds one build folder, saying what
# it does as it goes. Errors from apt-get, cmake and the compiler are always shown.
# Usage: source scripts/setup.sh
#        trenn_step N/M "what"            a numbered step line
#        trenn_install_packages PKG...    installs the missing ones
#        trenn_build DIR [cmake args]     trenn_configure + trenn_compile
#        trenn_configure DIR [cmake args] configures DIR (Ninja, Release unless -DCMAKE_BUILD_TYPE=
#                                         is among the arguments)
#        trenn_compile DIR [target...]    builds DIR (every target when none is named)
#        trenn_install_npm_readers DIR    the export tests' npm readers into DIR/npm-readers
set -euo pipefail

TRENN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TRENN_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libxcb1-dev libgtest-dev libgmock-dev)
# What package.sh and the packaging tests need on top of the build.
TRENN_PACKAGE_PACKAGES=(dpkg-dev file desktop-file-utils man-db groff-base python3)
# What the package tests check the .deb and its software-centre entry with.
TRENN_PACKAGE_CHECK_PACKAGES=(lintian appstream)
# What fuzz.sh needs: clang, and libFuzzer with clang's sanitizer run-time libraries, which
# libclang-rt-dev brings for the default clang (libclang-rt-14-dev on Debian 12). The clang
# packages merely recommend them, and recommendations are not installed here. The sanitizer
# build with g++ needs nothing more: g++ brings libasan and libubsan along.
TRENN_FUZZ_PACKAGES=(clang libclang-rt-dev)
# What the export tests read the written files back with: assimp (all four formats), meshio,
# and Node.js for the npm readers (trenn_install_npm_readers). Debian's npm is a package of its
# own; a Node.js from elsewhere brings its npm along and conflicts with Debian's.
TRENN_EXPORT_READER_PACKAGES=(assimp-utils python3-meshio nodejs)
command -v npm >/dev/null 2>&1 || TRENN_EXPORT_READER_PACKAGES+=(npm)
# Build jobs; defaults to every core.
TRENN_JOBS="${TRENN_JOBS:-$(nproc)}"

TRENN_CURRENT_STEP=""
# A script started by another one's step (test.sh runs fuzz.sh) numbers its steps under that
# one when TRENN_PARENT_STEP names it, e.g. "[6/6 2/3]".
trenn_step() {
    local number="${TRENN_PARENT_STEP:+$TRENN_PARENT_STEP }$1"
    TRENN_CURRENT_STEP="[$number] $2"
    printf '\n==> [%s] %s\n' "$number" "$2"
}
# A line under the current step.
trenn_note() { printf '    %s\n' "$*"; }

# Says which step a failing script stopped in; the failing command's own error is above it.
trenn_report_failure() {
    local status=$1
    if [ "$status" -ne 0 ] && [ -n "$TRENN_CURRENT_STEP" ]; then
        printf '\n==> FAILED (exit %s) in %s\n' "$status" "$TRENN_CURRENT_STEP" >&2
    fi
}
trap 'trenn_report_failure $?' EXIT

trenn_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        trenn_note "All $# required packages are installed."
        return 0
    fi
    trenn_note "Missing ${#missing[@]} of $# package(s): ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    trenn_note "Updating the package lists (apt-get update) ..."
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    trenn_note "Installing them with their dependencies ..."
    # apt-get's own lines are condensed to one per package it sets up, numbered against the
    # total it announces; its errors go to stderr and stay as they are.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends -o Dpkg::Use-Pty=0 "${missing[@]}" |
        awk '
            match($0, /^[0-9]+ upgraded, [0-9]+ newly installed/) {
                split($0, n, " "); total = n[1] + n[3]
                printf "    %d package(s) to install or upgrade\n", total
            }
            /^Setting up / {
                done++
                if (total) printf "    [%d/%d] %s\n", done, total, $3
                else printf "    [%d] %s\n", done, $3
                fflush()
            }'
    trenn_note "Installed: ${missing[*]}"
}

# trenn_configure DIR [extra cmake arguments...]
trenn_configure() {
    local dir="$1"
    shift
    local type=Release arg
    for arg in "$@"; do
        if [[ "$arg" == -DCMAKE_BUILD_TYPE=* ]]; then type=${arg#-DCMAKE_BUILD_TYPE=}; fi
    done
    trenn_note "cmake: $dir/ (Ninja, $type)${*:+ $*}"
    # Status lines are kept back unless configuring fails; warnings and errors (stderr) show.
    local log
    if ! log=$(cmake -S "$TRENN_ROOT" -B "$TRENN_ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"); then
        printf '%s\n' "$log"
        return 1
    fi
}

# trenn_compile DIR [target...]
trenn_compile() {
    local dir="$1"
    shift
    local targets=()
    [ "$#" -gt 0 ] && targets=(--target "$@")
    trenn_note "ninja: $dir/ (${*:-all targets}), $TRENN_JOBS job(s); [done/total] per command"
    local start=$SECONDS
    cmake --build "$TRENN_ROOT/$dir" -j "$TRENN_JOBS" "${targets[@]}"
    trenn_note "Built $dir/ in $((SECONDS - start)) s."
}

# trenn_install_npm_readers DIR: the npm modules that tests/export/readers/package-lock.json
# pins (the glTF validator, three.js), into DIR/npm-readers; nothing to do when they are there.
trenn_install_npm_readers() {
    local source="$TRENN_ROOT/tests/export/readers" target="$TRENN_ROOT/$1/npm-readers"
    if cmp -s "$source/package-lock.json" "$target/package-lock.json" &&
        [ -d "$target/node_modules/gltf-validator" ] && [ -d "$target/node_modules/three" ]; then
        trenn_note "npm readers: already in $1/npm-readers/"
        return 0
    fi
    mkdir -p "$target"
    cp "$source/package.json" "$source/package-lock.json" "$target/"
    trenn_note "npm readers: npm ci in $1/npm-readers/ ..."
    (cd "$target" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
    trenn_note "npm readers: installed in $1/npm-readers/"
}

# trenn_build DIR [extra cmake arguments...]
trenn_build() {
    local dir="$1"
    shift
    trenn_configure "$dir" "$@"
    trenn_compile "$dir"
}
