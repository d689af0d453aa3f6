#include "inspect/png_writer.h"

#include <QFile>
#include <QImage>

namespace trenn {

bool CanWritePng() { return true; }

bool WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
              int height) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        return false;
    }
    // Wraps the buffer without copying; RGB32 is the format the viewer's picture area uses.
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), width, height,
                       static_cast<qsizetype>(width) * 4, QImage::Format_RGB32);
    return image.save(QFile::decodeName(path.c_str()), "PNG");
}

}  // namespace trenn
