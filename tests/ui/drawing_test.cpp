// The wireframe redraw of the viewer window, read back from the picture area's retained image:
// where dots and edges land, their colours and sizes, which triples of a strip are drawn, and
// that the fast drawing gives exactly the pixels of PictureBox::PSet and Line.

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/vertex_edit.h"
#include "model/mesh.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "model/rotation.h"

namespace trenn {
namespace {

const QRgb kBlue = QColor(0, 0, 255).rgb();
const QRgb kBlack = QColor(0, 0, 0).rgb();

struct Point {
    float x;
    float y;
    float z = 0.0f;
};

MeshPart Part(const std::vector<Point>& points, std::vector<std::int16_t> indices) {
    MeshPart part;
    std::vector<MeshVertex> records;
    for (const Point& p : points) {
        MeshVertex v;
        v.x = p.x;
        v.y = p.y;
        v.z = p.z;
        v.extra.fill(0xA5);
        records.push_back(v);
    }
    part.vertices = VertexList(records);
    const auto count = static_cast<std::int32_t>(indices.size());
    part.indices = IndexList(count, std::move(indices));
    return part;
}

struct ScaleCorners {
    float x1, y1, x2, y2;
};
// One user unit a pixel, integer coordinates on pixel corners: (x, y) is pixel corner
// (197 + x, 173 - y).
constexpr ScaleCorners kPixelGrid{-197.0f, 173.0f, 198.0f, -173.0f};
// A model fitted as loading fits one of extent 3.1: nothing lands on a pixel corner.
constexpr ScaleCorners kFitted{-3.1f, 2.7192982f, 3.1f, -2.7192982f};

// The same picture through the picture area's QPainter requests, transcribed from the rules:
// a dot for every vertex, then the three edges of every triple k = 0 .. n - 3 that names
// three different vertices of the part whose rotation succeeds.
QImage Reference(const std::vector<MeshPart>& parts, const std::vector<bool>& checked,
                 ScaleCorners s, float yaw, float pitch) {
    PictureBox picture;
    picture.Scale(s.x1, s.y1, s.x2, s.y2);
    picture.Cls();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!checked[i]) continue;
        const MeshPart& part = parts[i];
        std::vector<std::optional<MeshVertex>> turned;
        picture.SetDrawWidth(2);
        picture.SetForeColor(0xFF0000);
        for (const MeshVertex& v : part.vertices) {
            try {
                turned.push_back(RotatePoint(v, yaw, pitch));
                picture.PSet(turned.back()->x, turned.back()->y);
            } catch (const RotationFault&) {
                turned.push_back(std::nullopt);
            }
        }
        picture.SetDrawWidth(1);
        picture.SetForeColor(0);
        const auto usable = [&](std::int16_t index) {
            return index >= 0 && static_cast<std::size_t>(index) < turned.size() &&
                   turned[static_cast<std::size_t>(index)].has_value();
        };
        for (std::int64_t k = 0; k + 2 < static_cast<std::int64_t>(part.indices.size()); ++k) {
            const std::int16_t a = part.indices[static_cast<std::size_t>(k)];
            const std::int16_t b = part.indices[static_cast<std::size_t>(k + 1)];
            const std::int16_t c = part.indices[static_cast<std::size_t>(k + 2)];
            if (a == b || b == c || a == c || !usable(a) || !usable(b) || !usable(c)) continue;
            const MeshVertex& A = *turned[static_cast<std::size_t>(a)];
            const MeshVertex& B = *turned[static_cast<std::size_t>(b)];
            const MeshVertex& C = *turned[static_cast<std::size_t>(c)];
            picture.Line(A.x, A.y, B.x, B.y);
            picture.Line(B.x, B.y, C.x, C.y);
            picture.Line(C.x, C.y, A.x, A.y);
        }
    }
    return picture.Image().copy();
}

// Differing pixels, with the first one described.
int Differences(const QImage& a, const QImage& b, std::string& first) {
    if (a.size() != b.size()) {
        first = "sizes differ";
        return -1;
    }
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            if (count++ == 0) {
                first = "first at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
        }
    }
    return count;
}

int CountPixels(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == colour ? 1 : 0;
    }
    return count;
}

