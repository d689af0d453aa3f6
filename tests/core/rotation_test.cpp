#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "model/rotation.h"
#include "render/turn.h"

using namespace trenn;

namespace {
MeshVertex Vertex(float x, float y, float z) {
    MeshVertex v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}
}  // namespace

TEST(Rotation, StepIsTheExactDouble) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(ROTATION_STEP), 0x3FB657D621391DCFull);
    EXPECT_EQ(StepAngle(0.0f, ROTATION_STEP), 0.0872777775f);
    // Right then Left does not come back to zero: the first step is stored as a single.
    EXPECT_EQ(StepAngle(StepAngle(0.0f, -ROTATION_STEP), ROTATION_STEP), 2.8477776e-10f);
    EXPECT_EQ(StepAngle(StepAngle(0.0f, ROTATION_STEP), -ROTATION_STEP), -2.8477776e-10f);
    float angle = 0.0f;
    for (int i = 0; i < 18; ++i) angle = StepAngle(angle, ROTATION_STEP);
    EXPECT_EQ(angle, 1.5710000f);
    for (int i = 18; i < 72; ++i) angle = StepAngle(angle, ROTATION_STEP);
    EXPECT_EQ(angle, 6.2840052f);
}

TEST(Rotation, WorkedExamples) {
    const float step = StepAngle(0.0f, ROTATION_STEP);
    const MeshVertex v = Vertex(1, 2, 3);
    struct Case {
        float yaw, pitch, x, y, z;
    };
    const Case cases[] = {
        {0, 0, 1, 2, 3},
        {step, 0, 0.734692693f, 2, 3.07574821f},
        {0, step, 1, 1.73088634f, 3.16291523f},
        {step, step, 0.734692693f, 1.72428358f, 3.23837495f},
    };
    for (const Case& c : cases) {
        const MeshVertex r = RotatePoint(v, c.yaw, c.pitch);
        EXPECT_EQ(r.x, c.x);
        EXPECT_EQ(r.y, c.y);
        EXPECT_EQ(r.z, c.z);
    }
}

TEST(Rotation, QuarterTurnAndAxisPoints) {
    float yaw = 0.0f;
    for (int i = 0; i < 18; ++i) yaw = StepAngle(yaw, ROTATION_STEP);
    const MeshVertex r = RotatePoint(Vertex(1, 0, 0), yaw, 0.0f);
    EXPECT_EQ(r.x, -0.00020365318f);
    EXPECT_EQ(r.y, 0.0f);
    EXPECT_EQ(r.z, 1.0f);
    // A point on the vertical axis keeps x = 0 and its height under any yaw.
    for (const float angle : {0.3f, -2.0f, 6.28f}) {
        const MeshVertex p = RotatePoint(Vertex(0, 4.5f, 0), angle, 0.0f);
        EXPECT_EQ(p.x, 0.0f);
        EXPECT_EQ(p.y, 4.5f);
    }
}

TEST(Rotation, FreshRecordAndFaults) {
    MeshVertex v = Vertex(1, 2, 3);
    v.extra.fill(0xAB);
    const MeshVertex r = RotatePoint(v, 0.0f, 0.0f);
    for (const auto byte : r.extra) EXPECT_EQ(byte, 0);
    // Results beyond the single range fault; huge but representable ones do not.
    EXPECT_THROW(RotatePoint(Vertex(3e38f, 0, 3e38f), 0.5f, 0.0f), RotationFault);
    EXPECT_NO_THROW(RotatePoint(Vertex(3e38f, 0, 0), 0.0f, 0.0f));
    EXPECT_THROW(RotatePoint(Vertex(INFINITY, 0, 0), 0.5f, 0.0f), RotationFault);
}

