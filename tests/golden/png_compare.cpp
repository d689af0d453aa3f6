// trenn-png-compare A.png B.png: counts the pixels whose colour differs. Exit 0 when the two
// pictures have the same size and no pixel differs, 1 when they differ, 2 when one cannot be
// read.

#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: trenn-png-compare A.png B.png\n");
        return 2;
    }
    QImage images[2];
    for (int i = 0; i < 2; ++i) {
        if (!images[i].load(QString::fromLocal8Bit(argv[i + 1]))) {
            std::fprintf(stderr, "trenn-png-compare: cannot read %s\n", argv[i + 1]);
            return 2;
        }
        // Alpha plays no part: the pictures are opaque.
        images[i] = images[i].convertToFormat(QImage::Format_RGB32);
    }
    const QImage& a = images[0];
    const QImage& b = images[1];
    if (a.size() != b.size()) {
        std::printf("size differs: %dx%d against %dx%d\n", a.width(), a.height(), b.width(),
                    b.height());
        return 1;
    }
    long differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) == b.pixel(x, y)) continue;
            if (++differing <= 5) {
                std::printf("pixel (%d, %d): #%06x against #%06x\n", x, y, a.pixel(x, y) & 0xFFFFFFu,
                            b.pixel(x, y) & 0xFFFFFFu);
            }
        }
    }
    std::printf("%ld differing pixels\n", differing);
    return differing == 0 ? 0 : 1;
}
