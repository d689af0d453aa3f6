#!/usr/bin/env bash
# Sets up, builds and runs every test. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

trenn_step 1/3 "Checking packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}" gcc-multilib xvfb xdotool x11-utils imagemagick
trenn_step 2/3 "Configuring and building (build/, Release)"
trenn_build build
trenn_step 3/3 "Running the tests"
cd "$TRENN_ROOT/build"
ctest --output-on-failure -j "$(nproc)"
