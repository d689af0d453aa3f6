#include "inspect/png_writer.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include "runtime/binary_file.h"

namespace trenn {

bool CanWritePng() { return true; }

std::optional<std::string> WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels,
                                    int width, int height) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        return "cannot write " + path + ": the picture has no pixels";
    }
    // Wraps the buffer without copying; RGB32 is the format the viewer's picture area uses.
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), width, height,
                       static_cast<qsizetype>(width) * 4, QImage::Format_RGB32);
    // Encoded in memory first: the image writer does not report every failed write (a full
    // disk shows only when the file is closed), and the file is written and checked here.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return "cannot write " + path + ": " + writer.errorString().toStdString();
    return WriteWholeFile(path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

}  // namespace trenn
