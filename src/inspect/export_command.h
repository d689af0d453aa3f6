#pragma once

// trenn-inspect --export OUT: the ticked parts of the loaded model, written to OUT in the format
// its extension names.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/loaded_model.h"
#include "export/export.h"
#include "inspect/json_writer.h"
#include "runtime/termination_guard.h"

namespace trenn {

struct ExportRequest {
    std::string path;
    ExportFormat format = ExportFormat::Obj;
};

// None when OUT's extension names no format this program writes.
std::optional<ExportRequest> ParseExportRequest(const std::string& out);

// The usage message for a position of `check` past the end of the list, if there is one.
std::optional<std::string> MissingListPosition(const std::optional<std::vector<int>>& check,
                                               std::size_t listCount);

// Writes the list entries `check` ticks (every one when it is unset) in list order. Should a
// termination signal end the program meanwhile, `termination` removes the temporary file as
// well as running `cleanup`, the cleanup it has outside the export.
ExportSummary ExportTicked(const ExportRequest& request, const LoadedModel& model,
                           const std::optional<std::vector<int>>& check, TerminationGuard& termination,
                           const std::function<void()>& cleanup);

// "export": {"path", "format", "parts", "vertices", "triangles", "skipped"}
void WriteExportJson(JsonWriter& json, const ExportRequest& request, const ExportSummary& summary);

}  // namespace trenn
