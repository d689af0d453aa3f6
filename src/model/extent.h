#pragma once

// Coordinates out of the records, and the box the turned model takes.

#include <array>
#include <cstddef>
#include <vector>

#include "model/mesh.h"

namespace trenn {

// Coordinates of records [first, first + n) of a list, into three arrays; records past what
// the list stores are zeros.
void GatherCoordinates(const VertexList& vertices, std::size_t first, std::size_t n, float* xs,
                       float* ys, float* zs);

// The box that the checked parts, turned by the view angles, take in model coordinates of the
// picture (x across, y up); false when no vertex turns without a fault.
bool TurnedBox(const std::vector<MeshPart>& parts, const std::vector<bool>& checked, float yaw,
               float pitch, std::array<double, 4>& box);

}  // namespace trenn
