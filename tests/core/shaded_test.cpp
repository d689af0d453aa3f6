// The shaded picture: exact coverage, depth, light, edges, threads and hostile input.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "render/colours.h"
#include "render/shaded.h"
#include "render/shaded_raster.h"

using namespace trenn;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;

MeshPart Part(const std::vector<std::array<float, 3>>& points, const std::vector<std::int16_t>& strip) {
    std::vector<MeshVertex> records(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        records[i].x = points[i][0];
        records[i].y = points[i][1];
        records[i].z = points[i][2];
    }
    MeshPart part;
    part.vertices = VertexList(records);
    part.indices = IndexList(static_cast<std::int32_t>(strip.size()), strip);
    return part;
}

// A square [x0, x1] x [y0, y1] at depth z as a strip of two triangles.
MeshPart Square(float x0, float y0, float x1, float y1, float z) {
    return Part({{x0, y0, z}, {x1, y0, z}, {x0, y1, z}, {x1, y1, z}}, {0, 1, 2, 3});
}

// Model units are pixels: x to the right, y up from the bottom of a w x h picture.
ViewMapping PixelMapping(int w, int h) { return ViewMapping::FromScale(0, h, w, 0, w, h); }

struct Picture {
    int width;
    int height;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int i, int j) const { return pixels[static_cast<std::size_t>(j) * width + i]; }
    // Pixel (i, j) with y counted up from the bottom, as the model counts it.
    std::uint32_t AtModel(int x, int y) const { return At(x, height - 1 - y); }
};

Picture Render(const std::vector<MeshPart>& parts, int w, int h, bool edges = false, int threads = 1,
               std::vector<bool> checked = {}, float yaw = 0.0f, float pitch = 0.0f) {
    Scene scene;
    scene.parts = &parts;
    scene.checked = checked.empty() ? std::vector<bool>(parts.size(), true) : checked;
    scene.mapping = PixelMapping(w, h);
    scene.yaw = yaw;
    scene.pitch = pitch;
    Picture picture{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h, kWhite)};
    EXPECT_TRUE(DrawShaded(scene, RasterTarget{picture.pixels.data(), w, h, w}, edges, threads));
    return picture;
}

// How many snapped triangles cover each pixel of a w x h window.
struct CoverageCount {
    int width, height;
    std::vector<int> count;
    CoverageCount(int w, int h) : width(w), height(h), count(static_cast<std::size_t>(w) * h) {}
    void Add(const double (&gx)[3], const double (&gy)[3]) {
        FillGridTriangle(gx, gy, PixelWindow{width, height}, [&](int j, int first, int last) {
            for (int i = first; i <= last; ++i) ++count[static_cast<std::size_t>(j) * width + i];
        });
    }
};

}  // namespace

// A jittered grid of triangles sharing all their edges, some corners on pixel centres so that
// the top-left rule decides: every pixel centre inside the grid's outline is covered exactly
// once, and none outside it.
TEST(ShadedCoverage, SharedEdgesCoverEveryCentreOnce) {
    constexpr int kW = 64, kH = 48;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> jitter(-100, 100);
    // Grid points in pixels over [4, 60] x [4, 44]; inner points jittered or on a centre.
    constexpr int kCols = 9, kRows = 7;
    std::vector<std::array<double, 2>> point(kCols * kRows);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            double x = 4 + c * 7.0, y = 4 + r * (40.0 / 6);
            if (c > 0 && c < kCols - 1 && r > 0 && r < kRows - 1) {
                x = (r + c) % 3 != 0 ? x + jitter(random) / 64.0 : std::floor(x) + 0.5;
                y = (r + c) % 3 != 0 ? y + jitter(random) / 64.0 : std::floor(y) + 0.5;
            }
            point[static_cast<std::size_t>(r * kCols + c)] = {x, y};
        }
    }
    CoverageCount coverage(kW, kH);
    for (int r = 0; r + 1 < kRows; ++r) {
        for (int c = 0; c + 1 < kCols; ++c) {
            const auto p = [&](int rr, int cc) { return point[static_cast<std::size_t>(rr * kCols + cc)]; };
            const std::array<double, 2> a = p(r, c), b = p(r, c + 1), d = p(r + 1, c), e = p(r + 1, c + 1);
            for (const auto& t : {std::array{a, b, d}, std::array{b, e, d}}) {
                const double gx[3] = {ToGrid(t[0][0]), ToGrid(t[1][0]), ToGrid(t[2][0])};
                const double gy[3] = {ToGrid(t[0][1]), ToGrid(t[1][1]), ToGrid(t[2][1])};
                coverage.Add(gx, gy);
            }
        }
    }
    for (int j = 0; j < kH; ++j) {
        for (int i = 0; i < kW; ++i) {
            const double x = i + 0.5, y = j + 0.5;
            const bool inOutline = x > 4 && x < 60 && y > 4 && y < 44;
            ASSERT_EQ(coverage.count[static_cast<std::size_t>(j) * kW + i], inOutline ? 1 : 0) << i << ", " << j;
        }
    }
}

