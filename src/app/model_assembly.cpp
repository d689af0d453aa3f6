#include "app/model_assembly.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "elf/elf_data.h"
#include "model/part_identity.h"
#include "model/strip.h"
#include "runtime/checked.h"
#include "runtime/load_failure.h"
#include "runtime/scratch_file.h"

namespace trenn {

static_assert(std::endian::native == std::endian::little,
              "vertex and index arrays are read straight into memory");

std::vector<MeshPart> g_parts;

namespace {

constexpr std::uint32_t kMarkerWord = 0xFFFFFFFFu;
constexpr std::size_t kMeshBlockSize = 56;
constexpr std::size_t kScanBlock = 1u << 20;
constexpr std::size_t kFirstScanBlock = 4096;

std::string Hex(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// A part's mesh block, 56 bytes from its marker on.
struct MeshBlock {
    std::uint32_t marker[2];
    std::int32_t vertexOffset;  // where the first vertex record lies in the scratch file
    std::int32_t vertexCount;
    std::uint32_t unused[8];
    std::int32_t indexOffset;  // where the first index lies
    std::int32_t indexCount;
};
static_assert(sizeof(MeshBlock) == kMeshBlockSize, "the mesh block is read as it is stored");

std::int32_t WordAt(const unsigned char* bytes, std::size_t offset) {
    std::int32_t value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

const std::vector<SymbolEntry>& SymbolsWithStorage() {
    if (!g_symbols) Fail("the object file has no symbol table");
    return *g_symbols;
}

// Finds mesh block markers: the first place on the 4-byte grid from a start where two words
// of all ones follow each other; a lone all-ones word is passed over together with the word
// after it. A search from p that ends at the marker m passes, itself or as the partner of a
// lone all-ones word, every grid position from p to m, and a search from any of them ends at
// m as well; one that finds nothing finds nothing from any later grid position either. So
// the outcomes are kept per stretch, and no stretch of the file is searched twice: thousands
// of parts whose values lie before one far marker cost one search.
class MarkerSearch {
public:
    // Words past `dataEnd` are zeros, which hold no marker: the search stops there.
    MarkerSearch(const BinaryFile& scratch, std::uint64_t dataEnd)
        : scratch_(scratch), size_(scratch.Size()), end_(std::min(size_, dataEnd)) {}

    std::uint64_t FileSize() const { return size_; }

    std::uint64_t Find(std::uint64_t start) {
        std::map<std::uint64_t, Stretch>& known = known_[start % 4];
        const auto next = known.upper_bound(start);
        if (next != known.begin() && start <= std::prev(next)->second.last) {
            return Outcome(start, std::prev(next)->second);
        }
        const std::uint64_t limit = next == known.end() ? kNoLimit : next->first;
        Stretch stretch;
        const std::optional<std::uint64_t> found = Scan(start, limit);
        if (found == kReachedLimit) {
            stretch = next->second;
            known.erase(next);
        } else if (found) {
            stretch = {*found, *found};
        }
        known.emplace(start, stretch);
        return Outcome(start, stretch);
    }

private:
    static constexpr std::uint64_t kNoLimit = UINT64_MAX;
    static constexpr std::uint64_t kReachedLimit = UINT64_MAX;

    // The grid positions from a start up to `last` share one outcome.
    struct Stretch {
        std::uint64_t last = kNoLimit;
        std::optional<std::uint64_t> marker;  // none: no marker up to the end
    };

    std::uint64_t Outcome(std::uint64_t start, const Stretch& stretch) const {
        if (stretch.marker) return *stretch.marker;
        Fail("no mesh block marker between " + Hex(static_cast<std::int64_t>(start)) +
             " and the end of the data (" + Hex(static_cast<std::int64_t>(size_)) + " bytes)");
    }

    // The marker, kReachedLimit once the search reaches `limit`, or nothing at the end.
    std::optional<std::uint64_t> Scan(std::uint64_t start, std::uint64_t limit) {
        // Blocks start small and grow: with thousands of parts a fixed 1 MiB block per part
        // costs more than the reading itself when the marker lies near the value.
        std::size_t want = kFirstScanBlock;
        std::uint64_t position = start;
        while (position + 4 <= end_) {
            // Holes in the scratch file are zeros, which can neither be nor start a marker.
            const std::uint64_t data = scratch_.NextDataOffset(position);
            if (data > position) position += (data - position) & ~std::uint64_t{3};
            if (position >= limit) return kReachedLimit;
            if (position + 4 > end_) break;
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(want, end_ - position));
            block_.resize(length + 8);
            scratch_.ReadAt(position, block_.data(), block_.size());
            // Words whose first byte lies in this block; the 8 extra bytes hold the partner.
            std::size_t at = 0;
            while (at < length && position + at + 4 <= end_) {
                if (position + at >= limit) return kReachedLimit;
                if (static_cast<std::uint32_t>(WordAt(block_.data(), at)) != kMarkerWord) {
                    at += 4;
                    continue;
                }
                if (static_cast<std::uint32_t>(WordAt(block_.data(), at + 4)) == kMarkerWord) {
                    return position + at;
                }
                at += 8;
            }
            position += at;
            want = std::min(want * 2, kScanBlock);
        }
        return position >= limit ? std::optional<std::uint64_t>(kReachedLimit) : std::nullopt;
    }

    const BinaryFile& scratch_;
    const std::uint64_t size_;
    const std::uint64_t end_;
    std::vector<unsigned char> block_;
    std::map<std::uint64_t, Stretch> known_[4];  // by start, one map per grid
};

void RequireOffset(std::int32_t offset, const char* what) {
    if (offset < 0 || offset == 0x7FFFFFFF) {
        Fail(std::string(what) + " " + std::to_string(offset) + " is not a file position");
    }
}

}  // namespace

std::string PartListText(const std::string& symbolName) {
    if (symbolName.size() <= 19) return {};
    return symbolName.substr(19, 100);
}

void BuildPartCatalogue(ViewerWindow& window) {
    const std::vector<SymbolEntry>& symbols = SymbolsWithStorage();
    RequireInt16UpperBound(static_cast<std::int64_t>(symbols.size()) - 1, "symbol list");
    std::size_t partCount = 0;
    const std::size_t prefixLength = std::strlen(kPartPrefix);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::string& name = symbols[i].name;
        if (name.size() < prefixLength || name.compare(0, prefixLength, kPartPrefix) != 0) continue;
        window.AddPartItem(PartListText(name));
        window.SetPartItemData(window.PartListNewIndex(), static_cast<std::int32_t>(i));
        if (partCount > 0) g_parts.emplace_back();
        g_parts[partCount].symbol = static_cast<std::int16_t>(i);
        ++partCount;
    }
}

namespace {

// Where part k's arrays lie in the scratch file, as its mesh block gives them.
struct ArrayPlace {
    std::uint64_t vertexOffset = 0;
    std::size_t vertexCount = 0;
    std::uint64_t indexOffset = 0;
    std::int32_t indexCount = 0;
};

std::string PartPrefix(std::size_t k, std::int16_t symbol, std::int32_t value) {
    return "part " + std::to_string(k + 1) + " (symbol " + std::to_string(symbol) + ", value " +
           Hex(value) + "): ";
}

// Finds part k's mesh block and checks it; reads nothing of its arrays yet.
ArrayPlace FindArrays(const BinaryFile& scratch, MarkerSearch& markers, std::size_t k) {
    const MeshPart& part = g_parts.at(k);
    const std::vector<SymbolEntry>& symbols = SymbolsWithStorage();
    if (part.symbol < 0 || static_cast<std::size_t>(part.symbol) >= symbols.size()) {
        Fail("part " + std::to_string(k + 1) + ": symbol " + std::to_string(part.symbol) +
             " is not in the symbol list");
    }
    const std::int32_t value = symbols[static_cast<std::size_t>(part.symbol)].value;
    try {
        if (value < 1) Fail("the symbol value is below 1");
        const std::uint64_t marker = markers.Find(static_cast<std::uint64_t>(value));

        MeshBlock block;
        scratch.ReadAt(marker, &block, sizeof block);
        const std::int32_t vertexOffset = block.vertexOffset;
        const std::int32_t vertexCount = block.vertexCount;
        const std::int32_t indexOffset = block.indexOffset;
        const std::int32_t indexCount = block.indexCount;
        const std::string at = " (mesh block at " + Hex(static_cast<std::int64_t>(marker)) + ")";

        if (vertexCount < 1) Fail("vertex count " + std::to_string(vertexCount) + " is below 1" + at);
        if (vertexCount > kMaxVerticesPerPart) {
            Fail("vertex count " + std::to_string(vertexCount) + " is above 32768" + at);
        }
        RequireOffset(vertexOffset, ("vertex data offset" + at).c_str());
        if (indexCount < 1) Fail("index count " + std::to_string(indexCount) + " is below 1" + at);
        RequireOffset(indexOffset, ("index data offset" + at).c_str());
        return {static_cast<std::uint64_t>(vertexOffset), static_cast<std::size_t>(vertexCount),
                static_cast<std::uint64_t>(indexOffset), indexCount};
    } catch (const LoadFailure& failure) {
        Fail(PartPrefix(k, part.symbol, value) + failure.what());
    }
}

// The stretches of the scratch file that the parts' arrays cover, each read once. Arrays are
// views into them: parts that name the same bytes, or overlapping bytes, share one copy, and
// nothing past the end of the file's data is held, so the model never needs more memory than
// the file has data, whatever its parts claim.
class ArrayBytes {
public:
    ArrayBytes(const BinaryFile& scratch, std::uint64_t dataEnd)
        : dataEnd_(std::min(scratch.DataEnd(), dataEnd)) {}

