// Writes the bundled sample models into the folder given on the command line.

#include <cstdio>
#include <string>

#include "elfgen/elf_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trenn-make-samples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        elfgen::WriteFile(folder + "/cube.o",
                          elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(1.0f)}}));
        elfgen::WriteFile(folder + "/torus.o",
                          elfgen::BuildModelObject(elfgen::MakeTorusParts(12, 48, 16, 2.0f, 0.7f)));
        elfgen::WriteFile(folder + "/ferris_wheel.o",
                          elfgen::BuildModelObject(elfgen::MakeWheelParts()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "trenn-make-samples: %s\n", error.what());
        return 1;
    }
    return 0;
}
