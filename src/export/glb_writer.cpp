// Binary glTF 2.0 (.glb): a JSON chunk that describes one node and one mesh per part, and a
// BIN chunk with each part's positions (every vertex record) and triangle indices.
//
// The JSON gives each part's bounds, which are known only once its records have been read;
// the file leaves room for the JSON, writes the BIN chunk, and then fills the JSON in, so that
// the records are read once.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "export/mesh_access.h"
#include "export/writers.h"

namespace trenn {

namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t kBinChunk = 0x004E4942;   // "BIN\0"
constexpr std::uint64_t kFloat = 5126;
constexpr std::uint64_t kUnsignedShort = 5123;
constexpr std::uint64_t kUnsignedInt = 5125;
constexpr std::uint64_t kArrayBuffer = 34962;
constexpr std::uint64_t kElementArrayBuffer = 34963;
constexpr std::uint64_t kTriangles = 4;

std::uint64_t PadTo4(std::uint64_t bytes) { return (bytes + 3) / 4 * 4; }

// The JSON chunk's text, built in a string: the writer places the commas and escapes strings,
// which are UTF-8 (the part names come through BytesToUtf8).
class JsonText {
public:
    explicit JsonText(std::string& text) : text_(text) {}
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(const char* key) {
        String(key);
        text_ += ':';
        afterKey_ = true;
    }
    void String(const std::string& utf8) {
        Separate();
        text_ += '"';
        for (const char c : utf8) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                text_ += '\\';
                text_ += c;
            } else if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                text_ += escaped;
            } else {
                text_ += c;
            }
        }
        text_ += '"';
    }
    void Integer(std::uint64_t value) {
        Separate();
        text_ += std::to_string(value);
    }
    // The shortest decimal that reads back as the same single-precision value.
    void Single(float value) {
        Separate();
        char number[32];
        text_.append(number, std::to_chars(number, number + sizeof number, value).ptr);
    }

private:
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
        } else if (!first_.empty()) {
            if (!first_.back()) text_ += ',';
            first_.back() = false;
        }
    }
    void Open(char bracket) {
        Separate();
        text_ += bracket;
        first_.push_back(true);
    }
    void Close(char bracket) {
        text_ += bracket;
        first_.pop_back();
    }

    std::string& text_;
    std::vector<bool> first_;  // per open bracket: nothing in it yet
    bool afterKey_ = false;
};

// Where a part's data lies in the BIN chunk. A part without triangles has no mesh: a primitive
// needs at least one index, and positions that no primitive uses would be data for nothing.
struct PartLayout {
    const PlannedPart* planned = nullptr;
    bool hasMesh = false;
    std::uint64_t vertexCount = 0;
    Position low{};  // zeros until the positions have been read
    Position high{};
    // 16-bit indices while every vertex number stays below 65535, which means "restart".
    bool shortIndices = true;
    std::uint64_t positionsAt = 0;
    std::uint64_t indicesAt = 0;
    std::uint64_t indicesBytes = 0;
};

std::vector<PartLayout> Layout(std::span<const PlannedPart> parts, std::uint64_t& binBytes) {
    std::vector<PartLayout> layout;
    binBytes = 0;
    for (const PlannedPart& planned : parts) {
        PartLayout part;
        part.planned = &planned;
        part.hasMesh = planned.triangles > 0;
        if (part.hasMesh) {
            part.vertexCount = RecordCount(*planned.source->part);
            part.shortIndices = part.vertexCount <= 65535;
            part.positionsAt = binBytes;
            binBytes += part.vertexCount * 12;
            part.indicesAt = binBytes;
            part.indicesBytes = planned.triangles * 3 * (part.shortIndices ? 2 : 4);
            // Every view starts on a 4-byte boundary, as vertex data must.
            binBytes += PadTo4(part.indicesBytes);
        }
        layout.push_back(part);
    }
    return layout;
}

