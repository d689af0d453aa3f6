#pragma once

#include <QIcon>

namespace trenn {

// The program's icon, with images of 16, 32, 48, 64, 128 and 256 pixels.
QIcon TrennIcon();

}  // namespace trenn
