#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/mesh_access.h"
#include "support/temp_dir.h"

using namespace trenn;

namespace {

using Xyz = std::array<float, 3>;

// Records whose 28 extra bytes differ from record to record.
VertexList Records(const std::vector<Xyz>& points) {
    std::vector<MeshVertex> records(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        records[i] = {points[i][0], points[i][1], points[i][2], {}};
        for (std::size_t j = 0; j < records[i].extra.size(); ++j) {
            records[i].extra[j] = static_cast<std::uint8_t>(i * 29 + j);
        }
    }
    return VertexList(records);
}

MeshPart MeshOf(const std::vector<Xyz>& points, const std::vector<std::int16_t>& strip) {
    return {Records(points), IndexList(static_cast<std::int32_t>(strip.size()), strip), 0};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Value>
void Append(std::string& bytes, Value value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Export(const std::vector<ExportPart>& parts, const std::string& path) {
    const ExportSummary summary = ExportParts(parts, ExportFormatFromPath(path).value(), path);
    EXPECT_TRUE(summary.written) << summary.detail;
    return ReadFile(path);
}

const std::string kVersion = TRENN_VERSION;

}  // namespace

TEST(ExportFormat, ComesFromTheExtensionInAnyCase) {
    const struct {
        const char* path;
        std::optional<ExportFormat> format;
    } cases[] = {
        {"out.obj", ExportFormat::Obj},   {"/a/b.PLY", ExportFormat::Ply}, {"x.Stl", ExportFormat::Stl},
        {"dir.d/m.gLb", ExportFormat::Glb}, {"m.glb.bak", std::nullopt},   {"obj", std::nullopt},
        {".obj", std::nullopt},            {"dir.obj/", std::nullopt},     {"m.gltf", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ExportFormatFromPath(c.path), c.format) << c.path;
}

TEST(StripWalk, KeepsTrianglesTurnedToFaceTheFirstOnesWay) {
    using Triangle = std::array<std::uint32_t, 3>;
    const struct {
        const char* what;
        std::size_t vertices;
        std::vector<unsigned char> stored;  // the index bytes the file holds
        std::int32_t count;
        std::vector<Triangle> kept;
        std::uint64_t skipped;
    } cases[] = {
        {"odd triples turned round", 4, {0, 0, 1, 0, 2, 0, 3, 0}, 4, {{0, 1, 2}, {1, 3, 2}}, 0},
        {"a repeated number", 3, {0, 0, 0, 0, 1, 0, 2, 0}, 4, {{0, 2, 1}}, 1},
        {"numbers outside the array", 3, {0, 0, 1, 0, 3, 0, 0xFF, 0xFF, 2, 0}, 5, {}, 3},
        {"a zero tail walks one triple past the file", 3, {1, 0, 2, 0}, 40000, {{1, 2, 0}}, 1},
        {"an entry cut short keeps its low byte", 4, {1, 0, 2, 0, 3}, 4, {{1, 2, 3}, {2, 0, 3}}, 0},
        {"fewer than three entries", 3, {0, 0, 1, 0}, 2, {}, 0},
    };
    for (const auto& c : cases) {
        auto bytes = SharedBytes::Allocate(c.stored.size());
        std::memcpy(bytes->data(), c.stored.data(), c.stored.size());
        MeshPart part{Records(std::vector<Xyz>(c.vertices)), IndexList(bytes, bytes->data(), c.stored.size(), c.count), 0};
        std::vector<Triangle> kept;
        const std::uint64_t skipped = WalkStripTriangles(
            part, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c3) { kept.push_back({a, b, c3}); });
        EXPECT_EQ(kept, c.kept) << c.what;
        EXPECT_EQ(skipped, c.skipped) << c.what;
    }
}

TEST(ExportLayout, ObjNumbersVerticesAcrossTheFileInShortestText) {
    const MeshPart first = MeshOf({{0.1f, 0.2f, 0.3f}, {1e-7f, 16777216.0f, -0.0f}, {3.4028235e38f, -1.5f, 2.0f}},
                                {0, 1, 2, 0});
    MeshPart shared = first;  // the same records
    shared.indices = IndexList(3, std::vector<std::int16_t>{2, 1, 0});
    const MeshPart flat = MeshOf({{1, 2, 3}}, {0, 0, 0});
    const struct {
        std::vector<ExportPart> parts;
        std::string text;
    } cases[] = {
        {{{"_two words\t", 3, &first}, {"_shared", 7, &shared}},
         "o _two_words_\n"
         "v 0.1 0.2 0.3\nv 1e-07 16777216 -0\nv 3.4028235e+38 -1.5 2\n"
         "f 1 2 3\nf 2 1 3\n"
         "o _shared\n"
         "v 0.1 0.2 0.3\nv 1e-07 16777216 -0\nv 3.4028235e+38 -1.5 2\n"
         "f 6 5 4\n"},
        {{{"_flat", 0, &flat}, {"", 1, &shared}},
         "o _flat\nv 1 2 3\no \nv 0.1 0.2 0.3\nv 1e-07 16777216 -0\nv 3.4028235e+38 -1.5 2\nf 4 3 2\n"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(Export(c.parts, dir.File("m.obj")), "# written by Trenn " + kVersion + "\n" + c.text);
    }
}

TEST(ExportLayout, PlyKeepsEveryRecordAndTagsFacesWithTheListPosition) {
    const MeshPart a = MeshOf({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {0, 1, 2});
    const MeshPart b = MeshOf({{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}, {2, 1, 0, 2});
    std::string expected = "ply\nformat binary_little_endian 1.0\ncomment written by Trenn " + kVersion +
                           "\ncomment list position 0: _a\ncomment list position 5: _b c\n"
                           "element vertex 6\nproperty float x\nproperty float y\nproperty float z\n";
    for (int i = 0; i < 28; ++i) expected += "property uchar extra" + std::to_string(i) + "\n";
    expected += "element face 3\nproperty list uchar int vertex_indices\nproperty int list_position\nend_header\n";
    for (const MeshPart* part : {&a, &b}) {
        for (const MeshVertex v : part->vertices) Append(expected, v);
    }
    const std::int32_t faces[][4] = {{0, 1, 2, 0}, {5, 4, 3, 5}, {4, 5, 3, 5}};
    for (const auto& face : faces) {
        Append(expected, std::uint8_t{3});
        for (const std::int32_t value : face) Append(expected, value);
    }
    TempDir dir;
    EXPECT_EQ(Export({{"_a", 0, &a}, {"_b c", 5, &b}}, dir.File("m.ply")), expected);
}

TEST(ExportLayout, StlFacetNormalsAreUnitOrZero) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        std::vector<Xyz> corners;
        Xyz normal;
    } cases[] = {
        {"counter-clockwise in x, y", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 0, 1}},
        {"a 3-4-5 normal (z: 0 x -3 - 0 x 4 is -0)", {{0, 0, 0}, {0, 0, 1}, {4, -3, 0}}, {0.6f, 0.8f, -0.0f}},
        {"huge coordinates", {{0, 0, 0}, {3e38f, 0, 0}, {0, 3e38f, 0}}, {0, 0, 1}},
        {"the smallest coordinates", {{0, 0, 0}, {1e-45f, 0, 0}, {0, 1e-45f, 0}}, {0, 0, 1}},
        {"no area", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {0, 0, 0}},
        {"an infinite corner", {{0, 0, 0}, {kInf, 0, 0}, {0, 1, 0}}, {0, 0, 0}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const MeshPart part = MeshOf(c.corners, {0, 1, 2});
        const std::string bytes = Export({{"_t", 0, &part}}, dir.File("m.stl"));
        std::string expected = "binary STL written by Trenn " + kVersion;
        expected.resize(80, '\0');
        Append(expected, std::uint32_t{1});
        for (const float value : c.normal) Append(expected, value);
        for (const Xyz& corner : c.corners) {
            for (const float value : corner) Append(expected, value);
        }
        Append(expected, std::uint16_t{0});
        EXPECT_EQ(bytes, expected) << c.what;
    }
}

TEST(ExportLayout, GlbChunksAreAlignedAndDescribeEveryPart) {
    const MeshPart triangle = MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    const MeshPart none = MeshOf({{5, 5, 5}}, {0});
    // More vertices than 16-bit indices can number without reaching 65535, the restart value.
    const MeshPart wide = MeshOf(std::vector<Xyz>(65536, Xyz{2, 2, 2}), {0, 1, 32767});
    std::string shortIndices, longIndices;
    for (const std::uint16_t i : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}}) Append(shortIndices, i);
    shortIndices.append(2, '\0');
    for (const std::uint32_t i : {0u, 1u, 32767u}) Append(longIndices, i);
    const auto view = [](int at, int length, int target) {
        return "{\"buffer\":0,\"byteOffset\":" + std::to_string(at) + ",\"byteLength\":" + std::to_string(length) +
               ",\"target\":" + std::to_string(target) + "}";
    };
    const struct {
        std::vector<ExportPart> parts;
        std::string json;
        std::string indices;  // after the positions
    } cases[] = {
        {{{"_t\"\\\t", 0, &triangle}, {"_none", 1, &none}},
         "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Trenn " + kVersion +
             "\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],"
             "\"nodes\":[{\"name\":\"_t\\\"\\\\\\u0009\",\"mesh\":0},{\"name\":\"_none\"}],"
             "\"meshes\":[{\"name\":\"_t\\\"\\\\\\u0009\",\"primitives\":[{\"attributes\":{\"POSITION\":0},"
             "\"indices\":1,\"mode\":4}]}],"
             "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\","
             "\"min\":[0,0,0],\"max\":[1,1,0]},{\"bufferView\":1,\"componentType\":5123,\"count\":3,"
             "\"type\":\"SCALAR\"}],\"bufferViews\":[" +
             view(0, 36, 34962) + "," + view(36, 6, 34963) + "],\"buffers\":[{\"byteLength\":44}]}",
         shortIndices},
        {{{"_wide", 0, &wide}},
         "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Trenn " + kVersion +
             "\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"name\":\"_wide\",\"mesh\":0}],"
             "\"meshes\":[{\"name\":\"_wide\",\"primitives\":[{\"attributes\":{\"POSITION\":0},"
             "\"indices\":1,\"mode\":4}]}],"
             "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":65536,\"type\":\"VEC3\","
             "\"min\":[2,2,2],\"max\":[2,2,2]},{\"bufferView\":1,\"componentType\":5125,\"count\":3,"
             "\"type\":\"SCALAR\"}],\"bufferViews\":[" +
             view(0, 786432, 34962) + "," + view(786432, 12, 34963) + "],\"buffers\":[{\"byteLength\":786444}]}",
         longIndices},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string bytes = Export(c.parts, dir.File("m.glb"));
        // The JSON has room for the longest text of each of a mesh's six bounds (6 x 14 more
        // characters than "0"); both cases' bounds are one character long.
        const std::size_t jsonBytes = (c.json.size() + 84 + 3) / 4 * 4;
        const MeshPart& first = *c.parts[0].part;
        std::string bin;
        for (const MeshVertex v : first.vertices) {
            for (const float value : {v.x, v.y, v.z}) Append(bin, value);
        }
        bin += c.indices;
        std::string expected = "glTF";
        Append(expected, std::uint32_t{2});
        Append(expected, static_cast<std::uint32_t>(12 + 8 + jsonBytes + 8 + bin.size()));
        Append(expected, static_cast<std::uint32_t>(jsonBytes));
        expected += "JSON" + c.json + std::string(jsonBytes - c.json.size(), ' ');
        Append(expected, static_cast<std::uint32_t>(bin.size()));
        expected += std::string("BIN\0", 4) + bin;
        EXPECT_EQ(bytes, expected) << c.json;
    }
}

TEST(OutputFile, FailuresSayWhyAndLeaveTheFolderAsItWas) {
    const MeshPart part = MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {0, 1, 2, 3});
    // 32768 records and a strip of 65534 triangles, named by 240 parts.
    std::vector<std::int16_t> strip(65536);
    for (std::size_t i = 0; i < strip.size(); ++i) strip[i] = static_cast<std::int16_t>(i % 32768);
    const MeshPart large = MeshOf(std::vector<Xyz>(32768, Xyz{1, 2, 3}), strip);
    const struct {
        const char* what;
        const char* target;
        bool targetIsFolder;
        rlim_t fileSizeLimit;
        std::vector<ExportPart> parts;
        std::string reason;
    } cases[] = {
        {"no such folder", "no/such.stl", false, RLIM_INFINITY, {{"_p", 0, &part}}, "No such file or directory"},
        {"a folder in the way", "in_the_way.stl", true, RLIM_INFINITY, {{"_p", 0, &part}}, "Is a directory"},
        {"the file size limit", "m.stl", false, 100, {{"_p", 0, &part}}, "File too large"},
        {"the same arrays over and over", "m.obj", false, RLIM_INFINITY,
         std::vector<ExportPart>(240, {"_p", 0, &large}),
         "the parts repeat the same arrays too often: 23592480 vertices and triangles to write, more than the "
         "23068544 allowed for the 98302 of their distinct arrays"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string target = dir.File(c.target);
        if (c.targetIsFolder) std::filesystem::create_directory(target);
        std::ofstream(dir.File("other")) << "kept";
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit{c.fileSizeLimit, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        const auto previous = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
        const ExportSummary summary = ExportParts(c.parts, ExportFormatFromPath(target).value(), target);
        signal(SIGXFSZ, previous);
        setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_FALSE(summary.written) << c.what;
        EXPECT_EQ(summary.detail, "cannot write " + target + ": " + c.reason) << c.what;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (c.targetIsFolder ? std::vector<std::string>{"in_the_way.stl", "other"}
                                           : std::vector<std::string>{"other"}))
            << c.what;
    }
}

TEST(OutputFile, ReplacesTheTargetWithTheModeOfANewFile) {
    const MeshPart part = MeshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    const struct {
        mode_t umask;
        mode_t mode;
    } cases[] = {{022, 0644}, {027, 0640}, {077, 0600}};
    TempDir dir;
    const std::string target = dir.File("m.obj");
    for (const auto& c : cases) {
        std::ofstream(target) << "old";
        chmod(target.c_str(), 0777);
        const mode_t before = umask(c.umask);
        const ExportSummary summary = ExportParts({{"_p", 0, &part}}, ExportFormat::Obj, target);
        umask(before);
        ASSERT_TRUE(summary.written) << summary.detail;
        EXPECT_EQ((std::array<std::uint64_t, 4>{summary.parts, summary.vertices, summary.triangles, summary.skipped}),
                  (std::array<std::uint64_t, 4>{1, 3, 1, 0}));
        struct stat status {};
        ASSERT_EQ(stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
        EXPECT_EQ(ReadFile(target).substr(0, 8), "# writte");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    }
}
