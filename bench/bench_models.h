#pragma once

// Models for the benchmark: stacked height fields, each part a 128 x 256 vertex grid covering
// the whole view, so that a redraw of many parts draws lines a few pixels long all over the
// picture, as a dense model does when it is fitted into the window.

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "model/mesh.h"
#include "model/strip.h"
#include "elfgen/elf_builder.h"

namespace trenn::bench {

inline constexpr int kGridColumns = 128;
inline constexpr int kGridRows = 256;  // 32768 vertices: the most a part may have
inline constexpr int kTrianglesPerFullPart = 2 * (kGridColumns - 1) * (kGridRows - 1);

// Row strips joined by degenerate triangles, as exporters write them.
inline void AppendRowStrips(std::vector<std::int16_t>& indices, int rows, int cols) {
    for (int r = 0; r + 1 < rows; ++r) {
        const int top = r * cols;
        const int bottom = top + cols;
        if (r > 0) {
            indices.push_back(indices.back());
            indices.push_back(static_cast<std::int16_t>(top));
        }
        for (int c = 0; c < cols; ++c) {
            indices.push_back(static_cast<std::int16_t>(top + c));
            indices.push_back(static_cast<std::int16_t>(bottom + c));
        }
    }
}

// About `triangles` triangles in parts of at most 32768 vertices, each part a wavy layer over
// the square [-1, 1] x [-1, 1] of x and z, the layers stacked along y.
inline std::vector<std::pair<std::string, elfgen::Mesh>> LayeredTerrain(std::int64_t triangles,
                                                                        unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> jitter(-0.004f, 0.004f);
    const std::int64_t partCount = std::max<std::int64_t>(
        1, (triangles + kTrianglesPerFullPart - 1) / kTrianglesPerFullPart);
    std::vector<std::pair<std::string, elfgen::Mesh>> parts;
    std::int64_t remaining = triangles;
    for (std::int64_t p = 0; p < partCount; ++p) {
        const std::int64_t want = std::min<std::int64_t>(remaining, kTrianglesPerFullPart);
        remaining -= want;
        const int rows = std::max(2, static_cast<int>(want / (2 * (kGridColumns - 1))) + 1);
        const float layer = -0.5f + static_cast<float>(p + 1) / static_cast<float>(partCount + 1);
        const float phase = static_cast<float>(p) * 0.7f;
        elfgen::Mesh mesh;
        mesh.vertices.reserve(static_cast<std::size_t>(rows) * kGridColumns);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < kGridColumns; ++c) {
                const float x = -1.0f + 2.0f * static_cast<float>(c) / (kGridColumns - 1);
                const float z = -1.0f + 2.0f * static_cast<float>(r) / (kGridRows - 1);
                const float y = layer + 0.12f * std::sin(3.1f * x + phase) * std::cos(2.3f * z) +
                                jitter(random);
                mesh.vertices.push_back({x, y, z});
            }
        }
        AppendRowStrips(mesh.indices, rows, kGridColumns);
        parts.emplace_back("_layer_" + std::to_string(p + 1), std::move(mesh));
    }
    return parts;
}

inline std::vector<MeshPart> ToMeshParts(const std::vector<std::pair<std::string, elfgen::Mesh>>& meshes) {
    std::vector<MeshPart> parts;
    parts.reserve(meshes.size());
    for (const auto& [name, mesh] : meshes) {
        MeshPart part;
        std::vector<MeshVertex> records(mesh.vertices.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].x = mesh.vertices[i][0];
            records[i].y = mesh.vertices[i][1];
            records[i].z = mesh.vertices[i][2];
        }
        part.vertices = VertexList(records);
        part.indices = IndexList(static_cast<std::int32_t>(mesh.indices.size()), mesh.indices);
        parts.push_back(std::move(part));
    }
    return parts;
}

// Triangles that name three different vertices: what a redraw outlines.
inline std::int64_t CountTriangles(const std::vector<MeshPart>& parts) {
    std::int64_t total = 0;
    for (const MeshPart& part : parts) {
        ForEachTriangle(part, [&](std::int64_t, std::int32_t, std::int32_t, std::int32_t) { ++total; });
    }
    return total;
}

}  // namespace trenn::bench