    // The part of [offset, offset + length) that holds data.
    void Want(std::uint64_t offset, std::uint64_t length) {
        const std::uint64_t end = std::min(offset + length, dataEnd_);
        if (offset < end) wanted_.emplace_back(offset, end);
    }

    void Read(const BinaryFile& scratch) {
        std::sort(wanted_.begin(), wanted_.end());
        for (const auto& [start, end] : wanted_) {
            if (!stretches_.empty() && start <= stretches_.back().end) {
                stretches_.back().end = std::max(stretches_.back().end, end);
            } else {
                stretches_.push_back({start, end, nullptr});
            }
        }
        wanted_ = {};
        for (Stretch& stretch : stretches_) {
            const auto length = static_cast<std::size_t>(stretch.end - stretch.start);
            std::shared_ptr<SharedBytes> bytes = SharedBytes::Allocate(length);
            scratch.ReadAt(stretch.start, bytes->data(), length);
            stretch.bytes = std::move(bytes);
        }
    }

    VertexList Vertices(std::uint64_t offset, std::size_t count) const {
        const View view = Find(offset, static_cast<std::uint64_t>(count) * sizeof(MeshVertex));
        return VertexList(view.bytes, view.first, view.stored, count);
    }
    IndexList Indices(std::uint64_t offset, std::int32_t count) const {
        const View view = Find(offset, static_cast<std::uint64_t>(count) * 2);
        return IndexList(view.bytes, view.first, view.stored, count);
    }

private:
    struct Stretch {
        std::uint64_t start;
        std::uint64_t end;
        std::shared_ptr<const SharedBytes> bytes;
    };
    struct View {
        std::shared_ptr<const SharedBytes> bytes;
        const unsigned char* first = nullptr;
        std::size_t stored = 0;
    };

