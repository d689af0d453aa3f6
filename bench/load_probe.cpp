// Loads one object file the way start-up does (scratch copy, symbol table, meshes, extent) and
// reports the wall time and the memory it took. Run as a child of the benchmark, so that its
// peak memory is the load's alone.
// Usage: trenn_load_probe OBJECT SCRATCH

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/headless_window.h"
#include "app/model_assembly.h"
#include "elf/elf_data.h"
#include "proc_status.h"
#include "runtime/load_failure.h"

using trenn::bench::StatusKiB;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OBJECT SCRATCH\n", argv[0]);
        return 2;
    }
    const long startKiB = StatusKiB("VmRSS");
    trenn::HeadlessWindow window;
    const auto start = std::chrono::steady_clock::now();
    if (trenn::LoadElfObject(argv[1], argv[2]) != trenn::kTrue) {
        std::fprintf(stderr, "load failed: %s\n", trenn::g_loadFailureDetail.c_str());
        return 1;
    }
    try {
        if (trenn::AssembleModel([&]() -> trenn::ViewerWindow& { return window; }, argv[2]) !=
            trenn::AssemblyOutcome::WindowShown) {
            std::fprintf(stderr, "not understood\n");
            return 1;
        }
    } catch (const trenn::LoadFailure& failure) {
        std::fprintf(stderr, "assembly failed: %s\n", failure.what());
        return 1;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::size_t dataBytes = 0;
    for (const trenn::MeshPart& part : trenn::g_parts) {
        dataBytes += part.vertices.size() * sizeof(trenn::MeshVertex) +
                     part.indices.StoredBytes();
    }
    std::printf("load_ms %.3f parts %zu data_bytes %zu start_kib %ld peak_kib %ld\n", ms,
                trenn::g_parts.size(), dataBytes, startKiB, StatusKiB("VmHWM"));
    return 0;
}
