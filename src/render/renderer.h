#pragma once

// The seam between a way of seeing the model and whoever shows it (the window, trenn-inspect):
// a scene in, pixels out.

#include <vector>

#include "model/mesh.h"
#include "render/raster.h"
#include "render/view_mapping.h"

namespace trenn {

// What one picture shows: the parts in list order, which list entries are checked, the two
// view angles and the picture's coordinate mapping.
struct Scene {
    const std::vector<MeshPart>* parts = nullptr;
    std::vector<bool> checked;  // one per list entry; entry k shows parts[k]
    float yaw = 0.0f;
    float pitch = 0.0f;
    ViewMapping mapping;
    // Target pixels per picture pixel (a screen scaled by 2 has 2): pens are this much wider.
    int pixelScale = 1;
    // The target's size in pixels, for renderers that keep a value per pixel.
    int width = 0;
    int height = 0;
};

// The list positions a picture of the scene shows, in list order: every checked entry, except
// that of entries showing the same vertex and index arrays only the last one counts. Drawn
// again later, a part covers every pixel of its first drawing, and parts in between could only
// be covered by it.
std::vector<std::size_t> ShownListPositions(const Scene& scene);

// Draws scenes of one model at a time, keeping between pictures whatever it works out for the
// model, which it is told of when the model changes.
class Renderer {
public:
    virtual ~Renderer() = default;

    // The model changed: whatever was kept for the old one goes.
    virtual void ModelChanged() = 0;
    // Gets everything ready to draw the scene, without touching any picture. False when the
    // memory for it cannot be had: then nothing may be drawn. The scene's parts must stay as
    // they are until Draw has returned.
    virtual bool Prepare(const Scene& scene) = 0;
    // Draws the scene prepared last over what the target holds. Allocates nothing.
    virtual void Draw(const RasterTarget& target) = 0;
    // Starts working out, in the background, what drawing the scene would need.
    virtual void PrepareAhead(const Scene& /*scene*/) {}
    virtual void SetThreads(int threads) = 0;

    // Prepare, then Draw; false (the target untouched) when Prepare failed.
    bool Render(const Scene& scene, const RasterTarget& target) {
        if (!Prepare(scene)) return false;
        Draw(target);
        return true;
    }
};

}  // namespace trenn
