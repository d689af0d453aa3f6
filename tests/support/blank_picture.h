#pragma once

#include <QImage>

#include "qt/picture_box.h"

namespace trenn {

// Whether the picture holds nothing but its background.
inline bool IsBlank(const PictureBox& picture) {
    const QImage& image = picture.Image();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != picture.BackColor().rgb()) return false;
        }
    }
    return true;
}

}  // namespace trenn
