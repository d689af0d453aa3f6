#!/usr/bin/env bash
# Rewrites the fuzzers' seed corpus in fuzz/corpus/: objects from the ELF builder (valid
# models and one of each malformed class, see hostile_cases.h) and objects made by the
# system's 32-bit compiler and assembler (and one 64-bit object, read with the 32-bit layout).
# File names start with the exit the program must take ("ok-", "load-", ...); "any-" files
# may end in any exit. Run it after changing hostile_cases.h and commit the result.
set -euo pipefail
source "$(dirname "$0")/../scripts/setup.sh"
cd "$TRENN_ROOT"

load=fuzz/corpus/fuzz_load
draw=fuzz/corpus/fuzz_draw
build=build-fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTRENN_WITH_QT=OFF -DTRENN_TESTS=OFF -DTRENN_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 --target trenn-fuzz-seeds >/dev/null
rm -f "$load"/*.o "$draw"/*.o
mkdir -p "$load" "$draw"
ASAN_OPTIONS=detect_leaks=0 "$build/trenn-fuzz-seeds" "$load" "$draw"

# A quad as a compiler lays it out: the pad in front takes the .comment section, which is
# copied after .data and lands on the first bytes of the scratch file.
cat > "$work/quad.c" <<'C'
struct vertex { float x, y, z; unsigned char extra[28]; };
struct mesh {
    unsigned marker[2];
    int vertexOffset, vertexCount;
    unsigned unused[8];
    int indexOffset, indexCount;
    struct vertex v[4];
    short idx[6];
};
char pad[256] = {1};
struct mesh __geoprimdatabufferQuad = {
    {0xFFFFFFFFu, 0xFFFFFFFFu}, 256 + __builtin_offsetof(struct mesh, v), 4, {0},
    256 + __builtin_offsetof(struct mesh, idx), 6,
    {{-1, -1, 0, {0}}, {1, -1, 0, {0}}, {-1, 1, 0.5f, {0}}, {1, 1, 0, {0}}},
    {0, 1, 2, 3, 0, 0}};
int counter;
static const char greeting[] = "hello";
const char *use(void) { return greeting; }
C
cat > "$work/plain.c" <<'C'
#include <stddef.h>
static int table[16] = {1, 2, 3};
int global = 7;
int shared __attribute__((common));
extern int elsewhere;
int *ref = &elsewhere;
int sum(const int *v, size_t n) { int s = 0; for (size_t i = 0; i < n; ++i) s += v[i]; return s; }
int run(void) { return sum(table, 16) + global; }
C
cat > "$work/tri.s" <<'S'
        .file   "tri.s"
        .text
        .data
pad:    .fill   256, 1, 0x20
        .globl  __geoprimdatabufferTri
__geoprimdatabufferTri:
        .long   0xFFFFFFFF, 0xFFFFFFFF, 256 + 56, 3
        .fill   8, 4, 0
        .long   256 + 56 + 120, 3
        .float  0, 0, 0
        .fill   28, 1, 0
        .float  1, 0, 0
        .fill   28, 1, 0
        .float  0, 1, 0
        .fill   28, 1, 0
        .short  0, 1, 2
        .globl  answer
        .set    answer, 42
        .long   elsewhere
        .ident  "hand-written model"
        .section .note.GNU-stack,"",@progbits
S

made=0
seed() {  # seed NAME DRAW_TOO COMMAND...
    local name=$1 drawToo=$2
    shift 2
    if "$@" -o "$work/$name" 2>"$work/log"; then
        cp "$work/$name" "$load/$name"
        [ "$drawToo" = yes ] && cp "$work/$name" "$draw/$name"
        made=$((made + 1))
    else
        echo "skipped $name: $(head -1 "$work/log")"
    fi
}
seed ok-gcc32-quad.o yes gcc -m32 -c -fno-toplevel-reorder "$work/quad.c"
seed ok-as32-tri.o yes as --32 "$work/tri.s"
seed any-gcc32-quad-debug.o yes gcc -m32 -c -g -fno-toplevel-reorder "$work/quad.c"
seed any-gcc32-plain.o no gcc -m32 -c "$work/plain.c"
seed any-gcc32-plain-sections.o no gcc -m32 -c -O2 -ffunction-sections -fdata-sections "$work/plain.c"
seed any-gcc64-quad.o yes gcc -c -fno-toplevel-reorder "$work/quad.c"
echo "$made compiler-made seeds"
ls "$load" | wc -l | xargs echo "fuzz_load seeds:"
ls "$draw" | wc -l | xargs echo "fuzz_draw seeds:"