class Drawing : public ::testing::Test {
protected:
    // A fresh window: lists the parts, fits the picture, ticks the chosen list positions in
    // order and then presses the keys in the picture area; every step redraws.
    void Draw(std::vector<MeshPart> parts, const std::vector<int>& ticks, ScaleCorners s,
              const std::vector<Qt::Key>& keys = {}) {
        window_ = std::make_unique<FrmTrenn>();
        parts_ = std::move(parts);
        for (std::size_t k = 0; k < parts_.size(); ++k) window().AddPartItem("part " + std::to_string(k));
        window().ScalePicture(s.x1, s.y1, s.x2, s.y2);
        LoadedModel model;
        model.parts = parts_;
        window().ShowModel(model);
        scale_ = s;
        for (const int tick : ticks) window().lstParts()->SetSelected(tick, true);
        for (const Qt::Key key : keys) QTest::keyClick(window().picShow(), key);
        ASSERT_EQ(window().RedrawCount(), static_cast<int>(ticks.size() + keys.size()));
    }

    FrmTrenn& window() { return *window_; }

    const QImage& Image() { return window().picShow()->Image(); }
    QRgb Background() { return window().picShow()->BackColor().rgb(); }

    // The picture must be what the QPainter requests draw.
    void ExpectSameAsReference(const char* name) {
        std::vector<bool> checked;
        for (int i = 0; i < window().lstParts()->ListCount(); ++i) {
            checked.push_back(window().lstParts()->Selected(i));
        }
        const QImage reference = Reference(parts_, checked, scale_, window().Yaw(), window().Pitch());
        std::string first;
        EXPECT_EQ(Differences(Image(), reference, first), 0) << name << ": " << first;
    }

    // A whole dot at user (x, y) of kPixelGrid: the 2 x 2 pixels around pixel corner
    // (197 + x, 173 - y).
    bool DotAt(int x, int y) {
        const int px = 197 + x;
        const int py = 173 - y;
        return Image().pixel(px - 1, py - 1) == kBlue && Image().pixel(px, py - 1) == kBlue &&
               Image().pixel(px - 1, py) == kBlue && Image().pixel(px, py) == kBlue;
    }
    // Any black pixel within a pixel of user (x, y) of kPixelGrid.
    bool EdgeNear(int x, int y) {
        for (int dy = -2; dy <= 1; ++dy) {
            for (int dx = -2; dx <= 1; ++dx) {
                if (Image().pixel(197 + x + dx, 173 - y + dy) == kBlack) return true;
            }
        }
        return false;
    }

private:
    std::unique_ptr<FrmTrenn> window_;
    std::vector<MeshPart> parts_;
    ScaleCorners scale_{};
};

TEST_F(Drawing, AtRestAVertexLandsWhereItsXAndYMapWhateverItsZ) {
    const std::vector<Point> points = {{0.0f, 0.0f, 0.0f},    {1.37f, -0.52f, 1000.0f},
                                       {-2.9f, 2.5f, -3.0f},  {3.05f, -2.65f, 0.25f},
                                       {-0.001f, 0.7f, 1e30f}};
    Draw({Part(points, {})}, {0}, kFitted);
    const ViewMapping& mapping = window().picShow()->Mapping();
    for (const Point& p : points) {
        const int px = static_cast<int>(std::floor(mapping.PixelX(p.x)));
        const int py = static_cast<int>(std::floor(mapping.PixelY(p.y)));
        EXPECT_EQ(Image().pixel(px, py), kBlue) << p.x << ", " << p.y;
    }
    const QImage withZ = Image().copy();

    // The same points at z = 0: the same picture.
    FrmTrenn flat;
    std::vector<Point> flattened = points;
    for (Point& p : flattened) p.z = 0.0f;
    LoadedModel flatModel;
    flatModel.parts = {Part(flattened, {})};
    flat.AddPartItem("flat");
    flat.ScalePicture(kFitted.x1, kFitted.y1, kFitted.x2, kFitted.y2);
    flat.ShowModel(flatModel);
    flat.lstParts()->SetSelected(0, true);
    EXPECT_EQ(flat.picShow()->Image(), withZ);
}

TEST_F(Drawing, DotIsATwoByTwoSquareOfPureBlue) {
    Draw({Part({{10.0f, 20.0f, 5.0f}}, {})}, {0}, kPixelGrid);
    EXPECT_TRUE(DotAt(10, 20));
    EXPECT_EQ(CountPixels(Image(), kBlue), 4);
    EXPECT_EQ(CountPixels(Image(), Background()), 395 * 346 - 4);
    ExpectSameAsReference("one dot");
}

