#include "app/part_ticks.h"

#include <algorithm>
#include <map>

namespace trenn {

std::vector<bool> TicksCarriedOver(const std::vector<std::string>& textsBefore,
                                   const std::vector<bool>& ticksBefore,
                                   const std::vector<std::string>& textsAfter) {
    std::map<std::string, std::vector<bool>> ticksByText;
    const std::size_t known = std::min(textsBefore.size(), ticksBefore.size());
    for (std::size_t i = 0; i < known; ++i) ticksByText[textsBefore[i]].push_back(ticksBefore[i]);
    std::map<std::string, std::size_t> seen;
    std::vector<bool> ticks(textsAfter.size(), false);
    for (std::size_t i = 0; i < textsAfter.size(); ++i) {
        const auto found = ticksByText.find(textsAfter[i]);
        if (found == ticksByText.end()) continue;
        const std::size_t occurrence = seen[textsAfter[i]]++;
        ticks[i] = occurrence < found->second.size() && found->second[occurrence];
    }
    return ticks;
}

}  // namespace trenn
