#pragma once

// Writes chosen parts of a model to a mesh file another program can read: Wavefront OBJ, PLY,
// STL or binary glTF. Headless: the writers read only the parts they are handed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/mesh.h"

namespace trenn {

class MadeFiles;

enum class ExportFormat { Obj, Ply, Stl, Glb };

// One part to write: its name (the list text as UTF-8), where it stands in the part list, and
// the mesh, never null, which must outlive the export.
struct ExportPart {
    std::string name;
    std::size_t listPosition = 0;
    const MeshPart* part = nullptr;
};

struct ExportSummary {
    bool written = false;
    std::string detail;  // why not, one line: "cannot write /x/y.stl: No space left on device"
    std::size_t parts = 0;
    std::uint64_t vertices = 0;   // vertices the file holds (STL: three per triangle)
    std::uint64_t triangles = 0;  // faces in the file
    std::uint64_t skipped = 0;    // strip triples left out (see WalkStripTriangles)
};

// The format a file name's extension names (.obj .ply .stl .glb, in any case); none for
// any other name.
std::optional<ExportFormat> ExportFormatFromPath(const std::string& path);

// "obj", "ply", "stl" or "glb".
const char* ExportFormatName(ExportFormat format);

// The parts of the list entries ticked, in list order, each named by its entry's text (bytes
// that are not UTF-8 replaced): parts[k] belongs to entry k.
std::vector<ExportPart> TickedParts(const std::vector<MeshPart>& parts, const std::vector<std::string>& listTexts,
                                    const std::vector<bool>& ticked);

// Writes `parts`, in this order, to `path` in `format`. Parts that name the same arrays are
// each written in full, up to 64 times the vertices and triangles of the distinct arrays and
// 2^24 more; an export that would write more is refused with a detail that says so. The file appears whole or not at all:
// it is written under a temporary name beside `path` and renamed over it once it is on disk.
// `temporaries`, when given, records the temporary file while it is there, for a cleanup that
// must remove it should the program be ended meanwhile.
ExportSummary ExportParts(const std::vector<ExportPart>& parts, ExportFormat format,
                          const std::string& path, MadeFiles* temporaries = nullptr);

}  // namespace trenn
