#include "viewer/wireframe.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/rotation.h"

namespace trenn {
namespace {

// A turned vertex in pixel coordinates; x is NaN when its rotation faulted.
struct ScreenPoint {
    double x;
    double y;
};

constexpr double kFaulted = std::numeric_limits<double>::quiet_NaN();

void TurnPart(const MeshPart& part, const RotationCoefficients& turn, const ViewMapping& mapping,
              std::vector<ScreenPoint>& points) {
    points.resize(part.vertices.size());
    for (std::size_t j = 0; j < part.vertices.size(); ++j) {
        const MeshVertex& v = part.vertices[j];
        float x, y, z;
        if (TurnVertex(v.x, v.y, v.z, turn, x, y, z)) {
            points[j] = {mapping.PixelX(x), mapping.PixelY(y)};
        } else {
            points[j] = {kFaulted, kFaulted};
        }
    }
}

void DrawDots(const std::vector<ScreenPoint>& points, const RasterTarget& target) {
    for (const ScreenPoint& p : points) {
        if (!std::isnan(p.x)) RasterDot(target, p.x, p.y, kDotWidth, kDotColour);
    }
}

// The strip walk: triangle k is entries k, k + 1, k + 2, for k = 0 to n - 3. Its edge a-b
// is the same directed segment as edge b-c of triangle k - 1, so it is drawn only when that
// triangle was not; all edges are black, so the picture is the same.
void DrawEdges(const MeshPart& part, const std::vector<ScreenPoint>& points,
               const RasterTarget& target) {
    const std::int64_t count = part.indices.Count();
    if (count < 3) return;
    const std::int64_t vertexCount = static_cast<std::int64_t>(points.size());
    // Past the stored entries every entry is 0, so every later triple is degenerate.
    const std::int64_t stored = static_cast<std::int64_t>(part.indices.Stored().size());
    const std::int64_t lastK = std::min(count - 3, stored - 1);
    auto usable = [&](std::int16_t index) {
        return index >= 0 && index < vertexCount && !std::isnan(points[static_cast<std::size_t>(index)].x);
    };
    bool previousDrawn = false;
    for (std::int64_t k = 0; k <= lastK; ++k) {
        const std::int16_t a = part.indices.At(k);
        const std::int16_t b = part.indices.At(k + 1);
        const std::int16_t c = part.indices.At(k + 2);
        if (a == b || b == c || a == c || !usable(a) || !usable(b) || !usable(c)) {
            previousDrawn = false;
            continue;
        }
        const ScreenPoint& pa = points[static_cast<std::size_t>(a)];
        const ScreenPoint& pb = points[static_cast<std::size_t>(b)];
        const ScreenPoint& pc = points[static_cast<std::size_t>(c)];
        if (!previousDrawn) RasterLine(target, pa.x, pa.y, pb.x, pb.y, kEdgeColour);
        RasterLine(target, pb.x, pb.y, pc.x, pc.y, kEdgeColour);
        RasterLine(target, pc.x, pc.y, pa.x, pa.y, kEdgeColour);
        previousDrawn = true;
    }
}

}  // namespace

void DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int /*threads*/) {
    if (!scene.parts) return;
    const RotationCoefficients turn = RotationCoefficients::For(scene.yaw, scene.pitch);
    std::vector<ScreenPoint> points;
    const std::size_t listed = std::min(scene.checked.size(), scene.parts->size());
    for (std::size_t i = 0; i < listed; ++i) {
        if (!scene.checked[i]) continue;
        const MeshPart& part = (*scene.parts)[i];
        TurnPart(part, turn, scene.mapping, points);
        DrawDots(points, target);
        DrawEdges(part, points, target);
    }
}

}  // namespace trenn
