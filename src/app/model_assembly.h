#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "model/mesh.h"
#include "app/viewer_window.h"
#include "runtime/binary_file.h"

namespace trenn {

class ScratchFile;

// mdlMain's model: entry k belongs to list position k. Never empty once loading has begun.
extern std::vector<MeshPart> g_parts;

inline constexpr const char* kPartPrefix = "__geoprimdatabuffer";
inline constexpr std::int32_t kMaxVerticesPerPart = 32768;

enum class AssemblyOutcome { WindowShown, NotUnderstood };

// Turns g_symbols into parts, loads the window hidden, reads the meshes from the scratch file
// (opened at the path, or made empty there when missing), scales the picture area and shows
// the window. Any failure throws LoadFailure (the corrupt exit).
AssemblyOutcome AssembleModel(const std::function<ViewerWindow&()>& loadWindow,
                              const std::string& scratchPath);
// The same, reading through the scratch file this process made and wrote, never by its path.
AssemblyOutcome AssembleModel(const std::function<ViewerWindow&()>& loadWindow,
                              const ScratchFile& scratch);

// One list entry and one g_parts entry per part symbol.
void BuildPartCatalogue(ViewerWindow& window);

// The list text of a part symbol's name: characters 20 to 119.
std::string PartListText(const std::string& symbolName);

// Finds part k's mesh block from its symbol's value and reads its vertices and indices.
void ReadMeshBlock(const BinaryFile& scratch, std::size_t k);

// Largest absolute coordinate over every vertex of every part.
float ComputeViewExtent();

// Fits the picture area's user coordinates to the extent: x from -E to E, y from F to -F.
void SetViewScale(float extent, ViewerWindow& window);

}  // namespace trenn
