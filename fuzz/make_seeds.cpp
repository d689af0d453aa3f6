// Writes the seed corpus of the fuzz targets: every malformed object of hostile_cases.h and a
// few valid models, named "<exit>-<group>-<name>.o" so that the replay test can check the exit.
// fuzz_draw gets only those that open the window: the others draw nothing.

#include <cstdio>
#include <string>

#include "elfgen/elf_builder.h"
#include "hostile_cases.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: trenn-fuzz-seeds LOAD_CORPUS DRAW_CORPUS\n");
        return 2;
    }
    const std::string load = argv[1];
    const std::string draw = argv[2];
    // Large inputs slow every fuzzing run down; their classes are in the tests anyway.
    constexpr std::size_t kLargest = 16 * 1024;
    using trenn::fuzz::Exit;
    std::vector<trenn::hostile::HostileCase> cases = trenn::hostile::HostileCases();
    cases.push_back({"model", "cube", Exit::kOk, elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(1.0f)}})});
    cases.push_back({"model", "torus-3-parts", Exit::kOk,
                     elfgen::BuildModelObject(elfgen::MakeTorusParts(3, 9, 5, 2.0f, 0.6f))});
    int written = 0;
    try {
        for (const auto& c : cases) {
            if (c.bytes.size() > kLargest) continue;
            const std::string name = std::string(trenn::fuzz::ExitTag(c.exit)) + "-" + c.group + "-" + c.name + ".o";
            elfgen::WriteFile(load + "/" + name, c.bytes);
            if (c.exit == Exit::kOk) elfgen::WriteFile(draw + "/" + name, c.bytes);
            ++written;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trenn-fuzz-seeds: %s\n", error.what());
        return 1;
    }
    std::printf("%d seeds\n", written);
    return 0;
}
