#!/usr/bin/env bash
# Builds the Debian package of Trenn (Release, in build-release/) and prints where it is.
# Depends is computed by dpkg-shlibdeps from the programs as built.
# Usage: ./package.sh [extra cmake arguments, e.g. -DTRENN_PACKAGE_MAINTAINER="Name <address>"]
#        TRENN_PACKAGE_DIR=other-folder ./package.sh
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
dir="${TRENN_PACKAGE_DIR:-build-release}"

trenn_step 1/4 "Installing missing Debian packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}" "${TRENN_PACKAGE_PACKAGES[@]}"
trenn_step 2/4 "Configuring $dir/ (Release)"
trenn_configure "$dir" "$@"
trenn_step 3/4 "Building the programs in $dir/"
# Only what the package holds; the tests are test.sh's business.
trenn_compile "$dir" trenn trenn-inspect
trenn_step 4/4 "Packing the Debian package (cpack, DEB)"
cd "$TRENN_ROOT/$dir"
log=$(cpack -G DEB --config CPackConfig.cmake) || { printf '%s\n' "$log"; exit 1; }
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$log")
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    printf '%s\n' "$log"
    echo "package.sh: cpack did not report a .deb" >&2
    exit 1
fi

printf '\n%s\n' "$deb"
dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/    /'
sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo "
printf '\nInstall it with:  %sapt-get install %s\n' "$sudo" "$deb"
