#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/mesh.h"

namespace trenn {

// What the part list tells about a part when asked.
struct PartSummary {
    std::size_t vertices = 0;
    std::int64_t triangles = 0;  // strip triangles that name three different vertices of the part
    std::array<float, 3> low{};   // the smallest and largest x, y and z; NaN never counts
    std::array<float, 3> high{};
};

PartSummary SummarizePart(const MeshPart& part);

// "NAME\nN vertices, M triangles\nx from A to B, y from ..., z from ..."
std::string DescribePart(const std::string& symbolName, const PartSummary& summary);

}  // namespace trenn
