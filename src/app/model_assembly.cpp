#include "app/model_assembly.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "elf/elf_data.h"
#include "runtime/checked.h"
#include "runtime/load_failure.h"

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
    explicit MarkerSearch(const BinaryFile& scratch) : scratch_(scratch), size_(scratch.Size()) {}

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
        while (position + 4 <= size_) {
            // Holes in the scratch file are zeros, which can neither be nor start a marker.
            const std::uint64_t data = scratch_.NextDataOffset(position);
            if (data > position) position += (data - position) & ~std::uint64_t{3};
            if (position >= limit) return kReachedLimit;
            if (position + 4 > size_) break;
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(want, size_ - position));
            block_.resize(length + 8);
            scratch_.ReadAt(position, block_.data(), block_.size());
            // Words whose first byte lies in this block; the 8 extra bytes hold the partner.
            std::size_t at = 0;
            while (at < length && position + at + 4 <= size_) {
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
    std::vector<unsigned char> block_;
    std::map<std::uint64_t, Stretch> known_[4];  // by start, one map per grid
};

// The index entries from `start` on that the file holds, `length` bytes at most. A scratch
// file can be 2 GiB long and nearly all hole: entries in holes are zeros like those past the
// end, so the list stops after the last block that holds data rather than at the end.
IndexList::Entries ReadStoredIndices(const BinaryFile& scratch, std::uint64_t start,
                                    std::uint64_t length) {
    IndexList::Entries stored;
    const std::uint64_t end = start + length;
    std::uint64_t position = start;
    while (position < end) {
        const std::uint64_t data = scratch.NextDataOffset(position);
        if (data >= end) break;
        if (data > position) position += (data - position) & ~std::uint64_t{1};
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(kScanBlock, end - position));
        const auto first = static_cast<std::size_t>((position - start) / 2);
        stored.resize(first + (chunk + 1) / 2, 0);
        scratch.ReadAt(position, stored.data() + first, chunk);
        position += chunk;
    }
    return stored;
}

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

void ReadPart(const BinaryFile& scratch, MarkerSearch& markers, std::size_t k) {
    MeshPart& part = g_parts.at(k);
    const std::vector<SymbolEntry>& symbols = SymbolsWithStorage();
    if (part.symbol < 0 || static_cast<std::size_t>(part.symbol) >= symbols.size()) {
        Fail("part " + std::to_string(k + 1) + ": symbol " + std::to_string(part.symbol) +
             " is not in the symbol list");
    }
    const std::int32_t value = symbols[static_cast<std::size_t>(part.symbol)].value;
    const std::string where = "part " + std::to_string(k + 1) + " (symbol " +
                              std::to_string(part.symbol) + ", value " + Hex(value) + "): ";
    try {
        if (value < 1) Fail("the symbol value is below 1");
        const std::uint64_t fileSize = markers.FileSize();
        const std::uint64_t marker = markers.Find(static_cast<std::uint64_t>(value));

        unsigned char block[kMeshBlockSize];
        scratch.ReadAt(marker, block, sizeof block);
        const std::int32_t vertexOffset = WordAt(block, 8);
        const std::int32_t vertexCount = WordAt(block, 12);
        const std::int32_t indexOffset = WordAt(block, 48);
        const std::int32_t indexCount = WordAt(block, 52);
        const std::string at = " (mesh block at " + Hex(static_cast<std::int64_t>(marker)) + ")";

        if (vertexCount < 1) Fail("vertex count " + std::to_string(vertexCount) + " is below 1" + at);
        if (vertexCount > kMaxVerticesPerPart) {
            Fail("vertex count " + std::to_string(vertexCount) + " is above 32768" + at);
        }
        RequireOffset(vertexOffset, ("vertex data offset" + at).c_str());
        // ReadAt writes every byte: what lies past the end of the file reads as zeros.
        VertexList vertices = VertexList::ForFilling(static_cast<std::size_t>(vertexCount));
        scratch.ReadAt(static_cast<std::uint64_t>(vertexOffset), vertices.data(),
                       vertices.size() * sizeof(MeshVertex));
        part.vertices = std::move(vertices);

        if (indexCount < 1) Fail("index count " + std::to_string(indexCount) + " is below 1" + at);
        RequireOffset(indexOffset, ("index data offset" + at).c_str());
        // Only the entries the file holds are stored; the rest of the list reads as zeros.
        const auto start = static_cast<std::uint64_t>(indexOffset);
        const std::uint64_t present = start < fileSize ? fileSize - start : 0;
        const std::uint64_t wanted = static_cast<std::uint64_t>(indexCount) * 2;
        const std::uint64_t storedBytes = std::min(present, wanted);
        part.indices = IndexList(indexCount, ReadStoredIndices(scratch, start, storedBytes));
    } catch (const LoadFailure& failure) {
        Fail(where + failure.what());
    } catch (const std::bad_alloc&) {
        Fail(where + "out of memory");
    }
}

}  // namespace

void ReadMeshBlock(const BinaryFile& scratch, std::size_t k) {
    MarkerSearch markers(scratch);
    ReadPart(scratch, markers, k);
}

float ComputeViewExtent() {
    RequireInt16UpperBound(static_cast<std::int64_t>(g_parts.size()) - 1, "part list");
    float extent = 0.0f;
    for (std::size_t k = 0; k < g_parts.size(); ++k) {
        const VertexList& vertices = g_parts[k].vertices;
        RequireInt16UpperBound(static_cast<std::int64_t>(vertices.size()) - 1, "vertex array");
        for (std::size_t j = 0; j < vertices.size(); ++j) {
            for (const float coordinate : {vertices[j].x, vertices[j].y, vertices[j].z}) {
                if (!std::isfinite(coordinate)) {
                    Fail("part " + std::to_string(k + 1) + ", vertex " + std::to_string(j) +
                         ": coordinate " + (std::isnan(coordinate) ? "is not a number" : "is infinite"));
                }
                const float a = std::fabs(coordinate);
                if (a > extent) extent = a;
            }
        }
    }
    return extent;
}

void SetViewScale(float extent, ViewerWindow& window) {
    const float width = window.PictureWidth();
    const float height = window.PictureHeight();
    if (width == 0.0f) Fail("the picture area has no width");
    const float ratio = CheckedSingle(static_cast<double>(height) / width, "picture proportions");
    const float f = CheckedSingle(static_cast<double>(ratio) * extent, "view scale");
    window.ScalePicture(-extent, f, extent, -f);
}

AssemblyOutcome AssembleModel(const std::function<ViewerWindow&()>& loadWindow,
                              const std::string& scratchPath) {
    try {
        g_parts.assign(1, MeshPart{});
        ViewerWindow& window = loadWindow();
        BuildPartCatalogue(window);

        const std::vector<SymbolEntry>& symbols = SymbolsWithStorage();
        const std::int16_t first = g_parts[0].symbol;
        if (symbols.at(static_cast<std::size_t>(first)).name.empty()) {
            return AssemblyOutcome::NotUnderstood;
        }

        {
            const BinaryFile scratch = BinaryFile::OpenOrCreateNoFollow(scratchPath);
            MarkerSearch markers(scratch);
            for (std::size_t k = 0; k < g_parts.size(); ++k) ReadPart(scratch, markers, k);
        }
        SetViewScale(ComputeViewExtent(), window);
        window.ShowWindow();
        return AssemblyOutcome::WindowShown;
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
    } catch (const std::out_of_range& error) {
        Fail(std::string("index outside an array: ") + error.what());
    }
}

}  // namespace trenn
