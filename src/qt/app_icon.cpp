#include "qt/app_icon.h"

#include <QString>

// The icons live in trenn_ui, a static library: make sure its resources are registered
// whatever the linker keeps. Registering twice is harmless.
static void InitIconResources() { Q_INIT_RESOURCE(trenn_icons); }

namespace trenn {

QIcon TrennIcon() {
    InitIconResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/trenn_%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace trenn
