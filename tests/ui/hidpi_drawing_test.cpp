// The wireframe on a screen scaled by a whole number: the retained image has that many pixels
// per widget unit each way, and the pens grow with it, so that a picture twice as fine keeps
// its proportions: dots 2 x S pixels square, edges S pixels thick, both centred where the thin
// ones would be.

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/picture_geometry.h"
#include "model/mesh.h"
#include "render/raster.h"
#include "render/view_mapping.h"
#include "render/wireframe.h"

namespace trenn {
namespace {

const QRgb kWhite = QColor(255, 255, 255).rgb();
const QRgb kBlue = QColor(0, 0, 255).rgb();
const QRgb kBlack = QColor(0, 0, 0).rgb();

// The inner area of the picture in widget units; one user unit a widget unit, integer user
// coordinates on pixel corners: user (x, y) is widget corner (197 + x, 173 - y).
constexpr int kInnerWidth = picture::kInnerWidth;
constexpr int kInnerHeight = picture::kInnerHeight;
int CornerX(int x, int scale) { return scale * (197 + x); }
int CornerY(int y, int scale) { return scale * (173 - y); }

MeshPart Part(const std::vector<std::pair<float, float>>& points, std::vector<std::int16_t> indices) {
    MeshPart part;
    std::vector<MeshVertex> records;
    for (const auto& [x, y] : points) {
        MeshVertex v;
        v.x = x;
        v.y = y;
        v.z = 0.0f;
        records.push_back(v);
    }
    part.vertices = VertexList(records);
    const auto count = static_cast<std::int32_t>(indices.size());
    part.indices = IndexList(count, std::move(indices));
    return part;
}

// A right triangle whose bottom edge is horizontal and left edge vertical, and a fourth
// vertex no triple names, so that its dot stays whole.
QImage DrawTriangleAndLoneDot(int scale) {
    const std::vector<MeshPart> parts = {
        Part({{-100.0f, -60.0f}, {100.0f, -60.0f}, {-100.0f, 60.0f}, {40.0f, 20.0f}}, {0, 1, 2})};
    QImage image(kInnerWidth * scale, kInnerHeight * scale, QImage::Format_RGB32);
    image.fill(kWhite);
    Scene scene;
    scene.parts = &parts;
    scene.checked = {true};
    scene.mapping = ViewMapping::FromScale(-197.0f, 173.0f, 198.0f, -173.0f, kInnerWidth * scale,
                                           kInnerHeight * scale);
    scene.pixelScale = scale;
    const RasterTarget target{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(),
                              image.height(), image.bytesPerLine() / 4};
    DrawWireframe(scene, target);
    return image;
}

// The rows (or columns) holding `colour` along one column (or row) between from and to.
std::vector<int> Hits(const QImage& image, bool alongColumn, int fixed, int from, int to, QRgb colour) {
    std::vector<int> hits;
    for (int i = from; i <= to; ++i) {
        const QRgb pixel = alongColumn ? image.pixel(fixed, i) : image.pixel(i, fixed);
        if (pixel == colour) hits.push_back(i);
    }
    return hits;
}

std::vector<int> Range(int first, int count) {
    std::vector<int> values;
    for (int i = 0; i < count; ++i) values.push_back(first + i);
    return values;
}

class HidpiDrawing : public ::testing::TestWithParam<int> {};

TEST_P(HidpiDrawing, HorizontalEdgeIsScaleRowsThickAroundItsLine) {
    const int s = GetParam();
    const QImage image = DrawTriangleAndLoneDot(s);
    const int row = CornerY(-60, s);
    // From near the left edge to well before the diagonal comes close.
    for (int x = -90; x <= 30; x += 15) {
        // Both columns of a widget unit, so that odd image columns are looked at too.
        for (const int px : {CornerX(x, s), CornerX(x, s) + s - 1}) {
            const std::vector<int> black = Hits(image, true, px, row - 3 * s, row + 3 * s, kBlack);
            SCOPED_TRACE("column " + std::to_string(px));
            ASSERT_EQ(black.size(), static_cast<std::size_t>(s));
            EXPECT_EQ(black, Range(black.front(), s)) << "not one run";
            // The line itself runs along the pixel corner between rows row - 1 and row.
            EXPECT_GE(black.front(), row - s);
            EXPECT_LE(black.back(), row + s - 1);
        }
    }
    if (s == 2) {
        // Centred on the corner line: one row above it and one below.
        EXPECT_EQ(Hits(image, true, CornerX(0, s), row - 3 * s, row + 3 * s, kBlack), Range(row - 1, 2));
    }
}

TEST_P(HidpiDrawing, VerticalEdgeIsScaleColumnsThickAroundItsLine) {
    const int s = GetParam();
    const QImage image = DrawTriangleAndLoneDot(s);
    const int column = CornerX(-100, s);
    for (int y = -45; y <= 45; y += 15) {
        for (const int py : {CornerY(y, s), CornerY(y, s) + s - 1}) {
            const std::vector<int> black = Hits(image, false, py, column - 3 * s, column + 3 * s, kBlack);
            SCOPED_TRACE("row " + std::to_string(py));
            ASSERT_EQ(black.size(), static_cast<std::size_t>(s));
            EXPECT_EQ(black, Range(black.front(), s)) << "not one run";
            EXPECT_GE(black.front(), column - s);
            EXPECT_LE(black.back(), column + s - 1);
        }
    }
    if (s == 2) {
        EXPECT_EQ(Hits(image, false, CornerY(0, s), column - 3 * s, column + 3 * s, kBlack), Range(column - 1, 2));
    }
}

TEST_P(HidpiDrawing, DotIsATwoScaleSquareCentredOnItsVertex) {
    const int s = GetParam();
    const QImage image = DrawTriangleAndLoneDot(s);
    const int cx = CornerX(40, s);
    const int cy = CornerY(20, s);
    // Every blue pixel near the vertex, and all of the square around its corner.
    int blue = 0;
    for (int y = cy - 10; y <= cy + 10; ++y) {
        for (int x = cx - 10; x <= cx + 10; ++x) {
            const bool inSquare = x >= cx - s && x < cx + s && y >= cy - s && y < cy + s;
            EXPECT_EQ(image.pixel(x, y) == kBlue, inSquare) << "at (" << x << ", " << y << ")";
            blue += image.pixel(x, y) == kBlue ? 1 : 0;
        }
    }
    EXPECT_EQ(blue, 4 * s * s);
}

TEST_P(HidpiDrawing, OnlyPureColoursAndTheSamePictureAtEveryScale) {
    const int s = GetParam();
    const QImage image = DrawTriangleAndLoneDot(s);
    int white = 0, blue = 0, black = 0;
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            white += pixel == kWhite;
            blue += pixel == kBlue;
            black += pixel == kBlack;
            if (pixel != kWhite) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    // Nothing smoothed: no shades in between.
    EXPECT_EQ(white + blue + black, image.width() * image.height());
    // The ink spans the triangle's corners, dots included, in image pixels of this scale.
    EXPECT_EQ(left, CornerX(-100, s) - s);
    EXPECT_EQ(right, CornerX(100, s) + s - 1);
    EXPECT_EQ(top, CornerY(60, s) - s);
    EXPECT_EQ(bottom, CornerY(-60, s) + s - 1);
}

INSTANTIATE_TEST_SUITE_P(PixelScale, HidpiDrawing, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "Scale" + std::to_string(param.param);
                         });

}  // namespace
}  // namespace trenn
