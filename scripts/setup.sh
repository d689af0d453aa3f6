#!/usr/bin/env bash
# Shared set-up for run.sh, test.sh, bench.sh and friends: installs the Debian packages the
# build needs (only the missing ones) and configures and builds one build folder.
# Usage: source scripts/setup.sh; trenn_install_packages PKG...; trenn_build DIR [cmake args]
set -euo pipefail

TRENN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TRENN_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev)

trenn_step() { printf '\n==> [%s] %s\n' "$1" "$2"; }

trenn_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "All ${#@} required packages are installed."
        return 0
    fi
    echo "Installing ${#missing[@]} package(s): ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# trenn_build DIR [extra cmake arguments...]
trenn_build() {
    local dir="$1"
    shift
    cmake -S "$TRENN_ROOT" -B "$TRENN_ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$TRENN_ROOT/$dir" -j "$(nproc)"
}
