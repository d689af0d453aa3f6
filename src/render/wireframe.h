#pragma once

#include <cstddef>
#include <memory>

#include "render/colours.h"
#include "render/raster.h"
#include "render/renderer.h"

namespace trenn {

inline constexpr int kDotWidth = 2;

// Draws scenes as a wireframe: every checked part over what the target holds, first a dot for
// every vertex, then the outline of every triangle of its strip. A triple naming a vertex
// outside the part, a degenerate triple and a vertex whose rotation faults are skipped. Dots
// are 2 x pixelScale pixels wide, edges pixelScale pixels thick.
//
// Between redraws it keeps what it worked out per part (coordinates, edge lists), within a
// budget that grows with the model's size; parts that share their arrays share that work. It
// can work it out ahead, in the background, so that ticking many parts shows them at once. A
// second thread, started on first use, lets large models share the drawing without changing a
// pixel.
class WireframeRenderer : public Renderer {
public:
    // The budget: twice the bytes of the model's arrays and `allowance` bytes.
    static constexpr std::size_t kAllowance = std::size_t{32} << 20;
    explicit WireframeRenderer(int threads = 1, std::size_t allowance = kAllowance);
    ~WireframeRenderer() override;
    WireframeRenderer(const WireframeRenderer&) = delete;
    WireframeRenderer& operator=(const WireframeRenderer&) = delete;

    void ModelChanged() override;
    bool Prepare(const Scene& scene) override;
    void Draw(const RasterTarget& target) override;
    // On a thread of its own, which keeps what it needs of the parts, so the model may go
    // meanwhile; the next Prepare waits for it.
    void PrepareAhead(const Scene& scene) override;
    void SetThreads(int threads) override;

    // Bytes held between redraws (kept work and the redraw's own arrays), and what they may
    // grow to for the model drawn: twice the bytes its arrays take, and the allowance.
    std::size_t HeldBytes() const;
    std::size_t Budget() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One picture with a renderer of its own: nothing is kept between calls. False, the target
// untouched, when the memory for drawing cannot be had.
bool DrawWireframe(const Scene& scene, const RasterTarget& target, int threads = 1);

}  // namespace trenn
