#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/model.h"
#include "render/raster.h"
#include "render/view_mapping.h"

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

// The list positions a redraw of the scene draws, in list order: every checked entry, except
// that of entries showing the same vertex and index arrays only the last one counts. Drawn
// again later, a part covers every pixel of its first drawing, and parts in between could only
// be covered by it.
std::vector<std::size_t> ShownListPositions(const WireframeScene& scene);

// Draws scenes of one model: every checked part over what the target holds, first a dot for
// every vertex, then the outline of every triangle of its strip. A triple naming a vertex
// outside the part, a degenerate triple and a vertex whose rotation faults are skipped.
//
// Between redraws it keeps what it worked out per part (coordinates, edge lists), within a
// budget that grows with the model's size; parts that share their arrays share that work. It
// can work it out ahead, in the background, so that ticking many parts shows them at once. A second thread, started on first use, lets large models
// share the drawing without changing a pixel. The parts' arrays never change, so a renderer
// serves one model: a new model needs a new renderer, or Clear().
class WireframeRenderer {
public:
    explicit WireframeRenderer(int threads = 1);
    ~WireframeRenderer();
    WireframeRenderer(const WireframeRenderer&) = delete;
    WireframeRenderer& operator=(const WireframeRenderer&) = delete;

    // Gets everything ready for drawing the scene, without touching any picture. False when
    // the memory for it cannot be had: then nothing may be drawn, and the picture keeps what
    // it shows. The scene's parts must stay as they are until Draw has returned.
    bool Prepare(const WireframeScene& scene);
    // Draws the scene last prepared over what the target holds. Allocates nothing.
    void Draw(const RasterTarget& target);
    // Prepare, then Draw; false (the target untouched) when Prepare failed.
    bool Render(const WireframeScene& scene, const RasterTarget& target);

    // Starts working out, on a thread of its own, what drawing the scene's ticked parts would
    // need; the next Prepare waits for it. The thread keeps what it needs of the parts, so the
    // model may go meanwhile.
    void PrepareAhead(const WireframeScene& scene);
    // Forgets everything kept between redraws.
    void Clear();
    void SetThreads(int threads);
    // Bytes of work kept between redraws, and what they may grow to for the last scene.
    std::size_t CachedBytes() const;
    std::size_t CacheBudget() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One picture with a renderer of its own: nothing is kept between calls. False, the target
// untouched, when the memory for drawing cannot be had.
bool DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int threads = 1);

}  // namespace trenn