// Triangles with corners far beyond the guard band, clipped, still meet exactly: a square of
// side 2 10^12 pixels cut into six triangles around two points in the picture covers every
// centre of the picture once. Its clipped edges are computed the same way from both sides.
TEST(ShadedCoverage, ClippedTrianglesStillMeetExactly) {
    constexpr int kW = 64, kH = 48;
    constexpr double kFar = 1e12;
    const std::array<double, 2> c0{-kFar, -kFar}, c1{kFar, -kFar}, c2{kFar, kFar}, c3{-kFar, kFar};
    for (const auto& [a, b] : {std::pair{std::array<double, 2>{30.3, 15.7}, std::array<double, 2>{25.5, 35.5}},
                               std::pair{std::array<double, 2>{20.5, 10.5}, std::array<double, 2>{40.5, 30.5}}}) {
        CoverageCount coverage(kW, kH);
        for (const auto& t : {std::array{c0, c1, a}, std::array{c1, c2, a}, std::array{c2, b, a},
                              std::array{c2, c3, b}, std::array{c3, c0, b}, std::array{c0, a, b}}) {
            const double gx[3] = {ToGrid(t[0][0]), ToGrid(t[1][0]), ToGrid(t[2][0])};
            const double gy[3] = {ToGrid(t[0][1]), ToGrid(t[1][1]), ToGrid(t[2][1])};
            coverage.Add(gx, gy);
        }
        for (int j = 0; j < kH; ++j) {
            for (int i = 0; i < kW; ++i) ASSERT_EQ(coverage.count[static_cast<std::size_t>(j) * kW + i], 1) << i << ", " << j;
        }
    }
}

