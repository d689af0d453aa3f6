#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, no Qt) and runs each one for SECONDS, one after the other on one
# core. Prints, per target, executions per second, total executions, corpus size and coverage.
#
# New inputs go to build-fuzz/corpus/<target>/; the committed seeds in fuzz/corpus/<target>/ are
# only read. An input that crashes, leaks, times out (5 s) or runs out of memory is copied to
# fuzz/regressions/, where the normal tests replay it, and the script exits non-zero.
#
# Usage: ./fuzz.sh [SECONDS] [TARGET...]   (default: 600 s each for fuzz_load and fuzz_draw)
# Exit status: 0 clean, 1 a target found something, 2 no usable clang/libFuzzer.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cd "$TRENN_ROOT"

seconds=${1:-600}
shift || true
targets=("$@")
[ "${#targets[@]}" -eq 0 ] && targets=(fuzz_load fuzz_draw)
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: ./fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi

build=build-fuzz
steps=$((${#targets[@]} + 1))

# Whether clang can link a libFuzzer program here (clang and its runtime libraries).
trenn_fuzz_available() {
    command -v clang++ >/dev/null 2>&1 || return 1
    local probe
    probe=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
        > "$probe/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1
    local status=$?
    rm -rf "$probe"
    return $status
}
if ! trenn_fuzz_available; then
    echo "fuzz.sh: clang++ with libFuzzer is not available (install clang and libclang-rt-dev)" >&2
    exit 2
fi

trenn_step "1/$steps" "Building the fuzz targets ($build/, clang, ASan+UBSan)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTRENN_WITH_QT=OFF -DTRENN_TESTS=OFF -DTRENN_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

failed=0
summary=()
step=1
for target in "${targets[@]}"; do
    step=$((step + 1))
    trenn_step "$step/$steps" "Fuzzing $target for $seconds s"
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    log="$build/$target.log"
    mkdir -p "$corpus" "$artifacts" fuzz/regressions
    rm -f "$artifacts"/*
    status=0
    "$build/$target" -max_total_time="$seconds" -timeout=5 -malloc_limit_mb=256 -rss_limit_mb=512 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?

    # The last status line ("#N DONE cov: ... ft: ... corp: files/size ...") and the final stats.
    last=$(grep -E '^#[0-9]+[[:space:]].*cov: ' "$log" | tail -1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([^ ]+).*/\1/p' <<<"$last")
    execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
    rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
    rss=$(sed -nE 's/^stat::peak_rss_mb: *([0-9]+)/\1/p' "$log")
    files=$(find "$corpus" -type f | wc -l)
    line=$(printf '%-10s %8s execs/s %11s execs  corpus %5s files (corp: %s)  cov: %s ft: %s  peak RSS %s MB' \
        "$target" "${rate:-?}" "${execs:-?}" "$files" "${corp:-?}" "${cov:-?}" "${ft:-?}" "${rss:-?}")
    echo "$line"

    found=()
    for artifact in "$artifacts"/*; do
        [ -f "$artifact" ] || continue
        name="$target-$(basename "$artifact")"
        cp "$artifact" "fuzz/regressions/$name"
        found+=("fuzz/regressions/$name")
    done
    if [ "$status" -ne 0 ] || [ "${#found[@]}" -gt 0 ]; then
        failed=1
        line="$line  FOUND A PROBLEM (exit $status)"
        echo "$target stopped with status $status; the end of $log:"
        tail -40 "$log"
        for f in "${found[@]}"; do echo "  input kept as $f"; done
    fi
    summary+=("$line")
done

echo
echo "Fuzzing summary ($seconds s per target):"
printf '  %s\n' "${summary[@]}"
exit $failed
