#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trenn {

// Whether this build can write PNG pictures (only builds with Qt can).
bool CanWritePng();

// Writes width x height pixels, 0xffRRGGBB row by row, as a PNG file. False when the file
// cannot be written.
bool WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
              int height);

}  // namespace trenn
