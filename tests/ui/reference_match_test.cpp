// The fast redraw against the slow one (one QPainter request per dot and per line, every corner
// turned again), pixel for pixel, on random models: points far outside the picture, lines that
// cross it, vertices whose rotation faults, index values outside the vertex array, short and
// zero-padded index lists, and models large enough for the second drawing thread.

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "support/vertex_edit.h"
#include "../../bench/bench_models.h"
#include "../../bench/reference_renderer.h"
#include "model/mesh.h"
#include "model/rotation.h"
#include "render/wireframe.h"

namespace trenn {
namespace {

struct TestScene {
    std::vector<MeshPart> parts;
    std::vector<bool> checked;
    float yaw = 0.0f;
    float pitch = 0.0f;
    ViewMapping mapping;
};

float Coordinate(std::mt19937& random) {
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const int k = kind(random);
    if (k < 80) return unit(random);                // inside the picture
    if (k < 88) return unit(random) * 40.0f;        // well outside: lines that cross or miss it
    if (k < 92) return unit(random) * 4000.0f;      // about a million pixels out
    if (k < 97) return unit(random) * 3.0e6f;       // far beyond every side
    if (k < 99) return unit(random) * 3.0e38f;      // turning may overflow a single
    return static_cast<float>(static_cast<int>(unit(random) * 4.0f)) / 2.0f;  // on pixel edges
}

MeshPart RandomPart(std::mt19937& random) {
    std::uniform_int_distribution<int> vertexCount(1, 120);
    MeshPart part;
    std::vector<MeshVertex> records(static_cast<std::size_t>(vertexCount(random)));
    for (MeshVertex& v : records) {
        v.x = Coordinate(random);
        v.y = Coordinate(random);
        v.z = Coordinate(random);
    }
    part.vertices = VertexList(records);
    const int vertices = static_cast<int>(part.vertices.size());
    std::uniform_int_distribution<int> entries(0, 300);
    std::uniform_int_distribution<int> index(-3, vertices + 2);  // some outside the array
    std::uniform_int_distribution<int> repeat(0, 9);
    std::vector<std::int16_t> stored(static_cast<std::size_t>(entries(random)));
    for (std::size_t i = 0; i < stored.size(); ++i) {
        // Repeats make degenerate triples and strips that come back over the same edges.
        stored[i] = i >= 2 && repeat(random) == 0 ? stored[i - 2] : static_cast<std::int16_t>(index(random));
    }
    // Now and then the list claims more entries than the file held: the rest read as zeros.
    std::uniform_int_distribution<int> tail(0, 4);
    const auto count = static_cast<std::int32_t>(stored.size()) + (tail(random) == 0 ? 7 : 0);
    part.indices = IndexList(count, std::move(stored));
    return part;
}

TestScene RandomScene(std::mt19937& random) {
    TestScene scene;
    std::uniform_int_distribution<int> partCount(1, 4);
    std::uniform_int_distribution<int> coin(0, 3);
    scene.parts.resize(static_cast<std::size_t>(partCount(random)));
    for (MeshPart& part : scene.parts) part = RandomPart(random);
    for (std::size_t i = 0; i < scene.parts.size(); ++i) scene.checked.push_back(coin(random) != 0);
    // Angles as the keys make them: whole steps, turned either way.
    std::uniform_int_distribution<int> steps(-80, 80);
    for (int s = steps(random); s != 0; s += s > 0 ? -1 : 1) {
        scene.yaw = StepAngle(scene.yaw, s > 0 ? ROTATION_STEP : -ROTATION_STEP);
    }
    for (int s = steps(random); s != 0; s += s > 0 ? -1 : 1) {
        scene.pitch = StepAngle(scene.pitch, s > 0 ? ROTATION_STEP : -ROTATION_STEP);
    }
    std::uniform_real_distribution<float> extent(0.3f, 2.5f);
    const float e = extent(random);
    const float f = e * static_cast<float>(kReferenceHeight) / kReferenceWidth;
    scene.mapping = ViewMapping::FromScale(-e, f, e, -f, kReferenceWidth, kReferenceHeight);
    return scene;
}

QImage DrawFast(const TestScene& scene, int threads) {
    QImage image(kReferenceWidth, kReferenceHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    Scene wireframe;
    wireframe.parts = &scene.parts;
    wireframe.checked = scene.checked;
    wireframe.yaw = scene.yaw;
    wireframe.pitch = scene.pitch;
    wireframe.mapping = scene.mapping;
    const RasterTarget target{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(),
                              image.height(), image.bytesPerLine() / 4};
    DrawWireframe(wireframe, target, threads);
    return image;
}

void ExpectSamePicture(const TestScene& scene, const std::string& what) {
    const QImage reference =
        RenderReference(scene.parts, scene.checked, scene.yaw, scene.pitch, scene.mapping);
    for (const int threads : {1, 2}) {
        const QImage fast = DrawFast(scene, threads);
        ASSERT_EQ(CountDifferingPixels(fast, reference), 0) << what << ", " << threads << " thread(s)";
    }
}

TEST(ReferenceMatch, RandomSmallModels) {
    std::mt19937 random(20261207);
    for (int model = 0; model < 300; ++model) {
        const TestScene scene = RandomScene(random);
        ExpectSamePicture(scene, "model " + std::to_string(model));
        if (HasFailure()) return;
    }
}

// Short lines whose ends lie within a few pixels of the picture's sides, on and beside the
// 1/64-pixel steps where the fast path stops trusting that every pixel lies inside.
TEST(ReferenceMatch, ShortLinesAlongTheSides) {
    std::mt19937 random(4242);
    TestScene scene;
    // One user unit to the pixel: pixel x = x + 197.5, pixel y = 173 - y.
    scene.mapping = ViewMapping::FromScale(-197.5f, 173.0f, 197.5f, -173.0f, kReferenceWidth,
                                           kReferenceHeight);
    std::uniform_int_distribution<int> side(0, 3);
    std::uniform_int_distribution<int> sixtyFourths(-64, 4 * 64);
    std::uniform_real_distribution<float> along(0.0f, 340.0f);
    for (int p = 0; p < 3; ++p) {
        MeshPart part;
        std::vector<MeshVertex> records;
        for (int v = 0; v < 3000; ++v) {
            // The first part reaches past the sides. The second keeps every end between a pixel in from
            // the left and top and two pixels in from the right and bottom, the bounds
            // included; the third lets the ends reach the right and bottom sides.
            const int steps = sixtyFourths(random);
            const int lowest = p == 0 ? -64 : 64;
            const int lowestFar = p == 0 ? -64 : p == 1 ? 128 : 0;
            const float in = static_cast<float>(std::max(steps, lowest)) / 64.0f;
            const float inFar = static_cast<float>(std::max(steps, lowestFar)) / 64.0f;
            float px = 8.0f + along(random), py = 8.0f + along(random) * 0.9f;
            switch (side(random)) {
                case 0: px = in; break;
                case 1: px = kReferenceWidth - inFar; break;
                case 2: py = in; break;
                default: py = kReferenceHeight - inFar; break;
            }
            MeshVertex vertex;
            vertex.x = px - 197.5f;
            vertex.y = 173.0f - py;
            records.push_back(vertex);
        }
        part.vertices = VertexList(records);
        // Triples of nearby vertices: short lines along one side.
        std::vector<std::pair<float, int>> order;
        for (int v = 0; v < 3000; ++v) {
            const MeshVertex m = part.vertices[static_cast<std::size_t>(v)];
            order.push_back({std::round(m.x / 8.0f) * 1000.0f + m.y, v});
        }
        std::sort(order.begin(), order.end());
        std::vector<std::int16_t> indices;
        for (const auto& [key, v] : order) indices.push_back(static_cast<std::int16_t>(v));
        const auto count = static_cast<std::int32_t>(indices.size());
        part.indices = IndexList(count, std::move(indices));
        scene.parts.push_back(std::move(part));
        scene.checked.push_back(true);
    }
    // The lines must be there to compare: most of them lie on the picture.
    const QImage reference =
        RenderReference(scene.parts, scene.checked, scene.yaw, scene.pitch, scene.mapping);
    long black = 0;
    for (int y = 0; y < reference.height(); ++y) {
        for (int x = 0; x < reference.width(); ++x) black += (reference.pixel(x, y) & 0xFFFFFFu) == 0;
    }
    EXPECT_GT(black, 10000);
    ExpectSamePicture(scene, "lines along the sides");
}

// Dense models as exporters write them (row strips joined by degenerate triangles), large
// enough that the redraw shares the work between two threads, with some parts unchecked and a
// few vertices that fault or lie far out, so every layer boundary is crossed.
TEST(ReferenceMatch, LargeModelsOnTwoThreads) {
    std::mt19937 random(7);
    for (int model = 0; model < 4; ++model) {
        TestScene scene;
        scene.parts = bench::ToMeshParts(bench::LayeredTerrain(140000, static_cast<unsigned>(model)));
        for (std::size_t i = 0; i < scene.parts.size(); ++i) scene.checked.push_back(i != 1 || model % 2);
        if (model >= 2) {
            std::uniform_int_distribution<std::size_t> pick(0, scene.parts[0].vertices.size() - 1);
            EditVertices(scene.parts[0].vertices, [&](std::vector<MeshVertex>& records) {
                for (int n = 0; n < 20; ++n) records[pick(random)].x = 40.0f;
                if (model == 3) {
                    records[pick(random)].z = 3.0e38f;
                    records[pick(random)].x = 3.0e38f;
                }
            });
        }
        for (int s = 0; s < 3 + model; ++s) scene.yaw = StepAngle(scene.yaw, ROTATION_STEP);
        for (int s = 0; s < 5; ++s) scene.pitch = StepAngle(scene.pitch, -ROTATION_STEP);
        const float e = 1.3f;
        const float f = e * static_cast<float>(kReferenceHeight) / kReferenceWidth;
        scene.mapping = ViewMapping::FromScale(-e, f, e, -f, kReferenceWidth, kReferenceHeight);
        ExpectSamePicture(scene, "large model " + std::to_string(model));
    }
}

// A redraw after parts were replaced by others (a new model): what the redraw keeps between
// pictures must follow the model, not the previous picture.
TEST(ReferenceMatch, RedrawAfterTheModelChanges) {
    std::mt19937 random(99);
    TestScene scene = RandomScene(random);
    scene.checked.assign(scene.parts.size(), true);
    ExpectSamePicture(scene, "first picture");
    EditVertices(scene.parts[0].vertices, [](std::vector<MeshVertex>& records) {
        for (MeshVertex& v : records) v.y = -v.y;
    });
    scene.parts.push_back(RandomPart(random));
    scene.checked.push_back(true);
    ExpectSamePicture(scene, "after the change");
}

// A part listed again (two list entries naming the same mesh block) is drawn where it comes
// last: its dots and edges lie over the part listed between the two.
TEST(ReferenceMatch, APartListedAgainLiesOverThePartsBetween) {
    std::mt19937 random(31);
    for (int model = 0; model < 20; ++model) {
        TestScene scene = RandomScene(random);
        scene.parts.resize(2);
        for (MeshPart& part : scene.parts) {
            do {
                part = RandomPart(random);
            } while (part.vertices.size() < 40);
        }
        scene.parts.push_back(scene.parts[0]);  // the same views of the same bytes
        scene.checked = {true, true, true};
        ExpectSamePicture(scene, "model " + std::to_string(model));
        if (HasFailure()) return;
    }
}

// Parts whose kept work does not all fit the renderer's budget: each redraw keeps what fits,
// never drops work it has handed out for the picture it is drawing, holds no more than the
// budget, and draws the reference picture, redraw after redraw as the ticks change.
TEST(ReferenceMatch, KeptWorkWithinATightBudget) {
    std::mt19937 random(5);
    TestScene scene;
    for (int p = 0; p < 3; ++p) {
        std::vector<MeshVertex> records(500);
        for (MeshVertex& v : records) {
            v.x = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
            v.y = std::uniform_real_distribution<float>(-0.8f, 0.8f)(random);
        }
        std::vector<std::int16_t> strip(8000);
        for (std::int16_t& entry : strip) entry = static_cast<std::int16_t>(random() % 500);
        MeshPart part;
        part.vertices = VertexList(records);
        part.indices = IndexList(static_cast<std::int32_t>(strip.size()), strip);
        scene.parts.push_back(std::move(part));
    }
    scene.mapping = ViewMapping::FromScale(-1.2f, 1.05f, 1.2f, -1.05f, kReferenceWidth, kReferenceHeight);
    const std::vector<std::vector<bool>> redraws = {
        {true, true, false}, {true, true, true}, {false, true, true}, {true, false, true}, {true, true, true}};
    std::map<std::vector<bool>, QImage> references;
    for (const std::vector<bool>& ticks : redraws) {
        references[ticks] = RenderReference(scene.parts, ticks, scene.yaw, scene.pitch, scene.mapping);
    }
    for (const int threads : {1, 2}) {
        // Only twice what the model takes: the edge lists of all three do not fit together.
        WireframeRenderer renderer(threads, 0);
        for (const std::vector<bool>& ticks : redraws) {
            Scene wireframe;
            wireframe.parts = &scene.parts;
            wireframe.checked = ticks;
            wireframe.mapping = scene.mapping;
            QImage image(kReferenceWidth, kReferenceHeight, QImage::Format_RGB32);
            image.fill(Qt::white);
            const RasterTarget target{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(),
                                      image.height(), image.bytesPerLine() / 4};
            ASSERT_TRUE(renderer.Render(wireframe, target));
            EXPECT_LE(renderer.HeldBytes(), renderer.Budget());
            ASSERT_EQ(CountDifferingPixels(image, references[ticks]), 0)
                << threads << " thread(s), ticks " << ticks[0] << ticks[1] << ticks[2];
        }
    }
}

}  // namespace
}  // namespace trenn
