#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "runtime/load_failure.h"

namespace trenn {

inline constexpr std::int64_t kInt16Max = 32767;

// Loops over lists and arrays count with signed 16-bit counters, so an upper bound above
// 32767 overflows the counter before the loop can finish.
inline void RequireInt16UpperBound(std::int64_t upperBound, const char* what) {
    if (upperBound > kInt16Max) {
        Fail(std::string(what) + ": upper bound " + std::to_string(upperBound) +
             " overflows a 16-bit counter");
    }
}

// A value that must fit a signed 16-bit integer (a position, a count).
inline std::int16_t CheckedInt16(std::int64_t value, const char* what) {
    if (value < -32768 || value > kInt16Max) {
        Fail(std::string(what) + ": " + std::to_string(value) + " does not fit 16 bits");
    }
    return static_cast<std::int16_t>(value);
}

// Rounds a double-precision result to single precision and applies the floating-point
// checks: an invalid operation (NaN) or an overflow (infinity) is a failure; underflow and
// inexact results are not.
inline float CheckedSingle(double value, const char* what) {
    // Doubles from here up round to infinity in single precision.
    constexpr double kSingleOverflow = 0x1.ffffffp127;
    if (std::isnan(value)) Fail(std::string(what) + ": invalid floating-point operation");
    if (std::fabs(value) >= kSingleOverflow) Fail(std::string(what) + ": floating-point overflow");
    return static_cast<float>(value);
}

// A single-precision value read from a file: NaN and infinity are both unusable.
inline float CheckedStoredSingle(float value, const char* what) {
    if (std::isnan(value)) Fail(std::string(what) + ": not a number");
    if (std::isinf(value)) Fail(std::string(what) + ": infinite");
    return value;
}

}  // namespace trenn
