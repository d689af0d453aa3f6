// libFuzzer target: the whole loading sequence of the program on arbitrary file contents.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz_driver.h"

namespace {

void Require(const std::vector<std::string>& problems, const trenn::fuzz::LoadRun& run) {
    if (problems.empty()) return;
    std::fprintf(stderr, "outcome %s (%s)\n", trenn::fuzz::OutcomeName(run.outcome),
                 trenn::g_lastFailureDetail.c_str());
    for (const std::string& problem : problems) std::fprintf(stderr, "  %s\n", problem.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    trenn::fuzz::Workspace::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const trenn::fuzz::Workspace& workspace = trenn::fuzz::Workspace::Get();
    workspace.WriteInput(data, size);
    trenn::fuzz::LoadRun run(workspace.InputPath(), workspace.TempDir());
    trenn::fuzz::RunMain(run);
    Require(trenn::fuzz::CheckLoad(run, std::span(data, size)), run);
    return 0;
}