// POSITION needs its bounds, and glTF cannot hold infinities or NaN.
void FindBounds(const std::vector<Position>& positions, PartLayout& part) {
    // Locals, not the part's fields, so that the loop keeps them in registers.
    Position low = positions.at(0);
    Position high = low;
    bool finite = true;
    for (const Position& position : positions) {
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], position[axis]);
            high[axis] = std::max(high[axis], position[axis]);
            finite &= std::isfinite(position[axis]);
        }
    }
    part.low = low;
    part.high = high;
    if (!finite) {
        throw ExportFailure("the part at list position " + std::to_string(part.planned->source->listPosition) +
                            " has a coordinate that is not finite, which glTF cannot hold");
    }
}

void Bounds(JsonText& json, const char* key, const std::array<float, 3>& values) {
    json.Key(key);
    json.BeginArray();
    for (const float value : values) json.Single(value);
    json.EndArray();
}

std::string Describe(const std::vector<PartLayout>& layout, std::uint64_t binBytes) {
    std::string text;
    JsonText json(text);
    json.BeginObject();
    json.Key("asset");
    json.BeginObject();
    json.Key("version");
    json.String("2.0");
    json.Key("generator");
    json.String("Trenn " TRENN_VERSION);
    json.EndObject();
    json.Key("scene");
    json.Integer(0);
    json.Key("scenes");
    json.BeginArray();
    json.BeginObject();
    if (!layout.empty()) {
        json.Key("nodes");
        json.BeginArray();
        for (std::size_t node = 0; node < layout.size(); ++node) json.Integer(node);
        json.EndArray();
    }
    json.EndObject();
    json.EndArray();
    if (layout.empty()) {
        json.EndObject();
        return text;
    }
    json.Key("nodes");
    json.BeginArray();
    std::uint64_t mesh = 0;
    for (const PartLayout& part : layout) {
        json.BeginObject();
        json.Key("name");
        json.String(part.planned->source->name);
        if (part.hasMesh) {
            json.Key("mesh");
            json.Integer(mesh++);
        }
        json.EndObject();
    }
    json.EndArray();
    if (mesh == 0) {
        json.EndObject();
        return text;
    }
    // Mesh m uses accessors 2m (positions) and 2m + 1 (indices), each in a view of its own.
    json.Key("meshes");
    json.BeginArray();
    mesh = 0;
    for (const PartLayout& part : layout) {
        if (!part.hasMesh) continue;
        json.BeginObject();
        json.Key("name");
        json.String(part.planned->source->name);
        json.Key("primitives");
        json.BeginArray();
        json.BeginObject();
        json.Key("attributes");
        json.BeginObject();
        json.Key("POSITION");
        json.Integer(2 * mesh);
        json.EndObject();
        json.Key("indices");
        json.Integer(2 * mesh + 1);
        json.Key("mode");
        json.Integer(kTriangles);
        json.EndObject();
        json.EndArray();
        json.EndObject();
        ++mesh;
    }
    json.EndArray();
    json.Key("accessors");
    json.BeginArray();
    mesh = 0;
    for (const PartLayout& part : layout) {
        if (!part.hasMesh) continue;
        json.BeginObject();
        json.Key("bufferView");
        json.Integer(2 * mesh);
        json.Key("componentType");
        json.Integer(kFloat);
        json.Key("count");
        json.Integer(part.vertexCount);
        json.Key("type");
        json.String("VEC3");
        Bounds(json, "min", part.low);
        Bounds(json, "max", part.high);
        json.EndObject();
        json.BeginObject();
        json.Key("bufferView");
        json.Integer(2 * mesh + 1);
        json.Key("componentType");
        json.Integer(part.shortIndices ? kUnsignedShort : kUnsignedInt);
        json.Key("count");
        json.Integer(3 * part.planned->triangles);
        json.Key("type");
        json.String("SCALAR");
        json.EndObject();
        ++mesh;
    }
    json.EndArray();
    json.Key("bufferViews");
    json.BeginArray();
    const auto view = [&](std::uint64_t at, std::uint64_t bytes, std::uint64_t target) {
        json.BeginObject();
        json.Key("buffer");
        json.Integer(0);
        json.Key("byteOffset");
        json.Integer(at);
        json.Key("byteLength");
        json.Integer(bytes);
        json.Key("target");
        json.Integer(target);
        json.EndObject();
    };
    for (const PartLayout& part : layout) {
        if (!part.hasMesh) continue;
        view(part.positionsAt, part.vertexCount * 12, kArrayBuffer);
        view(part.indicesAt, part.indicesBytes, kElementArrayBuffer);
    }
    json.EndArray();
    json.Key("buffers");
    json.BeginArray();
    json.BeginObject();
    json.Key("byteLength");
    json.Integer(binBytes);
    json.EndObject();
    json.EndArray();
    json.EndObject();
    return text;
}