TEST_F(Drawing, EdgesAreBlackLinesOnePixelWide) {
    // A right triangle: a horizontal, a vertical and a diagonal edge, far from the dots.
    Draw({Part({{-100.0f, -60.0f}, {100.0f, -60.0f}, {-100.0f, 60.0f}}, {0, 1, 2})}, {0}, kPixelGrid);
    for (int x = -90; x <= 90; x += 10) {
        int black = 0;
        for (int py = 173 + 55; py <= 173 + 65; ++py) black += Image().pixel(197 + x, py) == kBlack;
        EXPECT_EQ(black, 1) << "bottom edge at x " << x;
    }
    for (int y = -50; y <= 50; y += 10) {
        int black = 0;
        for (int px = 197 - 105; px <= 197 - 95; ++px) black += Image().pixel(px, 173 - y) == kBlack;
        EXPECT_EQ(black, 1) << "left edge at y " << y;
    }
    EXPECT_TRUE(EdgeNear(0, 0));  // the diagonal passes through the origin
    // Nothing but background, blue and black: no smoothing.
    EXPECT_EQ(CountPixels(Image(), Background()) + CountPixels(Image(), kBlue) +
                  CountPixels(Image(), kBlack),
              395 * 346);
    ExpectSameAsReference("triangle");
}

// The four corners of a rectangle; the strip (0, 1, 2, 3) covers it with two triangles.
const std::vector<Point> kQuad = {{-100.0f, -60.0f}, {100.0f, -60.0f}, {-100.0f, 60.0f}, {100.0f, 60.0f}};

TEST_F(Drawing, EveryTripleOfTheStripIsATriangleAndEveryVertexADot) {
    // Midpoints of the edges: bottom 0-1, left 2-0, diagonal 1-2, top 2-3, right 3-1.
    const struct {
        const char* name;
        std::vector<Point> points;
        std::vector<std::int16_t> indices;
        bool bottom, left, diagonal, top, right;
    } cases[] = {
        {"(0, 1, 2, 3)", kQuad, {0, 1, 2, 3}, true, true, true, true, true},
        {"(0, 1, 2)", kQuad, {0, 1, 2}, true, true, true, false, false},
        {"(0, 0, 1, 2, 3): (0, 0, 1) is skipped", kQuad, {0, 0, 1, 2, 3}, true, true, true, true, true},
        {"(0, 1, 1, 2, 3): only (1, 2, 3) names three vertices", kQuad, {0, 1, 1, 2, 3}, false, false,
         true, true, true},
        {"(2, 1, 2, 2, 3, 3): nothing but degenerate triples", kQuad, {2, 1, 2, 2, 3, 3}, false, false,
         false, false, false},
        {"(3, 1, 2) wound the other way", kQuad, {3, 1, 2}, false, false, true, true, true},
        {"(1, 2, 3, 0): all three edges of both windings", kQuad, {1, 2, 3, 0}, false, true, true, true,
         true},
    };
    for (const auto& c : cases) {
        Draw({Part(c.points, c.indices)}, {0}, kPixelGrid);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EdgeNear(0, -60), c.bottom);
        EXPECT_EQ(EdgeNear(-100, 0), c.left);
        EXPECT_EQ(EdgeNear(0, 0), c.diagonal);
        EXPECT_EQ(EdgeNear(0, 60), c.top);
        EXPECT_EQ(EdgeNear(100, 0), c.right);
        ExpectSameAsReference(c.name);
    }
}

TEST_F(Drawing, LastVertexGetsItsDotToo) {
    std::vector<Point> points = kQuad;
    points.push_back({40.0f, 20.0f, 9.0f});  // no triple names it
    Draw({Part(points, {0, 1, 2, 3})}, {0}, kPixelGrid);
    EXPECT_TRUE(DotAt(40, 20));
    ExpectSameAsReference("five vertices");
}