// Edges exactly through pixel centres: a centre on a top or left edge is covered, on a bottom or
// right edge it is not, and on the shared diagonal of a square it is covered by exactly one of
// the two triangles.
TEST(ShadedCoverage, TopLeftRuleOnEdgesThroughCentres) {
    struct Case {
        const char* name;
        std::array<double, 6> triangle;  // pixels
        std::vector<std::array<int, 2>> covered;
    };
    // Pixel (i, j) has its centre at (i + 0.5, j + 0.5); y grows downwards.
    const std::vector<Case> cases = {
        {"top and left edges count, the hypotenuse on the bottom right does not",
         {2.5, 1.5, 5.5, 1.5, 2.5, 4.5},
         {{2, 1}, {3, 1}, {4, 1}, {2, 2}, {3, 2}, {2, 3}}},
        {"the square's other half: its hypotenuse is on the top left and counts, its right and bottom "
         "edges do not",
         {5.5, 4.5, 2.5, 4.5, 5.5, 1.5},
         {{4, 2}, {3, 3}, {4, 3}}},
        {"a sloped top-left edge through the centre (3.5, 2.5) counts; bottom and right edges do not",
         {6.5, 0.5, 6.5, 4.5, 0.5, 4.5},
         {{5, 1}, {3, 2}, {4, 2}, {5, 2}, {2, 3}, {3, 3}, {4, 3}, {5, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double gx[3] = {ToGrid(c.triangle[0]), ToGrid(c.triangle[2]), ToGrid(c.triangle[4])};
        const double gy[3] = {ToGrid(c.triangle[1]), ToGrid(c.triangle[3]), ToGrid(c.triangle[5])};
        std::set<std::array<int, 2>> covered;
        FillGridTriangle(gx, gy, PixelWindow{8, 8}, [&](int j, int first, int last) {
            for (int i = first; i <= last; ++i) covered.insert({i, j});
        });
        EXPECT_EQ(covered, (std::set<std::array<int, 2>>(c.covered.begin(), c.covered.end())));
    }
    // Both halves of the square together: every centre of [2.5, 5.5] x [1.5, 4.5] on or inside
    // the square, except its bottom and right sides, exactly once.
    CoverageCount square(8, 8);
    for (const auto& t : {std::array<double, 6>{2.5, 1.5, 5.5, 1.5, 2.5, 4.5}, std::array<double, 6>{5.5, 1.5, 5.5, 4.5, 2.5, 4.5}}) {
        const double gx[3] = {ToGrid(t[0]), ToGrid(t[2]), ToGrid(t[4])};
        const double gy[3] = {ToGrid(t[1]), ToGrid(t[3]), ToGrid(t[5])};
        square.Add(gx, gy);
    }
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(square.count[static_cast<std::size_t>(j) * 8 + i], (i >= 2 && i <= 4 && j >= 1 && j <= 3) ? 1 : 0)
                << i << ", " << j;
        }
    }
}

// Every copy of the shaded fill gives the same words and colours as the plain one, for small
// triangles (the vector path), large ones and ones reaching past the picture's sides.
TEST(ShadedCoverage, EveryFillCopyGivesTheSamePixels) {
    constexpr int kW = 100, kH = 70;
    constexpr int kStride = 104;  // padded to whole runs of eight words
    std::mt19937 random(5);
    std::uniform_real_distribution<double> position(-20.0, 120.0), offset(-9.0, 9.0), depth(-5.0, 5.0);
    std::uniform_int_distribution<int> big(0, 9);
    struct Buffers {
        std::vector<std::uint64_t> store = std::vector<std::uint64_t>(kStride * kH + 24);
        std::vector<std::uint32_t> colours = std::vector<std::uint32_t>(kW * kH, kWhite);
        std::vector<std::uint64_t> least = std::vector<std::uint64_t>(13 * 9);
        std::vector<std::uint8_t> written = std::vector<std::uint8_t>(13 * 9);
        FragmentList list;
        ShadedPixels Pixels() {
            const auto at = reinterpret_cast<std::uintptr_t>(store.data());
            std::uint64_t* front = store.data() + ((64 - at % 64) % 64) / 8;
            return {front, kStride, colours.data(), kW, kW, kH, least.data(), written.data(), 13};
        }
    };
    std::vector<ShadedFillCopy> copies = ShadedFillCopies();
    ASSERT_FALSE(copies.empty());
    std::vector<std::unique_ptr<Buffers>> results;
    std::vector<std::array<GridPoint, 3>> triangles;
    std::vector<ShadedTriangle> shading;
    for (int n = 0; n < 3000; ++n) {
        const double cx = position(random), cy = position(random);
        const double reach = big(random) == 0 ? 15.0 : 1.0;
        std::array<GridPoint, 3> t;
        for (GridPoint& p : t) p = Snap(ToGrid(cx + reach * offset(random)), ToGrid(cy + reach * offset(random)));
        triangles.push_back(t);
        const double z0 = depth(random);
        shading.push_back({cx, cy, depth(random) * 0.1, depth(random) * 0.1, static_cast<float>(z0),
                           static_cast<float>(z0 - 3), static_cast<float>(z0 + 3),
                           0xFF000000u | static_cast<std::uint32_t>(n * 2654435761u >> 8), static_cast<std::uint32_t>(n + 1)});
    }
    int run = 0;
    for (const ShadedFillCopy& copy : copies) {
        if (!copy.runs) continue;
        ++run;
        auto buffers = std::make_unique<Buffers>();
        buffers->list.pixels = buffers->Pixels();
        for (std::size_t n = 0; n < triangles.size(); ++n) {
            copy.function(shading[n], triangles[n][0], triangles[n][1], triangles[n][2], buffers->list);
        }
        buffers->list.Resolve();
        results.push_back(std::move(buffers));
    }
    ASSERT_GE(run, 1);
    for (std::size_t r = 1; r < results.size(); ++r) {
        const ShadedPixels a = results[0]->Pixels(), b = results[r]->Pixels();
        for (int j = 0; j < kH; ++j) {
            for (int i = 0; i < kW; ++i) {
                ASSERT_EQ(a.front[j * kStride + i], b.front[j * kStride + i]) << i << ", " << j;
                ASSERT_EQ(results[0]->colours[j * kW + i], results[r]->colours[j * kW + i]) << i << ", " << j;
            }
        }
    }
}

// The coverage masks worked out for many small triangles at once are the pixels FillTriangle
// covers, for random small triangles, many with corners and edges on pixel centres, near and
// across the picture's sides.
TEST(ShadedCoverage, SmallTriangleMasksAreTheFilledPixels) {
    constexpr int kW = 50, kH = 30;
    std::mt19937 random(9);
    std::uniform_int_distribution<int> centre(-4 * 256, 54 * 256), reach(-3 * 256, 3 * 256), snap(0, 3);
    auto batch = std::make_unique<SmallCoverage>();
    int small = 0;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::array<GridPoint, 3>> triangles;
        for (int n = 0; n < kCoverageBatch; ++n) {
            const int cx = centre(random), cy = centre(random) * 3 / 5;
            std::array<GridPoint, 3> t;
            for (GridPoint& p : t) {
                p = {cx + reach(random), cy + reach(random) / 2};
                if (snap(random) == 0) p = {p.x / 256 * 256, p.y / 256 * 256};  // on a centre
            }
            triangles.push_back(t);
            batch->ax[n] = t[0].x, batch->ay[n] = t[0].y, batch->bx[n] = t[1].x, batch->by[n] = t[1].y;
            batch->cx[n] = t[2].x, batch->cy[n] = t[2].y;
        }
        CoverSmallTriangles(*batch, kCoverageBatch, PixelWindow{kW, kH});
        for (int n = 0; n < kCoverageBatch; ++n) {
            std::set<std::array<int, 2>> filled, masked;
            FillTriangle(triangles[n][0], triangles[n][1], triangles[n][2], PixelWindow{kW, kH},
                         [&](int j, int first, int last) {
                             for (int i = first; i <= last; ++i) filled.insert({i, j});
                         });
            if (!batch->small[n]) continue;
            ++small;
            for (int bit = 0; bit < kSmallColumns * kSmallRows; ++bit) {
                if (batch->covered[n] >> bit & 1) masked.insert({batch->i0[n] + bit % kSmallColumns, batch->j0[n] + bit / kSmallColumns});
            }
            ASSERT_EQ(masked, filled) << "triangle " << n << " of round " << round;
        }
    }
    EXPECT_GT(small, 5000);
}

