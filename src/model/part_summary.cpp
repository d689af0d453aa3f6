#include "model/part_summary.h"

#include "model/strip.h"

#include <algorithm>
#include <cstdio>

namespace trenn {

PartSummary SummarizePart(const MeshPart& part) {
    PartSummary summary;
    summary.vertices = part.vertices.size();
    for (std::size_t j = 0; j < part.vertices.size(); ++j) {
        const MeshVertex v = part.vertices[j];
        const float xyz[3] = {v.x, v.y, v.z};
        for (int axis = 0; axis < 3; ++axis) {
            if (j == 0) {
                summary.low[axis] = summary.high[axis] = xyz[axis];
            } else {
                summary.low[axis] = std::min(summary.low[axis], xyz[axis]);
                summary.high[axis] = std::max(summary.high[axis], xyz[axis]);
            }
        }
    }
    ForEachTriangle(part, [&](std::int64_t, std::int32_t, std::int32_t, std::int32_t) { ++summary.triangles; });
    return summary;
}

std::string DescribePart(const std::string& symbolName, const PartSummary& summary) {
    char line[256];
    std::snprintf(line, sizeof line, "\n%zu %s, %lld %s", summary.vertices,
                  summary.vertices == 1 ? "vertex" : "vertices",
                  static_cast<long long>(summary.triangles), summary.triangles == 1 ? "triangle" : "triangles");
    std::string text = symbolName + line;
    if (summary.vertices > 0) {
        std::snprintf(line, sizeof line, "\nx from %g to %g, y from %g to %g, z from %g to %g",
                      static_cast<double>(summary.low[0]), static_cast<double>(summary.high[0]),
                      static_cast<double>(summary.low[1]), static_cast<double>(summary.high[1]),
                      static_cast<double>(summary.low[2]), static_cast<double>(summary.high[2]));
        text += line;
    }
    return text;
}

}  // namespace trenn