    View Find(std::uint64_t offset, std::uint64_t length) const {
        const std::uint64_t end = std::min(offset + length, dataEnd_);
        if (offset >= end) return {};
        auto it = std::upper_bound(stretches_.begin(), stretches_.end(), offset,
                                   [](std::uint64_t at, const Stretch& s) { return at < s.start; });
        // Every wanted range lies inside one stretch, so the one before it holds the offset.
        const Stretch& stretch = *std::prev(it);
        return {stretch.bytes, stretch.bytes->data() + (offset - stretch.start),
                static_cast<std::size_t>(end - offset)};
    }

    const std::uint64_t dataEnd_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> wanted_;
    std::vector<Stretch> stretches_;  // sorted, apart from each other
};

// Finds every part's arrays, then reads the bytes they cover and makes the parts' views.
// Nothing past `dataEnd` is read: it is all zeros.
void ReadParts(const BinaryFile& scratch, std::uint64_t dataEnd, std::size_t first, std::size_t last) {
    MarkerSearch markers(scratch, dataEnd);
    std::vector<ArrayPlace> places;
    places.reserve(last - first);
    for (std::size_t k = first; k < last; ++k) places.push_back(FindArrays(scratch, markers, k));
    ArrayBytes bytes(scratch, dataEnd);
    for (const ArrayPlace& place : places) {
        bytes.Want(place.vertexOffset, static_cast<std::uint64_t>(place.vertexCount) * sizeof(MeshVertex));
        bytes.Want(place.indexOffset, static_cast<std::uint64_t>(place.indexCount) * 2);
    }
    bytes.Read(scratch);
    for (std::size_t k = first; k < last; ++k) {
        const ArrayPlace& place = places[k - first];
        g_parts[k].vertices = bytes.Vertices(place.vertexOffset, place.vertexCount);
        g_parts[k].indices = bytes.Indices(place.indexOffset, place.indexCount);
    }
}

// A redraw of every part turns each part's vertices and walks its strip. Parts that name the
// same arrays are drawn once, but parts that name different views of shared bytes each cost
// their own, so that a small file could ask for work without end. Files whose arrays are stored
// once, or shared whole as real files share them, ask for well under a vertex or a triangle
// per byte of data.
constexpr std::uint64_t kWorkPerDataByte = 1;
constexpr std::uint64_t kWorkAllowance = std::uint64_t{1} << 20;

void RequireBoundedWork(const std::vector<MeshPart>& parts, std::uint64_t dataBytes) {
    std::set<PartIdentity> drawn;
    std::uint64_t work = 0;
    for (const MeshPart& part : parts) {
        const VertexList& v = part.vertices;
        const IndexList& x = part.indices;
        if (!drawn.insert(PartIdentity::Of(part)).second) continue;
        work += v.size() + static_cast<std::uint64_t>(WalkedTriangles(x));
    }
    const std::uint64_t limit = kWorkPerDataByte * dataBytes + kWorkAllowance;
    if (work > limit) {
        Fail("the parts ask for " + std::to_string(work) + " vertices and strip triangles to be drawn, more than the " +
             std::to_string(limit) + " allowed for " + std::to_string(dataBytes) + " bytes of data");
    }
}

// A stored vertex record's coordinates; bytes past what the view holds are zeros.
std::array<float, 3> CoordinatesAt(const unsigned char* record, std::size_t available) {
    std::array<float, 3> xyz{};
    std::memcpy(xyz.data(), record, std::min<std::size_t>(sizeof xyz, available));
    return xyz;
}

}  // namespace

void ReadMeshBlock(const BinaryFile& scratch, std::size_t k) {
    try {
        ReadParts(scratch, UINT64_MAX, k, k + 1);
    } catch (const std::bad_alloc&) {
        Fail("part " + std::to_string(k + 1) + ": out of memory");
    }
}

float ComputeViewExtent() {
    RequireInt16UpperBound(static_cast<std::int64_t>(g_parts.size()) - 1, "part list");
    for (const MeshPart& part : g_parts) {
        RequireInt16UpperBound(static_cast<std::int64_t>(part.vertices.size()) - 1, "vertex array");
    }
    // Parts may share their records, or view the same records from different starts: each
    // stored record is looked at once. Runs of records are grouped by their address modulo
    // the record size; within a group, overlapping runs hold the same records.
    constexpr std::size_t kRecord = sizeof(MeshVertex);
    struct Run {
        std::uintptr_t start;
        std::uintptr_t end;
    };
    std::map<std::size_t, std::vector<Run>> groups;
    for (const MeshPart& part : g_parts) {
        const VertexList& vertices = part.vertices;
        if (vertices.StoredBytes() == 0) continue;
        const auto start = reinterpret_cast<std::uintptr_t>(vertices.StoredData());
        groups[start % kRecord].push_back({start, start + vertices.StoredBytes()});
    }
    float extent = 0.0f;
    std::map<std::size_t, std::vector<std::uintptr_t>> faulty;  // records with a bad coordinate
    for (auto& [group, runs] : groups) {
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.start < b.start; });
        std::uintptr_t done = 0;  // records below this address were looked at
        for (const Run& run : runs) {
            for (std::uintptr_t at = std::max(run.start, done); at < run.end; at += kRecord) {
                const auto xyz = CoordinatesAt(reinterpret_cast<const unsigned char*>(at), run.end - at);
                for (const float coordinate : xyz) {
                    if (!std::isfinite(coordinate)) {
                        faulty[group].push_back(at);
                        break;
                    }
                    const float a = std::fabs(coordinate);
                    if (a > extent) extent = a;
                }
            }
            // Runs of a group start on one grid, so this stays on the grid too.
            done = std::max(done, run.end + (kRecord - (run.end - run.start) % kRecord) % kRecord);
        }
    }
    if (faulty.empty()) return extent;
    // Name the first bad coordinate in part order, as a scan part by part would meet it.
    for (std::size_t k = 0; k < g_parts.size(); ++k) {
        const VertexList& vertices = g_parts[k].vertices;
        if (vertices.StoredBytes() == 0) continue;
        const auto start = reinterpret_cast<std::uintptr_t>(vertices.StoredData());
        const auto found = faulty.find(start % kRecord);
        if (found == faulty.end()) continue;
        const auto bad = std::lower_bound(found->second.begin(), found->second.end(), start);
        if (bad == found->second.end() || *bad >= start + vertices.StoredBytes()) continue;
        const std::size_t j = (*bad - start) / kRecord;
        const MeshVertex v = vertices[j];
        for (const float coordinate : {v.x, v.y, v.z}) {
            if (std::isfinite(coordinate)) continue;
            Fail("part " + std::to_string(k + 1) + ", vertex " + std::to_string(j) + ": coordinate " +
                 (std::isnan(coordinate) ? "is not a number" : "is infinite"));
        }
    }
    Fail("a coordinate is not finite");  // not reached: every faulty record lies in a part
}

