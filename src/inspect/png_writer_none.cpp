#include "inspect/png_writer.h"

// Builds without Qt print JSON only.
namespace trenn {

bool CanWritePng() { return false; }

std::optional<std::string> WritePng(const std::string& path, const std::vector<std::uint32_t>&, int, int) {
    return "cannot write " + path + ": this build has no picture output";
}

}  // namespace trenn
