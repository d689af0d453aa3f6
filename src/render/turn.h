#pragma once

#include <cstddef>
#include <vector>

#include "model/rotation.h"
#include "render/view_mapping.h"

namespace trenn {

// Turns coordinates [0, count) by the view angles and maps them to pixel positions of the
// picture: exactly TurnVertex, then ViewMapping::PixelX and PixelY, bit for bit, for a whole
// block at once. px is NaN where the rotation faults. Returns how many faulted.
using TurnBlockFunction = std::size_t (*)(const float* xs, const float* ys, const float* zs,
                                          std::size_t count, const RotationCoefficients& turn,
                                          const ViewMapping& mapping, double* px, double* py);

// The same, and also the turned z of every vertex: z2 of TurnVertex (toward the viewer), 0
// where the rotation faults.
using TurnBlockDepthFunction = std::size_t (*)(const float* xs, const float* ys, const float* zs,
                                               std::size_t count, const RotationCoefficients& turn,
                                               const ViewMapping& mapping, double* px, double* py,
                                               float* pz);

// The copy for the widest instruction set this processor has.
TurnBlockFunction BestTurnBlock();
TurnBlockDepthFunction BestTurnBlockDepth();

// Every copy built into the program, for the tests; `runs` tells whether this processor can
// run it.
struct TurnBlockCopy {
    const char* name;
    TurnBlockFunction function;
    bool runs;
    TurnBlockDepthFunction withDepth;
};
std::vector<TurnBlockCopy> TurnBlockCopies();

}  // namespace trenn
