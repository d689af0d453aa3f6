#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trenn {

// Whether this build can write PNG pictures (only builds with Qt can).
bool CanWritePng();

// Writes width x height pixels, 0xffRRGGBB row by row, as a PNG file. Nothing when the whole
// file was written; otherwise why not, in one line.
std::optional<std::string> WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels,
                                    int width, int height);

}  // namespace trenn