TEST_F(Drawing, OneTriangleOnTheLastVerticesOfSeven) {
    const std::vector<Point> points = {{-150.0f, 120.0f}, {150.0f, 120.0f}, {-150.0f, -120.0f},
                                       {150.0f, -120.0f}, {-50.0f, -40.0f}, {50.0f, -40.0f},
                                       {0.0f, 50.0f}};
    Draw({Part(points, {4, 5, 6})}, {0}, kPixelGrid);
    for (int j = 0; j < 4; ++j) {
        EXPECT_TRUE(DotAt(static_cast<int>(points[j].x), static_cast<int>(points[j].y))) << j;
    }
    EXPECT_TRUE(EdgeNear(0, -40));   // 4-5
    EXPECT_TRUE(EdgeNear(25, 5));    // 5-6
    EXPECT_TRUE(EdgeNear(-25, 5));   // 6-4
    // Only the one triangle: nothing between the outer dots.
    EXPECT_FALSE(EdgeNear(0, 120));
    EXPECT_FALSE(EdgeNear(-150, 0));
    ExpectSameAsReference("(4, 5, 6)");
}

TEST_F(Drawing, PartsInListOrderOnlyTheChecked) {
    // The vertex of part 2 lies on part 0's bottom edge; part 1 lies apart and stays unchecked.
    std::vector<MeshPart> parts = {
        Part({{-100.0f, -60.0f}, {100.0f, -60.0f}, {-100.0f, 60.0f}}, {0, 1, 2}),
        Part({{120.0f, 100.0f}, {170.0f, 100.0f}, {150.0f, 140.0f}}, {0, 1, 2}),
        Part({{20.0f, -60.0f}, {60.0f, 100.0f}, {150.0f, -100.0f}}, {}),
    };
    Draw(parts, {0, 2}, kPixelGrid);
    EXPECT_FALSE(window().lstParts()->Selected(1));
    EXPECT_TRUE(DotAt(20, -60));   // a later part's dot over an earlier part's edge
    EXPECT_TRUE(DotAt(60, 100));
    EXPECT_TRUE(DotAt(150, -100));
    // A part's own edges cross its dots: the corner pixels of the dot at vertex 0 of part 0.
    EXPECT_FALSE(DotAt(-100, -60));
    EXPECT_GT(CountPixels(Image().copy(197 - 102, 173 + 58, 4, 4), kBlack), 0);
    // Nothing of part 1.
    EXPECT_EQ(CountPixels(Image().copy(197 + 110, 173 - 150, 70, 60), Background()), 70 * 60);
    ExpectSameAsReference("parts 0 and 2");

    // Ticking part 1 too: drawn between the two, in list order.
    window().lstParts()->SetSelected(1, true);
    EXPECT_GT(CountPixels(Image().copy(197 + 110, 173 - 150, 70, 60), kBlack), 0);
    ExpectSameAsReference("parts 0, 1 and 2");
    // Clearing every tick clears the picture.
    for (int i = 0; i < 3; ++i) window().lstParts()->SetSelected(i, false);
    EXPECT_EQ(CountPixels(Image(), Background()), 395 * 346);
}

TEST_F(Drawing, FewerThanThreeIndicesDrawDotsOnly) {
    for (const std::vector<std::int16_t>& indices :
         {std::vector<std::int16_t>{}, std::vector<std::int16_t>{0}, std::vector<std::int16_t>{0, 1}}) {
        Draw({Part(kQuad, indices)}, {0}, kPixelGrid);
        SCOPED_TRACE(indices.size());
        for (const Point& p : kQuad) EXPECT_TRUE(DotAt(static_cast<int>(p.x), static_cast<int>(p.y)));
        EXPECT_EQ(CountPixels(Image(), kBlack), 0);
        EXPECT_EQ(CountPixels(Image(), kBlue), 16);
    }
}

TEST_F(Drawing, AnIndexOutsideThePartSkipsOnlyItsTriples) {
    const struct {
        const char* name;
        std::vector<std::int16_t> indices;
        bool bottom, top;  // edges only (0, 1, 2) and only (1, 2, 3) draw
    } cases[] = {
        {"(0, 1, 2, 7, 1, 2, 3)", {0, 1, 2, 7, 1, 2, 3}, true, true},
        {"(0, 1, 2, -1, 1, 2, 3)", {0, 1, 2, -1, 1, 2, 3}, true, true},
        {"(0, 1, 4, 1, 2, 3): 4 is one past the last", {0, 1, 4, 1, 2, 3}, false, true},
        {"(0, 1, 2, 32767)", {0, 1, 2, 32767}, true, false},
        {"(-32768, 1, 2, 3)", {-32768, 1, 2, 3}, false, true},
    };
    for (const auto& c : cases) {
        Draw({Part(kQuad, c.indices)}, {0}, kPixelGrid);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EdgeNear(0, -60), c.bottom);
        EXPECT_EQ(EdgeNear(0, 60), c.top);
        EXPECT_GT(CountPixels(Image(), kBlue), 0);
        ExpectSameAsReference(c.name);
    }
}

