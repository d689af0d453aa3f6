#include "inspect/png_writer.h"

// Builds without Qt print JSON only.
namespace trenn {

bool CanWritePng() { return false; }

bool WritePng(const std::string&, const std::vector<std::uint32_t>&, int, int) { return false; }

}  // namespace trenn
