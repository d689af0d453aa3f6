#pragma once

// What a part shows: parts that name the same records of the same bytes show the same picture,
// whatever their symbols, so work done for one serves all of them.

#include <compare>
#include <cstddef>

#include "model/mesh.h"

namespace trenn {

// The records an array view names.
struct ArrayView {
    const unsigned char* data = nullptr;
    std::size_t storedBytes = 0;
    std::size_t count = 0;
    auto operator<=>(const ArrayView&) const = default;

    template <typename Record>
    static ArrayView Of(const StoredArray<Record>& array) {
        return {array.StoredData(), array.StoredBytes(), array.size()};
    }
};

struct PartIdentity {
    ArrayView vertices;
    ArrayView indices;
    auto operator<=>(const PartIdentity&) const = default;

    static PartIdentity Of(const MeshPart& part) {
        return {ArrayView::Of(part.vertices), ArrayView::Of(part.indices)};
    }
};

}  // namespace trenn