// The nearer of two overlapping squares shows whichever comes first in the list; at the same
// depth the later one shows, and of a part listed twice, its later place.
TEST(ShadedRenderer, NearerShowsAndTiesGoToTheLaterPart) {
    const MeshPart near = Square(2, 2, 12, 12, 1.0f), far = Square(6, 6, 16, 16, -1.0f);
    const MeshPart same = Square(6, 6, 16, 16, 1.0f);
    const auto colourAt = [](const Picture& p, int x, int y) { return p.AtModel(x, y); };
    for (const bool nearFirst : {true, false}) {
        const std::vector<MeshPart> parts = nearFirst ? std::vector{near, far} : std::vector{far, near};
        const Picture picture = Render(parts, 20, 20);
        const std::uint32_t nearColour = ShadedPartColour(nearFirst ? 0 : 1);
        const std::uint32_t farColour = ShadedPartColour(nearFirst ? 1 : 0);
        EXPECT_EQ(colourAt(picture, 8, 8), nearColour) << "overlap, near first: " << nearFirst;
        EXPECT_EQ(colourAt(picture, 14, 14), farColour);
        EXPECT_EQ(colourAt(picture, 3, 3), nearColour);
        EXPECT_EQ(colourAt(picture, 18, 18), kWhite);
    }
    // Equally near: the later list position shows, however the parts are ordered for filling.
    for (const bool sameFirst : {true, false}) {
        const std::vector<MeshPart> parts = sameFirst ? std::vector{same, near} : std::vector{near, same};
        const Picture picture = Render(parts, 20, 20);
        EXPECT_EQ(colourAt(picture, 8, 8), ShadedPartColour(1)) << "same first: " << sameFirst;
    }
    // A part listed again later is drawn there: its colour is that of its later position.
    const std::vector<MeshPart> twice = {near, same, near};
    EXPECT_EQ(colourAt(Render(twice, 20, 20), 8, 8), ShadedPartColour(2));
    EXPECT_EQ(colourAt(Render(twice, 20, 20, false, 1, {true, true, false}), 8, 8), ShadedPartColour(1));
}

