#include "render/renderer.h"

#include <algorithm>
#include <set>

#include "model/part_identity.h"

namespace trenn {

std::vector<std::size_t> ShownListPositions(const Scene& scene) {
    const std::vector<MeshPart>& parts = *scene.parts;
    const std::size_t listed = std::min(scene.checked.size(), parts.size());
    std::vector<std::size_t> shown;
    std::set<PartIdentity> seen;
    for (std::size_t i = listed; i-- > 0;) {
        if (scene.checked[i] && seen.insert(PartIdentity::Of(parts[i])).second) shown.push_back(i);
    }
    std::reverse(shown.begin(), shown.end());
    return shown;
}

}  // namespace trenn
