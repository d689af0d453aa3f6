#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "render/rotation.h"

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
