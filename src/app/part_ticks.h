#pragma once

#include <string>
#include <vector>

namespace trenn {

// The check marks of a list loaded again: an entry is ticked when an entry of the same text
// was ticked before. Entries that share a text are matched in order, the second of a text
// taking the mark of the second before, so that of two parts named alike only the one that
// was ticked is ticked again.
std::vector<bool> TicksCarriedOver(const std::vector<std::string>& textsBefore,
                                   const std::vector<bool>& ticksBefore,
                                   const std::vector<std::string>& textsAfter);

}  // namespace trenn