void SetViewScale(float extent, ViewerWindow& window) {
    const float width = window.PictureWidth();
    const float height = window.PictureHeight();
    if (width == 0.0f) Fail("the picture area has no width");
    const float ratio = CheckedSingle(static_cast<double>(height) / width, "picture proportions");
    const float f = CheckedSingle(static_cast<double>(ratio) * extent, "view scale");
    window.ScalePicture(-extent, f, extent, -f);
}

namespace {

// The model assembly over the scratch file's bytes; `openScratch` gives the file (opening or
// making it) once the understanding check has passed.
AssemblyOutcome Assemble(const std::function<ViewerWindow&()>& loadWindow,
                         const std::function<const BinaryFile&()>& openScratch, std::uint64_t dataEnd) {
    try {
        g_parts.assign(1, MeshPart{});
        ViewerWindow& window = loadWindow();
        BuildPartCatalogue(window);

        const std::vector<SymbolEntry>& symbols = SymbolsWithStorage();
        const std::int16_t first = g_parts[0].symbol;
        if (symbols.at(static_cast<std::size_t>(first)).name.empty()) {
            return AssemblyOutcome::NotUnderstood;
        }

        const BinaryFile& scratch = openScratch();
        const std::string& firstName = symbols.at(static_cast<std::size_t>(first)).name;
        if (firstName.compare(0, std::strlen(kPartPrefix), kPartPrefix) == 0) {
            ReadParts(scratch, dataEnd, 0, g_parts.size());
        } else {
            // No part symbol: the first symbol kept is read as the one part. Where that fails,
            // what the user needs to hear is that the file names no part.
            try {
                ReadParts(scratch, dataEnd, 0, g_parts.size());
            } catch (const LoadFailure& failure) {
                Fail("no symbol name starts with \"" + std::string(kPartPrefix) + "\" (the first symbol kept, \"" +
                     firstName + "\", was read as a part instead: " + failure.what() + ")");
            }
        }
        RequireBoundedWork(g_parts, std::min(scratch.Size(), dataEnd));
        SetViewScale(ComputeViewExtent(), window);
        window.ShowWindow();
        return AssemblyOutcome::WindowShown;
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
    } catch (const std::out_of_range& error) {
        Fail(std::string("index outside an array: ") + error.what());
    }
}

}  // namespace

AssemblyOutcome AssembleModel(const std::function<ViewerWindow&()>& loadWindow,
                              const std::string& scratchPath) {
    BinaryFile scratch;
    return Assemble(
        loadWindow,
        [&]() -> const BinaryFile& {
            scratch = BinaryFile::OpenOrCreateNoFollow(scratchPath);
            return scratch;
        },
        UINT64_MAX);
}

AssemblyOutcome AssembleModel(const std::function<ViewerWindow&()>& loadWindow,
                              const ScratchFile& scratch) {
    // A load that wrote nothing left an empty file, or none at all: both read as zeros.
    return Assemble(
        loadWindow, [&]() -> const BinaryFile& { return scratch.File(); },
        scratch.DataEnd().value_or(scratch.IsOpen() ? UINT64_MAX : 0));
}

}  // namespace trenn
