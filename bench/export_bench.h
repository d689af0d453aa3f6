#pragma once

#include <cstdint>
#include <string>

namespace trenn::bench {

// The child's side: `trenn_bench --export-probe OBJECT SCRATCH OUT` loads OBJECT and exports
// every part to OUT; prints one line of timings and memory. `argv` starts at OBJECT.
int ExportProbe(int argc, char** argv);

// Writes the layered terrain model of about `triangles` triangles into `folder` and prints a
// table: per format the output's size, cp of that size, the export, and the probe's memory.
// `self` is this program, started again as the probe.
void PrintExportTable(const std::string& self, const std::string& folder, std::int64_t triangles, int runs);

}  // namespace trenn::bench
