#include "inspect/export_command.h"

#include "runtime/scratch_file.h"

namespace trenn {

std::optional<ExportRequest> ParseExportRequest(const std::string& out) {
    const std::optional<ExportFormat> format = ExportFormatFromPath(out);
    if (!format) return std::nullopt;
    return ExportRequest{out, *format};
}

std::optional<std::string> MissingListPosition(const std::optional<std::vector<int>>& check,
                                               std::size_t listCount) {
    if (!check) return std::nullopt;
    for (const int position : *check) {
        if (static_cast<std::size_t>(position) >= listCount) {
            return "--check: no list position " + std::to_string(position) + " (the list has " +
                   std::to_string(listCount) + " entries)";
        }
    }
    return std::nullopt;
}

ExportSummary ExportTicked(const ExportRequest& request, const LoadedModel& model,
                           const std::optional<std::vector<int>>& check, TerminationGuard& termination,
                           const std::function<void()>& cleanup) {
    const std::size_t listCount = model.listTexts.size();
    std::vector<bool> ticked(listCount, !check.has_value());
    if (check) {
        for (const int position : *check) ticked.at(static_cast<std::size_t>(position)) = true;
    }
    const std::vector<ExportPart> chosen = TickedParts(model.parts, model.listTexts, ticked);
    ExportSummary summary;
    {
        MadeFiles temporaries;
        const TerminationCleanup removeTemporary(termination, [&] {
            cleanup();
            temporaries.RemoveAll();
        });
        summary = ExportParts(chosen, request.format, request.path, &temporaries);
    }
    termination.SetCleanup(cleanup);  // what removeTemporary took away when it went
    return summary;
}

void WriteExportJson(JsonWriter& json, const ExportRequest& request, const ExportSummary& summary) {
    json.Key("export");
    json.BeginObject();
    json.Key("path");
    json.String(request.path);
    json.Key("format");
    json.String(ExportFormatName(request.format));
    const auto count = [&](const char* key, std::uint64_t value) {
        json.Key(key);
        json.Integer(static_cast<std::int64_t>(value));
    };
    count("parts", summary.parts);
    count("vertices", summary.vertices);
    count("triangles", summary.triangles);
    count("skipped", summary.skipped);
    json.EndObject();
}

}  // namespace trenn
