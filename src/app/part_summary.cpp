#include "app/part_summary.h"

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
    const IndexList& indices = part.indices;
    const auto count = static_cast<std::uint32_t>(part.vertices.size());
    // Past the stored entries every entry is 0: every later triple is degenerate.
    const std::int64_t walked = std::max<std::int64_t>(
        0, std::min<std::int64_t>(indices.Count() - 2, static_cast<std::int64_t>(indices.StoredCount())));
    std::int32_t a = indices.At(0), b = indices.At(1);
    for (std::int64_t k = 0; k < walked; ++k) {
        const std::int32_t c = indices.At(k + 2);
        const bool inPart = static_cast<std::uint32_t>(a) < count && static_cast<std::uint32_t>(b) < count &&
                            static_cast<std::uint32_t>(c) < count;
        summary.triangles += inPart && a != b && b != c && a != c;
        a = b;
        b = c;
    }
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
