#!/usr/bin/env bash
# Sets up, builds and starts the viewer in the folder of the sample models.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

trenn_step 1/3 "Checking packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}"
trenn_step 2/3 "Configuring and building (build/, Release)"
trenn_build build
trenn_step 3/3 "Starting Trenn in build/samples"
cd "$TRENN_ROOT/build/samples"
exec "$TRENN_ROOT/build/trenn"
