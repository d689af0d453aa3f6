#pragma once

#include <cstdint>
#include <vector>

#include "app/model.h"
#include "viewer/raster.h"
#include "viewer/view_mapping.h"

namespace trenn {

inline constexpr std::uint32_t kDotColour = 0xFF0000FFu;   // pure blue, as 0xAARRGGBB
inline constexpr std::uint32_t kEdgeColour = 0xFF000000u;  // black
inline constexpr int kDotWidth = 2;

// What one redraw needs: the parts in list order, which list entries are checked, the two
// view angles and the picture area's coordinate mapping.
struct WireframeScene {
    const std::vector<MeshPart>* parts = nullptr;
    std::vector<bool> checked;  // one per list entry; entry k shows g_parts entry k
    float yaw = 0.0f;
    float pitch = 0.0f;
    ViewMapping mapping;
    // Target pixels per picture pixel (a screen scaled by 2 has 2): dots are 2 x pixelScale
    // pixels wide and edges pixelScale pixels thick.
    int pixelScale = 1;
};

// Draws every checked part over what the target holds: first a dot for every vertex, then
// the outline of every triangle of its strip. A triple naming a vertex outside the part, a
// degenerate triple and a vertex whose rotation faults are skipped. `threads` above 1 lets
// large models share the work without changing a pixel.
void DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int threads = 1);

}  // namespace trenn