// Light from the viewer: a face turned to the viewer shows its part's colour exactly; a face
// turned by an angle shows ambient + (1 - ambient) cos(angle) of it, so a face seen nearly
// edge-on shows about the ambient floor. With unequal scales across and down the picture the
// angle is that of the model, not of the picture.
TEST(ShadedRenderer, FlatLightFromTheViewer) {
    const std::uint32_t colour = ShadedPartColour(0);
    const auto expected = [&](double cosine) {
        const double intensity = kShadedAmbient + (1.0 - kShadedAmbient) * cosine;
        std::uint32_t out = 0xFF000000u;
        for (const int shift : {16, 8, 0}) {
            out |= static_cast<std::uint32_t>(((colour >> shift) & 0xFFu) * intensity + 0.5) << shift;
        }
        return out;
    };
    struct Case {
        double degrees;
        double scaleY;  // picture pixels per model unit down the picture
    };
    for (const Case c : {Case{0, 1}, Case{60, 1}, Case{60, 3}, Case{88, 1}}) {
        SCOPED_TRACE(c.degrees);
        // A 20 x 40 rectangle tilted about the x axis by the angle, centred on (20, 19.5): the
        // centre of pixel (20, 20) at any scale of the mapping below.
        const double tilt = c.degrees * 3.14159265358979323846 / 180.0;
        const auto y = [&](double v) { return static_cast<float>(19.5 + v * std::cos(tilt)); };
        const auto z = [&](double v) { return static_cast<float>(v * std::sin(tilt)); };
        const std::vector<MeshPart> parts = {
            Part({{10, y(-20), z(-20)}, {30, y(-20), z(-20)}, {10, y(20), z(20)}, {30, y(20), z(20)}}, {0, 1, 2, 3})};
        Scene scene;
        scene.parts = &parts;
        scene.checked = {true};
        // x as pixels; y = 19.5 on the centre of row 20, c.scaleY pixels to a unit.
        scene.mapping = ViewMapping::FromScale(0, 19.5 + 20.5 / c.scaleY, 40, 19.5 - 19.5 / c.scaleY, 40, 40);
        std::vector<std::uint32_t> pixels(40 * 40, kWhite);
        ASSERT_TRUE(DrawShaded(scene, RasterTarget{pixels.data(), 40, 40, 40}));
        // The rectangle's normal is (0, -sin, cos): its cosine with the view is cos(tilt).
        EXPECT_EQ(pixels[20 * 40 + 20], expected(std::cos(tilt))) << std::hex << pixels[20 * 40 + 20];
    }
    EXPECT_EQ(expected(1.0), colour);
    // Seen nearly edge-on, a face is close to the ambient floor in every channel.
    const std::uint32_t floor = expected(0.0), nearlyEdgeOn = expected(std::cos(88 * 3.14159265358979323846 / 180.0));
    for (const int shift : {16, 8, 0}) {
        const int above = static_cast<int>((nearlyEdgeOn >> shift) & 0xFFu) - static_cast<int>((floor >> shift) & 0xFFu);
        EXPECT_GE(above, 0);
        EXPECT_LE(above, 8);
    }
}

