#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "render/raster.h"
#include "render/renderer.h"

namespace trenn {

// The colour, 0xFFRRGGBB, of the part at a list position in the shaded picture: a fixed cycle of
// well-separated hues that read well on white and under shading.
std::uint32_t ShadedPartColour(std::size_t listPosition);

// Light falls from the viewer's direction: a face turned to the viewer shows its part's colour,
// a face seen edge-on this fraction of it.
inline constexpr double kShadedAmbient = 0.22;

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
// is drawn are skipped early. A second thread, where one starts, takes the rows below a split
// chosen from the work the last redraw found above and below it; each thread fills every
// triangle into its own rows only, so the picture is the same on one thread or two.
class ShadedRenderer : public Renderer {
public:
    explicit ShadedRenderer(int threads = 1);
    ~ShadedRenderer() override;
    ShadedRenderer(const ShadedRenderer&) = delete;
    ShadedRenderer& operator=(const ShadedRenderer&) = delete;

    void ModelChanged() override;
    // For a target of the scene's width and height. False also when a side is negative or
    // beyond 2^20 pixels.
    bool Prepare(const Scene& scene) override;
    // Over what the target holds (the caller fills it white first). A target of another size
    // than the one prepared for is left untouched.
    void Draw(const RasterTarget& target) override;
    void SetThreads(int threads) override;

    // Draws the visible edges of the triangles in black over the surfaces, from the next
    // Prepare on.
    void SetEdges(bool edges);
    bool Edges() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One picture with a renderer of its own, for the target's size (whatever the scene says).
bool DrawShaded(const Scene& scene, const RasterTarget& target, bool edges = false, int threads = 1);

}  // namespace trenn
