#pragma once

namespace trenn {

// Maps the picture area's user coordinates onto pixel coordinates of the area inside its
// border: pixel (i, j) covers [i, i + 1) x [j, j + 1). Scale (x1, y1)-(x2, y2) puts (x1, y1)
// on the top-left corner and (x2, y2) on the bottom-right corner of that area.
struct ViewMapping {
    double scaleX = 1.0 / 15.0;  // until Scale is called: twips, 15 to the pixel
    double offsetX = 0.0;
    double scaleY = 1.0 / 15.0;
    double offsetY = 0.0;
    double userLeft = 0.0;  // what a pixel maps back to on an axis of no size
    double userTop = 0.0;

    // An axis of no size (x1 == x2 or y1 == y2) maps every point to the middle of the area.
    // Scale passes single-precision corners; a zoomed view passes its own in double.
    static ViewMapping FromScale(double x1, double y1, double x2, double y2, int innerWidth,
                                 int innerHeight) {
        ViewMapping m;
        m.userLeft = x1;
        m.userTop = y1;
        if (x2 == x1) {
            m.scaleX = 0.0;
            m.offsetX = innerWidth / 2.0;
        } else {
            m.scaleX = innerWidth / (x2 - x1);
            m.offsetX = -x1 * m.scaleX;
        }
        if (y2 == y1) {
            m.scaleY = 0.0;
            m.offsetY = innerHeight / 2.0;
        } else {
            m.scaleY = innerHeight / (y2 - y1);
            m.offsetY = -y1 * m.scaleY;
        }
        return m;
    }

    double PixelX(double x) const { return x * scaleX + offsetX; }
    double PixelY(double y) const { return y * scaleY + offsetY; }
    double UserX(double px) const { return scaleX == 0.0 ? userLeft : (px - offsetX) / scaleX; }
    double UserY(double py) const { return scaleY == 0.0 ? userTop : (py - offsetY) / scaleY; }
};

}  // namespace trenn
