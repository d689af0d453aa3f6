#!/usr/bin/env bash
# Sets up, builds and runs every test: the Release build, the same tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a minute of fuzzing per fuzz target.
# Exits non-zero on any failure, a sanitizer report or a fuzz finding included.
# TRENN_FUZZ_SECONDS sets the fuzzing time per target (default 60).
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"

fuzz_seconds=${TRENN_FUZZ_SECONDS:-60}
if ! [[ "$fuzz_seconds" =~ ^[0-9]+$ ]] || [ "$fuzz_seconds" -lt 1 ]; then
    echo "test.sh: TRENN_FUZZ_SECONDS must be a whole number of seconds, at least 1" >&2
    exit 2
fi

trenn_step 1/6 "Checking packages"
trenn_install_packages "${TRENN_BUILD_PACKAGES[@]}" "${TRENN_PACKAGE_PACKAGES[@]}" \
    "${TRENN_PACKAGE_CHECK_PACKAGES[@]}" "${TRENN_FUZZ_PACKAGES[@]}" \
    "${TRENN_EXPORT_READER_PACKAGES[@]}" gcc-multilib xvfb xdotool x11-utils imagemagick

trenn_step 2/6 "Configuring and building (build/, Release)"
trenn_build build
trenn_install_npm_readers build

# The export tests fail rather than skip when a reader they need is missing: it was just installed.
export TRENN_REQUIRE_READERS=1

trenn_step 3/6 "Running the tests (build/)"
(cd "$TRENN_ROOT/build" && ctest --output-on-failure -j "$(nproc)")

trenn_step 4/6 "Configuring and building with sanitizers (build-asan/, ASan+UBSan)"
# The benchmarks have no tests; they stay out of this build.
trenn_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRENN_SANITIZE=ON -DTRENN_BENCH=OFF
trenn_install_npm_readers build-asan

trenn_step 5/6 "Running the tests under the sanitizers (build-asan/)"
# Any report stops the program with a stack trace and exit status 23, which no Trenn program
# uses, so that a report is never taken for an expected failure exit. Leak checking stays on;
# tests/sanitizers/lsan.supp holds back only leaks inside system libraries Qt loads.
# The package tests (label "package") are left out: they check the packaging files and the
# .deb, which the Release run has just done; a package of sanitized programs is not one
# anybody would install.
(
    cd "$TRENN_ROOT/build-asan"
    export ASAN_OPTIONS=halt_on_error=1:print_stacktrace=1:detect_leaks=1:exitcode=23
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=23
    export LSAN_OPTIONS="suppressions=$TRENN_ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
    ctest --output-on-failure -j "$(nproc)" --label-exclude '^package$'
)

trenn_step 6/6 "Fuzzing each target for $fuzz_seconds s (build-fuzz/)"
# fuzz.sh exits 2 when clang cannot link a libFuzzer program; anything it finds fails this
# script and stays in fuzz/regressions/, where the core tests replay it from then on.
fuzz_status=0
TRENN_PARENT_STEP=6/6 "$TRENN_ROOT/fuzz.sh" "$fuzz_seconds" || fuzz_status=$?
passed="All tests passed."
if [ "$fuzz_status" -eq 2 ]; then
    trenn_note "Skipped: clang with libFuzzer is not available."
    passed="All tests passed; fuzzing was skipped."
elif [ "$fuzz_status" -ne 0 ]; then
    exit "$fuzz_status"
fi

TRENN_CURRENT_STEP=""
printf '\n==> %s\n' "$passed"
