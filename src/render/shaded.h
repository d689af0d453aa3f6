#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "render/raster.h"
#include "render/wireframe.h"

namespace trenn {

// The colour, 0xFFRRGGBB, of the part at a list position in the shaded picture: a fixed cycle of
// well-separated hues that read well on white and under shading.
std::uint32_t ShadedPartColour(std::size_t listPosition);

// Light falls from the viewer's direction: a face turned to the viewer shows its part's colour,
// a face seen edge-on this fraction of it.
inline constexpr double kShadedAmbient = 0.22;

// A wireframe scene drawn shaded: the same parts, angles and mapping, and what the picture needs
// besides.
struct ShadedScene : WireframeScene {
    // The target's size in pixels: Prepare makes the depth and triangle buffers for it.
    int width = 0;
    int height = 0;
    // Draws the visible edges of the triangles in black over the surfaces.
    bool edges = false;
};

// Draws scenes of one model as opaque surfaces: every triangle of the checked parts' strips that
// names three different vertices of its part, all turned without a fault, in the same parallel
// projection as the wireframe. The nearest surface shows (z of the turned model points toward
// the viewer); where two are equally near, the later triangle in list order shows (and within
// a part the later one in its strip). Each part has its colour by list position, shaded flat by
// the light from the viewer. An entry showing the same arrays as a later checked entry is drawn
// only there, as in the wireframe.
//
// Pixel coverage is exact (render/shaded_raster.h): pixel (i, j) is covered when its centre lies
// inside the triangle, with a top-left rule for centres on an edge. With edges on, a covered pixel
// turns black where a pixel left or right of it, above or below it, within pixelScale pixels,
// shows a triangle earlier in list and strip order, or none: every boundary between two visible
// triangles, and every outline against the background, is a line pixelScale pixels thick on the
// side of the later triangle. Pixels beyond the picture do not count, so the picture's border
// draws no line.
//
// What a pixel shows does not depend on the order in which triangles are filled, so parts are
// filled nearest first (as the last redraw found them), and triangles found hidden behind what
// is drawn are skipped early. A second thread, where one starts, fills half of every strip into a
// picture of its own, merged at the end: the picture is the same on one thread or two.
class ShadedRenderer {
public:
    explicit ShadedRenderer(int threads = 1);
    ~ShadedRenderer();
    ShadedRenderer(const ShadedRenderer&) = delete;
    ShadedRenderer& operator=(const ShadedRenderer&) = delete;

    // Gets everything ready for drawing the scene on a target of the scene's size, without
    // touching any picture. False when the memory for it cannot be had, or a side is negative or
    // beyond 2^20 pixels: then nothing may be drawn. The scene's parts must stay as they are
    // until Draw has returned.
    bool Prepare(const ShadedScene& scene);
    // Draws the scene last prepared over what the target holds (the caller fills it white
    // first). A target of another size than the one prepared for is left untouched. Allocates
    // nothing.
    void Draw(const RasterTarget& target);
    // Prepare for the target's size, then Draw; false (the target untouched) when Prepare failed.
    bool Render(const ShadedScene& scene, const RasterTarget& target);

    // Forgets everything kept between redraws.
    void Clear();
    void SetThreads(int threads);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One picture with a renderer of its own, for the target's size.
bool DrawShaded(const ShadedScene& scene, const RasterTarget& target, int threads = 1);

}  // namespace trenn