// Every copy of the block turn that this processor runs gives, bit for bit, what TurnVertex and
// the view mapping give one vertex at a time: the same faults, the same pixel positions and, in
// the copy with depth, the same turned z, for ordinary, tiny, huge, infinite and not-a-number
// coordinates at many angles. A product and sum fused into one rounding changes the low bits
// and fails here.
TEST(Rotation, EveryBlockCopyMatchesTheSingleVertexTurnBitForBit) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> kind(0, 99);
    const float specials[] = {0.0f, -0.0f, 1e-45f, -1e-40f, 1.17549435e-38f, 3.4028235e38f,
                              -3e38f, 1e30f, INFINITY, -INFINITY, NAN};
    const auto coordinate = [&] {
        const int k = kind(random);
        if (k < 70) return unit(random) * 10.0f;
        if (k < 80) return unit(random) * 1e6f;
        if (k < 85) return unit(random) * 3e38f;
        if (k < 90) return unit(random) * 1e-38f;  // denormals among them
        return specials[static_cast<std::size_t>(k - 90) % std::size(specials)];
    };
    constexpr std::size_t kCount = 20000;
    std::vector<float> xs(kCount), ys(kCount), zs(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
        xs[i] = coordinate();
        ys[i] = coordinate();
        zs[i] = coordinate();
    }
    float yaw = 0.0f, pitch = 0.0f;
    const std::vector<TurnBlockCopy> copies = TurnBlockCopies();
    int copiesRun = 0;
    for (const TurnBlockCopy& copy : copies) {
        if (!copy.runs) {
            std::printf("[ skipped  ] the %s copy: this processor cannot run it\n", copy.name);
            continue;
        }
        ++copiesRun;
        for (int view = 0; view < 12; ++view) {
            for (int s = 0; s < view * 7 + 1; ++s) {
                yaw = StepAngle(yaw, ROTATION_STEP);
                pitch = StepAngle(pitch, -ROTATION_STEP * 0.5);
            }
            const RotationCoefficients turn = RotationCoefficients::For(yaw, pitch);
            const ViewMapping mapping =
                ViewMapping::FromScale(-7.3f * static_cast<float>(view) - 1, 6.1f, 7.3f * static_cast<float>(view) + 1, -6.1f, 395, 346);
            std::vector<double> px(kCount), py(kCount), depthPx(kCount), depthPy(kCount);
            std::vector<float> pz(kCount);
            const std::size_t faulted = copy.function(xs.data(), ys.data(), zs.data(), kCount, turn,
                                                      mapping, px.data(), py.data());
            // The copy with depth gives the same positions and, besides, z2.
            const std::size_t faultedWithDepth =
                copy.withDepth(xs.data(), ys.data(), zs.data(), kCount, turn, mapping,
                               depthPx.data(), depthPy.data(), pz.data());
            std::size_t expectedFaulted = 0, differing = 0;
            for (std::size_t i = 0; i < kCount; ++i) {
                float x1 = 0, y2 = 0, z2 = 0;
                const bool fits = TurnVertex(xs[i], ys[i], zs[i], turn, x1, y2, z2);
                expectedFaulted += !fits;
                const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
                const bool same =
                    (fits ? bits(px[i]) == bits(mapping.PixelX(x1)) && bits(py[i]) == bits(mapping.PixelY(y2)) &&
                                std::bit_cast<std::uint32_t>(pz[i]) == std::bit_cast<std::uint32_t>(z2)
                          : std::isnan(px[i])) &&
                    bits(depthPx[i]) == bits(px[i]) && bits(depthPy[i]) == bits(py[i]);
                if (!same && ++differing <= 3) {
                    ADD_FAILURE() << copy.name << ", view " << view << ": vertex (" << xs[i] << ", "
                                  << ys[i] << ", " << zs[i] << ") gives (" << px[i] << ", " << py[i]
                                  << ", " << pz[i] << ")";
                }
            }
            EXPECT_EQ(differing, 0u) << copy.name << ", view " << view;
            EXPECT_EQ(faulted, expectedFaulted) << copy.name << ", view " << view;
            EXPECT_EQ(faultedWithDepth, expectedFaulted) << copy.name << ", view " << view;
        }
    }
    EXPECT_GE(copiesRun, 1);
}
