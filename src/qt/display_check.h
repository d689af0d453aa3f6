#pragma once

#include <optional>
#include <string>

namespace trenn {

// Whether the display Qt is going to open the window on can be reached, found out before the
// QApplication exists: Qt ends the program with an abort when it cannot connect. Nothing when
// it can be reached, or when Qt is told to use a platform that needs no display (offscreen,
// say); otherwise one line that names the display tried, for the user.
std::optional<std::string> UnreachableDisplay();

}  // namespace trenn
