#!/usr/bin/env bash
# Builds Release in build/ and prints the redraw, load and export benchmark tables (see README).
# Extra arguments go to the benchmark, e.g. ./bench.sh --sizes 1000000 --no-load
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

trenn_step 1/3 "Checking packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}"
trenn_step 2/3 "Configuring and building (build/, Release)"
trenn_build build
trenn_step 3/3 "Running the benchmark (a minute or two; keep the machine otherwise idle)"
echo "uptime: $(uptime)"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$TRENN_ROOT/build/bench/trenn_bench" "$@"
