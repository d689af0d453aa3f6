#pragma once

// The redraw done the slow, obvious way: every dot and every line is one QPainter request, and
// every vertex is turned again wherever it is used. The fast redraw must give the same pixels.
// Used by the benchmark and the tests only; never by the viewer.

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <optional>
#include <vector>

#include "model/mesh.h"
#include "app/picture_geometry.h"
#include "qt/paint_primitives.h"
#include "model/rotation.h"
#include "render/view_mapping.h"

namespace trenn {

inline constexpr int kReferenceWidth = picture::kInnerWidth;
inline constexpr int kReferenceHeight = picture::kInnerHeight;

// The turned vertex, or nothing when its rotation faults.
inline std::optional<MeshVertex> TurnedOrNothing(const MeshVertex& vertex, float yaw, float pitch) {
    try {
        return RotatePoint(vertex, yaw, pitch);
    } catch (const RotationFault&) {
        return std::nullopt;
    }
}

// Draws the checked parts over `image`: per part a dot for every vertex, then the three edges of
// every strip triple k = 0 .. n - 3 that names three different vertices of the part, all of them
// turnable.
inline void DrawReference(QImage& image, const std::vector<MeshPart>& parts,
                          const std::vector<bool>& checked, float yaw, float pitch,
                          const ViewMapping& mapping) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor blue(0, 0, 255);
    const QColor black(0, 0, 0);
    const auto pixel = [&](const MeshVertex& turned) {
        return QPointF(mapping.PixelX(turned.x), mapping.PixelY(turned.y));
    };
    for (std::size_t i = 0; i < parts.size() && i < checked.size(); ++i) {
        if (!checked[i]) continue;
        const MeshPart& part = parts[i];
        for (const MeshVertex& vertex : part.vertices) {
            if (const auto turned = TurnedOrNothing(vertex, yaw, pitch)) {
                PaintDot(painter, pixel(*turned), 2, blue);
            }
        }
        const std::int64_t vertexCount = static_cast<std::int64_t>(part.vertices.size());
        for (std::int64_t k = 0; k + 2 < static_cast<std::int64_t>(part.indices.size()); ++k) {
            const std::int16_t a = part.indices[static_cast<std::size_t>(k)];
            const std::int16_t b = part.indices[static_cast<std::size_t>(k + 1)];
            const std::int16_t c = part.indices[static_cast<std::size_t>(k + 2)];
            if (a == b || b == c || a == c) continue;
            if (a < 0 || b < 0 || c < 0 || a >= vertexCount || b >= vertexCount || c >= vertexCount) {
                continue;
            }
            const auto A = TurnedOrNothing(part.vertices[static_cast<std::size_t>(a)], yaw, pitch);
            const auto B = TurnedOrNothing(part.vertices[static_cast<std::size_t>(b)], yaw, pitch);
            const auto C = TurnedOrNothing(part.vertices[static_cast<std::size_t>(c)], yaw, pitch);
            if (!A || !B || !C) continue;
            PaintLine(painter, pixel(*A), pixel(*B), 1, black);
            PaintLine(painter, pixel(*B), pixel(*C), 1, black);
            PaintLine(painter, pixel(*C), pixel(*A), 1, black);
        }
    }
}

// A white picture with the checked parts drawn.
inline QImage RenderReference(const std::vector<MeshPart>& parts, const std::vector<bool>& checked,
                              float yaw, float pitch, const ViewMapping& mapping,
                              QSize size = QSize(kReferenceWidth, kReferenceHeight)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    DrawReference(image, parts, checked, yaw, pitch, mapping);
    return image;
}

// Pixels whose colours differ; -1 when the sizes differ.
inline long CountDifferingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const std::uint32_t*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const std::uint32_t*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) count += (ra[x] & 0xFFFFFFu) != (rb[x] & 0xFFFFFFu);
    }
    return count;
}

}  // namespace trenn
