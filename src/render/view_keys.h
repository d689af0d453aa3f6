#pragma once

// What the keys of the picture do to the view angles.

#include "model/rotation.h"

namespace trenn {

// Windows key codes of the keys that turn the view.
inline constexpr int kKeyHome = 36;
inline constexpr int kKeyLeft = 37;
inline constexpr int kKeyUp = 38;
inline constexpr int kKeyRight = 39;
inline constexpr int kKeyDown = 40;

// What a key press in the picture area does to the view angles: arrows step, Home resets,
// any other key leaves them.
inline void ApplyViewKey(int keyCode, float& yaw, float& pitch) {
    switch (keyCode) {
    case kKeyRight: yaw = StepAngle(yaw, -ROTATION_STEP); break;
    case kKeyLeft: yaw = StepAngle(yaw, ROTATION_STEP); break;
    case kKeyUp: pitch = StepAngle(pitch, ROTATION_STEP); break;
    case kKeyDown: pitch = StepAngle(pitch, -ROTATION_STEP); break;
    case kKeyHome:
        pitch = 0.0f;
        yaw = 0.0f;
        break;
    default: break;
    }
}

}  // namespace trenn
