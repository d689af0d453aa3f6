#pragma once

#include <cstdint>

// The picture's colours, as 0xAARRGGBB.
namespace trenn {

inline constexpr std::uint32_t kBackgroundColour = 0xFFFFFFFFu;  // white
inline constexpr std::uint32_t kDotColour = 0xFF0000FFu;         // pure blue
inline constexpr std::uint32_t kEdgeColour = 0xFF000000u;        // black

}  // namespace trenn