// With edges on, the boundaries of the visible triangles are black lines one pixel thick on the
// later triangle's side: the outlines and diagonals where they show. The back square's diagonal
// behind the front square stays hidden. With edges off nothing is black.
TEST(ShadedRenderer, VisibleEdgesOnly) {
    // Back square [2, 36]^2 (diagonal x + y = 38), front square [10, 30]^2 (diagonal x + y = 40).
    const std::vector<MeshPart> parts = {Square(2, 2, 36, 36, -1.0f), Square(10, 10, 30, 30, 1.0f)};
    const Picture plain = Render(parts, 40, 40, false);
    const Picture edged = Render(parts, 40, 40, true);
    const auto black = [](std::uint32_t p) { return p == kEdgeColour; };
    EXPECT_EQ(std::count_if(plain.pixels.begin(), plain.pixels.end(), black), 0);
    for (int j = 0; j < 40; ++j) {
        for (int i = 0; i < 40; ++i) {
            // Where the edged picture is not black, it is the plain one.
            if (!black(edged.At(i, j))) {
                ASSERT_EQ(edged.At(i, j), plain.At(i, j)) << i << ", " << j;
            }
        }
    }
    for (int x = 12; x <= 24; ++x) {
        // The front square's diagonal shows; the back square's, under it, does not.
        bool front = false;
        for (int y = 38 - x; y <= 41 - x; ++y) front |= black(edged.AtModel(x, y));
        EXPECT_TRUE(front) << "front diagonal at x = " << x;
        EXPECT_FALSE(black(edged.AtModel(x, 38 - x)) || black(edged.AtModel(x, 37 - x))) << "back diagonal at x = " << x;
    }
    for (int v = 12; v <= 24; ++v) {
        // The front square's sides over the back square: one pixel, on the front square, on
        // every side.
        EXPECT_TRUE(black(edged.AtModel(10, v)) && black(edged.AtModel(29, v))) << v;
        EXPECT_TRUE(black(edged.AtModel(v, 10)) && black(edged.AtModel(v, 29))) << v;
        EXPECT_FALSE(black(edged.AtModel(9, v)) || black(edged.AtModel(11, v))) << v;
        EXPECT_FALSE(black(edged.AtModel(28, v)) || black(edged.AtModel(30, v))) << v;
        EXPECT_FALSE(black(edged.AtModel(v, 9)) || black(edged.AtModel(v, 11))) << v;
        EXPECT_FALSE(black(edged.AtModel(v, 28)) || black(edged.AtModel(v, 30))) << v;
    }
    for (int y = 4; y <= 8; ++y) {
        // The back square's outline against the background: on the square, not outside it.
        EXPECT_TRUE(black(edged.AtModel(2, y))) << y;
        EXPECT_FALSE(black(edged.AtModel(1, y)) || black(edged.AtModel(3, y))) << y;
    }
    // Lines are pixelScale thick on a scaled screen.
    Scene scene;
    scene.parts = &parts;
    scene.checked = {true, true};
    scene.mapping = PixelMapping(40, 40);
    scene.pixelScale = 2;
    std::vector<std::uint32_t> pixels(40 * 40, kWhite);
    ASSERT_TRUE(DrawShaded(scene, RasterTarget{pixels.data(), 40, 40, 40}, true));
    for (int y = 12; y <= 24; ++y) {
        const int j = 39 - y;
        EXPECT_TRUE(black(pixels[j * 40 + 10]) && black(pixels[j * 40 + 11])) << y;
        EXPECT_FALSE(black(pixels[j * 40 + 9]) || black(pixels[j * 40 + 12])) << y;
    }
}

// One thread or two, the same picture, pixel for pixel, on a random model large enough for the
// second thread: overlapping quads of all sizes, many of them crossing, some equally near, with
// and without edges, turned, and drawn again in the order the renderer learnt from the redraw
// before.
TEST(ShadedRenderer, OneThreadAndTwoGiveTheSamePicture) {
    constexpr int kW = 800, kH = 700;  // enough pixels for the second thread
    std::mt19937 random(3);
    std::uniform_real_distribution<float> across(0.0f, kW), down(0.0f, kH), unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> size(0, 19);
    std::vector<MeshPart> parts;
    for (int p = 0; p < 6; ++p) {
        std::vector<std::array<float, 3>> points;
        std::vector<std::int16_t> strip;
        for (int q = 0; q < 1500; ++q) {
            const float cx = across(random), cy = down(random), reach = size(random) == 0 ? 60.0f : 6.0f;
            const float depth = q % 7 == 0 ? 0.0f : unit(random);  // some exactly level and equally near
            const auto base = static_cast<std::int16_t>(points.size());
            for (int k = 0; k < 4; ++k) {
                points.push_back({cx + reach * unit(random), cy + reach * unit(random), depth + (q % 7 ? 0.3f * unit(random) : 0.0f)});
            }
            if (!strip.empty()) strip.insert(strip.end(), {strip.back(), base});  // degenerate joins
            strip.insert(strip.end(), {base, static_cast<std::int16_t>(base + 1), static_cast<std::int16_t>(base + 2),
                                       static_cast<std::int16_t>(base + 3)});
        }
        parts.push_back(Part(points, strip));
    }
    for (const bool edges : {false, true}) {
        ShadedRenderer one(1), two(2);
        one.SetEdges(edges);
        two.SetEdges(edges);
        Scene scene;
        scene.parts = &parts;
        scene.checked.assign(parts.size(), true);
        scene.mapping = PixelMapping(kW, kH);
        scene.width = kW;
        scene.height = kH;
        for (const float yaw : {0.0f, 0.0f, 0.02f}) {
            scene.yaw = yaw;
            scene.pitch = -yaw;
            std::vector<std::uint32_t> a(kW * kH, kWhite), b(kW * kH, kWhite);
            ASSERT_TRUE(one.Render(scene, RasterTarget{a.data(), kW, kH, kW}));
            ASSERT_TRUE(two.Render(scene, RasterTarget{b.data(), kW, kH, kW}));
            EXPECT_EQ(a, b) << "edges " << edges << ", yaw " << yaw;
            EXPECT_GT(std::count(a.begin(), a.end(), kWhite), 0);
            EXPECT_LT(std::count(a.begin(), a.end(), kWhite), kW * kH / 2);
        }
    }
}

