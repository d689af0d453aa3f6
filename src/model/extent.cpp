#include "model/extent.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "model/part_identity.h"
#include "model/rotation.h"

namespace trenn {

void GatherCoordinates(const VertexList& vertices, std::size_t first, std::size_t n, float* xs,
                       float* ys, float* zs) {
    const unsigned char* const data = vertices.StoredData();
    const std::size_t stored = vertices.StoredBytes();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = (first + i) * sizeof(MeshVertex);
        float xyz[3] = {0.0f, 0.0f, 0.0f};
        if (at + sizeof xyz <= stored) [[likely]] {
            std::memcpy(xyz, data + at, sizeof xyz);
        } else if (at < stored) {
            std::memcpy(xyz, data + at, stored - at);
        }
        xs[i] = xyz[0];
        ys[i] = xyz[1];
        zs[i] = xyz[2];
    }
}

bool TurnedBox(const std::vector<MeshPart>& parts, const std::vector<bool>& checked, float yaw,
               float pitch, std::array<double, 4>& box) {
    const RotationCoefficients turn = RotationCoefficients::For(yaw, pitch);
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    std::set<ArrayView> seen;
    constexpr std::size_t kBlock = 256;
    float xs[kBlock], ys[kBlock], zs[kBlock];
    for (std::size_t k = 0; k < std::min(parts.size(), checked.size()); ++k) {
        const VertexList& vertices = parts[k].vertices;
        if (!checked[k] || !seen.insert(ArrayView::Of(vertices)).second) continue;
        for (std::size_t first = 0; first < vertices.size(); first += kBlock) {
            const std::size_t n = std::min(kBlock, vertices.size() - first);
            GatherCoordinates(vertices, first, n, xs, ys, zs);
            for (std::size_t i = 0; i < n; ++i) {
                float x = 0, y = 0, z = 0;
                if (!TurnVertex(xs[i], ys[i], zs[i], turn, x, y, z)) continue;
                minX = std::min(minX, static_cast<double>(x));
                maxX = std::max(maxX, static_cast<double>(x));
                minY = std::min(minY, static_cast<double>(y));
                maxY = std::max(maxY, static_cast<double>(y));
            }
        }
    }
    if (!(minX <= maxX)) return false;
    box = {minX, minY, maxX, maxY};
    return true;
}

}  // namespace trenn