void WriteWord(OutputFile& out, std::uint32_t word) { out.Write(&word, sizeof word); }

// The part's indices, and zeros up to the next 4-byte boundary.
template <typename Index>
void WriteIndices(const PartLayout& part, OutputFile& out) {
    RecordStream data(out);
    WalkStripTriangles(*part.planned->source->part, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        unsigned char* at = data.Next(3 * sizeof(Index));
        Put(at, static_cast<Index>(a));
        Put(at, static_cast<Index>(b));
        Put(at, static_cast<Index>(c));
    });
    const std::size_t padding = PadTo4(part.indicesBytes) - part.indicesBytes;
    std::memset(data.Next(padding), 0, padding);
}

void AppendWord(std::string& bytes, std::uint32_t word) {
    bytes.append(reinterpret_cast<const char*>(&word), sizeof word);
}

}  // namespace

std::uint64_t WriteGlb(std::span<const PlannedPart> parts, OutputFile& out) {
    std::uint64_t binBytes = 0;
    std::vector<PartLayout> layout = Layout(parts, binBytes);
    // Room for the JSON: as it reads with every bound 0, plus what the longest text of a float
    // ("-1.23456789e-38", 15 characters) may add to each of a mesh's six bounds.
    std::size_t meshes = 0;
    for (const PartLayout& part : layout) meshes += part.hasMesh;
    const std::size_t jsonBytes = PadTo4(Describe(layout, binBytes).size() + meshes * 6 * 14);
    const std::uint64_t total = 12 + 8 + jsonBytes + (binBytes > 0 ? 8 + binBytes : 0);
    if (total > std::numeric_limits<std::uint32_t>::max()) {
        throw ExportFailure("these parts need " + std::to_string(total) +
                            " bytes, more than the 4 GiB a binary glTF file can hold");
    }
    const std::size_t headBytes = 12 + 8 + jsonBytes;
    out.Write(std::string(headBytes, ' '));  // filled in at the end
    std::uint64_t vertices = 0;
    if (binBytes > 0) {
        WriteWord(out, static_cast<std::uint32_t>(binBytes));
        WriteWord(out, kBinChunk);
        std::vector<Position> positions;
        for (PartLayout& part : layout) {
            if (!part.hasMesh) continue;
            GatherPositions(*part.planned->source->part, positions);
            FindBounds(positions, part);
            static_assert(sizeof(Position) == 12, "positions are stored tightly, as glTF reads them");
            out.Write(positions.data(), positions.size() * sizeof(Position));
            vertices += positions.size();
            if (part.shortIndices) {
                WriteIndices<std::uint16_t>(part, out);
            } else {
                WriteIndices<std::uint32_t>(part, out);
            }
        }
    }
    std::string head;
    AppendWord(head, kGlbMagic);
    AppendWord(head, 2);
    AppendWord(head, static_cast<std::uint32_t>(total));
    AppendWord(head, static_cast<std::uint32_t>(jsonBytes));
    AppendWord(head, kJsonChunk);
    head += Describe(layout, binBytes);
    head.append(headBytes - head.size(), ' ');  // the JSON chunk is padded with spaces
    out.Overwrite(0, head);
    return vertices;
}

}  // namespace trenn
