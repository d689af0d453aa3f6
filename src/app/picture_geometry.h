#pragma once

// The picture area picShow as the window lays it out: 399 x 350 pixels outside, a sunken
// border of 2 pixels, so 395 x 346 pixels to draw in. Its outer size in twips, 15 to the
// pixel, is what loading fits the model to.
namespace trenn::picture {

inline constexpr int kOuterWidth = 399;
inline constexpr int kOuterHeight = 350;
inline constexpr int kBorder = 2;
inline constexpr int kInnerWidth = kOuterWidth - 2 * kBorder;
inline constexpr int kInnerHeight = kOuterHeight - 2 * kBorder;
inline constexpr int kTwipsPerPixel = 15;
inline constexpr float kWidthTwips = kOuterWidth * kTwipsPerPixel;
inline constexpr float kHeightTwips = kOuterHeight * kTwipsPerPixel;

}  // namespace trenn::picture