TEST_F(Drawing, IndexEntriesPastTheEndOfTheFileAreZeros) {
    // 40 entries of which 3 were read: (0, 1, 2), (1, 2, 0), then triples of zeros.
    MeshPart part = Part(kQuad, {});
    part.indices = IndexList(40, std::vector<std::int16_t>{0, 1, 2});
    Draw({part}, {0}, kPixelGrid);
    EXPECT_TRUE(EdgeNear(0, -60));
    EXPECT_FALSE(EdgeNear(0, 60));
    ExpectSameAsReference("zero tail");
}

TEST_F(Drawing, VerticesWhoseRotationFaultsAreSkippedWithTheirTriangles) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* name;
        Point bad;
        int lefts;  // yaw steps before the picture is checked
    } cases[] = {
        // Turned by eight steps, x1 = 3e38 (cos + sin) is beyond the single range.
        {"3e38 turned", {3e38f, 0.0f, -3e38f}, 8},
        {"infinite x", {kInf, 0.5f, 0.0f}, 0},
        {"infinite z at rest", {0.5f, 0.5f, -kInf}, 0},
        {"not a number", {kNaN, 0.5f, 0.5f}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Point> points = {c.bad, {-1.0f, -1.0f}, {1.0f, -1.0f}, {0.0f, 1.0f}};
        // (bad, 1, 2) is skipped, (1, 2, 3) drawn; the bad vertex gets no dot.
        std::vector<Qt::Key> keys(static_cast<std::size_t>(c.lefts), Qt::Key_Left);
        Draw({Part(points, {0, 1, 2, 3})}, {}, kFitted, keys);
        EXPECT_NO_THROW(window().lstParts()->SetSelected(0, true));
        EXPECT_EQ(window().RedrawCount(), c.lefts + 1);
        EXPECT_GT(CountPixels(Image(), kBlack), 100);
        ExpectSameAsReference(c.name);
        MeshVertex bad;
        bad.x = c.bad.x;
        bad.y = c.bad.y;
        bad.z = c.bad.z;
        EXPECT_THROW(RotatePoint(bad, window().Yaw(), window().Pitch()), RotationFault);
    }
    // Drawing goes on afterwards.
    QTest::keyClick(window().picShow(), Qt::Key_Up);
    ExpectSameAsReference("after the faults");
}

TEST_F(Drawing, TurnedMeshMatchesTheReference) {
    // A jittered grid as one long strip, at a fitted scale, turned by keys.
    std::vector<Point> points;
    std::vector<std::int16_t> strip;
    for (int row = 0; row < 6; ++row) {
        for (int col = 0; col < 9; ++col) {
            const float jitter = static_cast<float>((row * 7 + col * 13) % 11) * 0.013f;
            points.push_back({-2.8f + 0.7f * static_cast<float>(col) + jitter,
                              -2.0f + 0.8f * static_cast<float>(row) - jitter,
                              std::sin(static_cast<float>(col + row))});
        }
    }
    for (int row = 0; row + 1 < 6; ++row) {
        for (int col = 0; col < 9; ++col) {
            strip.push_back(static_cast<std::int16_t>(row * 9 + col));
            strip.push_back(static_cast<std::int16_t>((row + 1) * 9 + col));
        }
    }
    MeshPart second = Part(points, strip);
    EditVertices(second.vertices, [](std::vector<MeshVertex>& records) {
        for (MeshVertex& v : records) v.z += 1.5f;
    });
    Draw({Part(points, strip), second}, {0, 1}, kFitted,
         {Qt::Key_Left, Qt::Key_Left, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Right});
    EXPECT_NE(window().Yaw(), 0.0f);
    EXPECT_NE(window().Pitch(), 0.0f);
    ExpectSameAsReference("turned grid");
}

}  // namespace
}  // namespace trenn
