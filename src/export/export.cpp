#include "export/export.h"

#include <algorithm>
#include <map>
#include <cctype>
#include <new>

#include "export/mesh_access.h"
#include "export/output_file.h"
#include "export/writers.h"
#include "model/part_identity.h"
#include "runtime/text.h"

namespace trenn {

namespace {

// What one export may write, in vertices and triangles: this many times what the distinct
// arrays of its parts hold, and this many besides.
constexpr std::uint64_t kRepeatAllowance = 64;
constexpr std::uint64_t kFreeAllowance = std::uint64_t{1} << 24;

}  // namespace

std::optional<ExportFormat> ExportFormatFromPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    // A name that is all extension (".obj") has none, as a hidden file's name.
    if (dot == std::string::npos || dot == 0) return std::nullopt;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ExportFormat format :
         {ExportFormat::Obj, ExportFormat::Ply, ExportFormat::Stl, ExportFormat::Glb}) {
        if (extension == ExportFormatName(format)) return format;
    }
    return std::nullopt;
}

const char* ExportFormatName(ExportFormat format) {
    switch (format) {
        case ExportFormat::Obj: return "obj";
        case ExportFormat::Ply: return "ply";
        case ExportFormat::Stl: return "stl";
        case ExportFormat::Glb: return "glb";
    }
    return "";
}

std::vector<ExportPart> TickedParts(const std::vector<MeshPart>& parts, const std::vector<std::string>& listTexts,
                                    const std::vector<bool>& ticked) {
    std::vector<ExportPart> chosen;
    const std::size_t count = std::min({parts.size(), listTexts.size(), ticked.size()});
    for (std::size_t position = 0; position < count; ++position) {
        if (ticked[position]) chosen.push_back({BytesToUtf8(listTexts[position]), position, &parts[position]});
    }
    return chosen;
}

ExportSummary ExportParts(const std::vector<ExportPart>& parts, ExportFormat format,
                          const std::string& path, MadeFiles* temporaries) {
    ExportSummary summary;
    summary.parts = parts.size();
    try {
        // The headers of every format but OBJ need the triangle counts before the triangles.
        // Parts that name the same arrays are walked once.
        struct Walked {
            std::uint64_t triangles = 0;
            std::uint64_t skipped = 0;
        };
        std::map<PartIdentity, Walked> walked;
        std::uint64_t toWrite = 0, distinct = 0;
        std::vector<PlannedPart> planned;
        planned.reserve(parts.size());
        for (const ExportPart& part : parts) {
            const auto [entry, fresh] = walked.try_emplace(PartIdentity::Of(*part.part));
            Walked& w = entry->second;
            if (fresh) {
                w.skipped = WalkStripTriangles(*part.part, [&](std::uint32_t, std::uint32_t, std::uint32_t) {
                    ++w.triangles;
                });
                distinct += RecordCount(*part.part) + w.triangles;
            }
            toWrite += RecordCount(*part.part) + w.triangles;
            summary.skipped += w.skipped;
            summary.triangles += w.triangles;
            planned.push_back({&part, w.triangles});
        }
        // Every part is written in full, so a file whose parts name the same arrays over and
        // over would ask for an output many times its size, and as much time.
        const std::uint64_t allowed = kRepeatAllowance * distinct + kFreeAllowance;
        if (toWrite > allowed) {
            summary.detail = "cannot write " + path + ": the parts repeat the same arrays too often: " +
                             std::to_string(toWrite) + " vertices and triangles to write, more than the " +
                             std::to_string(allowed) + " allowed for the " + std::to_string(distinct) +
                             " of their distinct arrays";
            return summary;
        }
        OutputFile out(path, temporaries);
        switch (format) {
            case ExportFormat::Obj: summary.vertices = WriteObj(planned, out); break;
            case ExportFormat::Ply: summary.vertices = WritePly(planned, out); break;
            case ExportFormat::Stl: summary.vertices = WriteStl(planned, out); break;
            case ExportFormat::Glb: summary.vertices = WriteGlb(planned, out); break;
        }
        out.Commit();
        summary.written = true;
    } catch (const ExportFailure& failure) {
        summary.detail = "cannot write " + path + ": " + failure.what();
    } catch (const std::bad_alloc&) {
        summary.detail = "cannot write " + path + ": not enough memory";
    }
    return summary;
}

}  // namespace trenn
