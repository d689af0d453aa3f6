#pragma once

#include <cmath>
#include <stdexcept>

#include "model/mesh.h"

namespace trenn {

// One step of a key press or a drag move: 3.142 / 36, five degrees with pi taken as 3.142.
inline constexpr double ROTATION_STEP = 0.08727777777777777;

// Adds a step to an angle: the sum is formed in double precision and stored as a single.
inline float StepAngle(float angle, double step) {
    return static_cast<float>(static_cast<double>(angle) + step);
}

// A floating-point fault while turning a vertex (an overflow, or an invalid operation).
class RotationFault : public std::runtime_error {
public:
    RotationFault() : std::runtime_error("floating-point fault while turning a vertex") {}
};

// Sine and cosine of the two view angles; they depend only on the angles, so one set serves
// a whole redraw.
struct RotationCoefficients {
    double cosYaw = 1.0;
    double sinYaw = 0.0;
    double cosPitch = 1.0;
    double sinPitch = 0.0;

    static RotationCoefficients For(float yaw, float pitch) {
        return {std::cos(static_cast<double>(yaw)), std::sin(static_cast<double>(yaw)),
                std::cos(static_cast<double>(pitch)), std::sin(static_cast<double>(pitch))};
    }
};

// Turns (x, y, z) by yaw, then by pitch. Each of x1, z1, y2, z2 is formed in double and
// rounded to single before further use. Returns false on a fault (a result beyond the
// single range, or not a number), leaving the outputs unspecified.
inline bool TurnVertex(float x, float y, float z, const RotationCoefficients& c, float& outX,
                       float& outY, float& outZ) {
    constexpr double kSingleOverflow = 0x1.ffffffp127;  // rounds to infinity from here up
    const double x1d = x * c.cosYaw - z * c.sinYaw;
    const double z1d = x * c.sinYaw + z * c.cosYaw;
    if (!(std::fabs(x1d) < kSingleOverflow) || !(std::fabs(z1d) < kSingleOverflow)) return false;
    const float x1 = static_cast<float>(x1d);
    const float z1 = static_cast<float>(z1d);
    const double y2d = y * c.cosPitch - z1 * c.sinPitch;
    const double z2d = z1 * c.cosPitch + y * c.sinPitch;
    if (!(std::fabs(y2d) < kSingleOverflow) || !(std::fabs(z2d) < kSingleOverflow)) return false;
    outX = x1;
    outY = static_cast<float>(y2d);
    outZ = static_cast<float>(z2d);
    return true;
}

// The turned vertex as a fresh record: coordinates set, everything else zero.
inline MeshVertex RotatePoint(const MeshVertex& vertex, float yaw, float pitch) {
    MeshVertex turned;
    if (!TurnVertex(vertex.x, vertex.y, vertex.z, RotationCoefficients::For(yaw, pitch), turned.x,
                    turned.y, turned.z)) {
        throw RotationFault();
    }
    return turned;
}

}  // namespace trenn
