#pragma once

#include <vector>

#include "model/mesh.h"

namespace trenn {

// Vertex lists never change once made: a test that wants other records makes a new list.
template <typename Edit>
void EditVertices(VertexList& list, Edit edit) {
    std::vector<MeshVertex> records(list.begin(), list.end());
    edit(records);
    list = VertexList(records);
}

}  // namespace trenn
