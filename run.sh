#!/usr/bin/env bash
# Sets up, builds the viewer, trenn-inspect and the sample models (nothing else: the tests and
# benchmarks are test.sh's business) and starts the viewer in the folder of the samples.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

trenn_step 1/4 "Installing missing Debian packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}"
trenn_step 2/4 "Configuring build/ (Release)"
trenn_configure build
trenn_step 3/4 "Building trenn, trenn-inspect and the sample models in build/"
trenn_compile build trenn trenn-inspect samples
trenn_step 4/4 "Starting Trenn in build/samples"
cd "$TRENN_ROOT/build/samples"
exec "$TRENN_ROOT/build/trenn"