// Hostile models and views draw a picture or skip triangles, quickly: coordinates that are not
// numbers, infinite or near the single limit, a zoom far in with the view far away, triangles
// far outside the picture, and millions of degenerate or out-of-range triples.
TEST(ShadedRenderer, HostileInputGivesAPictureOrNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    std::vector<MeshPart> parts = {
        Part({{0, 0, 0}, {nan, 1, 1}, {5, 5, 0}, {inf, 0, 0}, {3e38f, -3e38f, 3e38f}, {-3e38f, 3e38f, 0}, {9, 2, 1}},
             {0, 1, 2, 3, 4, 5, 6, 0, 2, 6, 4}),
        // Out of range, negative and repeated entries, and a count far past what is stored.
        Part({{1, 1, 0}, {8, 1, 0}, {1, 8, 0}}, std::vector<std::int16_t>{0, 1, 2, 7, -3, 2, 2, 2, 32767, 0, 1}),
        // A huge triangle through the picture with corners far beyond the guard band.
        Part({{-3e38f, -1, 0}, {3e38f, -1, 0}, {0, 3e38f, 0}}, {0, 1, 2}),
    };
    parts.push_back(Part({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}));
    parts.back().indices = IndexList(2'000'000'000, std::vector<std::int16_t>{0, 1, 2, 0});
    std::vector<std::int16_t> degenerate(3'000'000, 5);
    for (std::size_t k = 0; k < degenerate.size(); k += 7) degenerate[k] = static_cast<std::int16_t>(k % 2 ? -1 : 9);
    parts.push_back(Part({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, degenerate));

    struct View {
        const char* name;
        ViewMapping mapping;
        float yaw, pitch;
    };
    const std::vector<View> views = {
        {"plain", PixelMapping(64, 48), 0.0f, 0.0f},
        {"turned", PixelMapping(64, 48), 0.7f, -1.1f},
        {"zoomed in far away", ViewMapping::FromScale(1e7, 1e7 + 48 / 4096.0, 1e7 + 64 / 4096.0, 1e7, 64, 48), 0.2f, 0.1f},
        {"zoomed in on the origin", ViewMapping::FromScale(-64 / 8192.0, 48 / 8192.0, 64 / 8192.0, -48 / 8192.0, 64, 48), 0, 0},
        {"scales not numbers", ViewMapping{nan, 0, inf, 0, 0, 0}, 0, 0},
        {"huge scales", ViewMapping{1e300, -1e300, -1e300, 1e300, 0, 0}, 0.1f, 0.2f},
    };
    for (const View& view : views) {
        SCOPED_TRACE(view.name);
        for (const bool edges : {false, true}) {
            for (const int threads : {1, 2}) {
                Scene scene;
                scene.parts = &parts;
                scene.checked.assign(parts.size(), true);
                scene.mapping = view.mapping;
                scene.yaw = view.yaw;
                scene.pitch = view.pitch;
                std::vector<std::uint32_t> pixels(64 * 48, kWhite);
                ASSERT_TRUE(DrawShaded(scene, RasterTarget{pixels.data(), 64, 48, 64}, edges, threads));
                for (const std::uint32_t p : pixels) ASSERT_EQ(p >> 24, 0xFFu);
            }
        }
    }
}

// The same large triangle six million times over would take minutes to fill; a redraw stops
// filling large triangles well before, but still fills every small one and gives the picture
// the first copies make.
TEST(ShadedRenderer, RepeatedLargeTrianglesAreFilledWithinABound) {
    std::vector<std::int16_t> repeated(6'000'000);
    for (std::size_t k = 0; k < repeated.size(); ++k) repeated[k] = static_cast<std::int16_t>(k % 3);
    const std::vector<MeshPart> parts = {Part({{-10, -10, 0}, {200, -10, 0}, {-10, 200, 0}}, repeated),
                                         Square(20, 20, 24, 24, 1)};
    for (const int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        Scene scene;
        scene.parts = &parts;
        scene.checked = {true, true};
        scene.mapping = PixelMapping(64, 48);
        std::vector<std::uint32_t> pixels(64 * 48, kWhite);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(DrawShaded(scene, RasterTarget{pixels.data(), 64, 48, 64}, false, threads));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
        EXPECT_EQ(pixels[0] & 0xFFFFFFu, ShadedPartColour(0) & 0xFFFFFFu);
        EXPECT_EQ(pixels[47 * 64 + 63] & 0xFFFFFFu, ShadedPartColour(0) & 0xFFFFFFu);
        EXPECT_EQ(pixels[(47 - 22) * 64 + 22] & 0xFFFFFFu, ShadedPartColour(1) & 0xFFFFFFu);
    }
}

// Prepare and Draw: a target of another size than the one prepared for is left untouched, a scene
// without parts or with an impossible size cannot be prepared, and a picture of no size is fine.
TEST(ShadedRenderer, PrepareAndDrawContract) {
    const std::vector<MeshPart> parts = {Square(2, 2, 12, 12, 0)};
    ShadedRenderer renderer;
    Scene scene;
    scene.parts = &parts;
    scene.checked = {true};
    scene.mapping = PixelMapping(16, 16);
    scene.width = 16;
    scene.height = 16;
    ASSERT_TRUE(renderer.Prepare(scene));
    std::vector<std::uint32_t> other(20 * 16, kWhite);
    renderer.Draw(RasterTarget{other.data(), 20, 16, 20});
    EXPECT_EQ(std::count(other.begin(), other.end(), kWhite), 20 * 16);
    std::vector<std::uint32_t> pixels(16 * 16, kWhite);
    renderer.Draw(RasterTarget{pixels.data(), 16, 16, 16});
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), ShadedPartColour(0)), 10 * 10);

    Scene none = scene;
    none.parts = nullptr;
    EXPECT_FALSE(renderer.Prepare(none));
    renderer.Draw(RasterTarget{pixels.data(), 16, 16, 16});  // nothing prepared: nothing drawn
    Scene huge = scene;
    huge.width = kMaxShadedSide + 1;
    EXPECT_FALSE(renderer.Prepare(huge));
    Scene empty = scene;
    empty.width = 0;
    EXPECT_TRUE(renderer.Prepare(empty));
    renderer.Draw(RasterTarget{nullptr, 0, 16, 0});
}

// The palette: well apart, opaque, and cycling.
TEST(ShadedRenderer, PartColoursCycleThroughDistinctHues) {
    std::set<std::uint32_t> seen;
    std::size_t cycle = 0;
    while (seen.insert(ShadedPartColour(cycle)).second) ++cycle;
    EXPECT_GE(cycle, 10u);
    EXPECT_LE(cycle, 12u);
    for (std::size_t i = 0; i < cycle; ++i) {
        EXPECT_EQ(ShadedPartColour(i) >> 24, 0xFFu);
        EXPECT_EQ(ShadedPartColour(i + cycle), ShadedPartColour(i));
        for (std::size_t k = 0; k < i; ++k) {
            const std::uint32_t a = ShadedPartColour(i), b = ShadedPartColour(k);
            int distance = 0;
            for (const int shift : {16, 8, 0}) {
                distance += std::abs(static_cast<int>((a >> shift) & 0xFFu) - static_cast<int>((b >> shift) & 0xFFu));
            }
            EXPECT_GT(distance, 60) << i << " and " << k;
        }
    }
}
