// libFuzzer target: what the loading sequence accepts, drawn with every part checked at the
// start view, one step and angles far from the start, as a wireframe and shaded with edges; and
// shaded, zoomed far in, at the start view.

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

const std::vector<trenn::fuzz::ViewAngles>& Angles() {
    static const std::vector<trenn::fuzz::ViewAngles> angles = trenn::fuzz::DrawAngles();
    return angles;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    trenn::fuzz::Workspace::Get();
    Angles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const trenn::fuzz::Workspace& workspace = trenn::fuzz::Workspace::Get();
    workspace.WriteInput(data, size);
    trenn::fuzz::LoadRun run(workspace.InputPath(), workspace.TempDir());
    trenn::fuzz::RunMain(run);
    Require(trenn::fuzz::CheckLoad(run, std::span(data, size)), run);
    // Loads that fail draw nothing; the fuzzer should not spend its time on them here.
    if (run.outcome != trenn::StartupOutcome::WindowShown) return -1;
    Require(trenn::fuzz::DrawEveryWay(run.loader->Model(), Angles()), run);
    return 0;
}
