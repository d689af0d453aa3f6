#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <cstdint>

#include "app/picture_geometry.h"
#include "render/view_mapping.h"

class QKeyEvent;

namespace trenn {

// picShow: a drawing area that keeps what is drawn into it. Drawing goes into a retained
// image, which paintEvent only copies to the screen; nothing is drawn in answer to a repaint.
// All drawing and all mouse positions are in the user coordinates set by Scale.
class PictureBox : public QWidget {
    Q_OBJECT

public:
    static constexpr int kBorder = picture::kBorder;  // the single sunken border, each side
    static constexpr int kTwipsPerPixel = picture::kTwipsPerPixel;

    explicit PictureBox(QWidget* parent = nullptr);

    // Outer size, border included, in twips.
    float Width() const { return static_cast<float>(width() * kTwipsPerPixel); }
    float Height() const { return static_cast<float>(height() * kTwipsPerPixel); }

    // (x1, y1) becomes the inner top-left corner, (x2, y2) the inner bottom-right corner.
    void Scale(float x1, float y1, float x2, float y2);
    // A mapping of the view's own (zoomed and moved), in widget units of the inner area.
    void SetMapping(const ViewMapping& mapping) { mapping_ = mapping; }
    // User coordinates to pixels of the inner area, in the widget's own units.
    const ViewMapping& Mapping() const { return mapping_; }
    // Image pixels per widget unit: 2 on a screen scaled by two, where the retained image has
    // twice the pixels each way so that the picture stays sharp.
    int PixelScale() const { return pixelScale_; }
    // User coordinates to pixels of the retained image.
    ViewMapping ImageMapping() const;

    // Clears the whole image to the background colour.
    void Cls();
    // Width in pixels of dots and lines; values below 1 count as 1.
    void SetDrawWidth(int width);
    int DrawWidth() const { return drawWidth_; }
    // Colour as 0x00BBGGRR: red in the low byte. The high byte is ignored.
    void SetForeColor(std::uint32_t colour);
    std::uint32_t ForeColor() const { return foreColor_; }
    QColor BackColor() const;

    // One dot, DrawWidth pixels square, centred on the point.
    void PSet(float x, float y);
    // A line from (x1, y1) to (x2, y2), DrawWidth pixels wide.
    void Line(float x1, float y1, float x2, float y2);

    // The modifier keys held at the last button press and at the last key press.
    Qt::KeyboardModifiers PressModifiers() const { return pressModifiers_; }
    Qt::KeyboardModifiers KeyModifiers() const { return keyModifiers_; }

    // Direct access for fast drawing: the retained image (inner area, pixel coordinates of
    // ImageMapping(); dots and lines there are PixelScale() times as wide). Call ImageChanged() after drawing into it to have it shown.
    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }
    void ImageChanged();
    // Where the image lies inside the widget.
    QRect InnerRect() const;

    static QColor ColourFromBgr(std::uint32_t colour);

signals:
    // Every key press while the area has the focus, auto-repeats included; Windows key codes.
    void KeyDown(int keyCode);
    // Any mouse button; positions in user coordinates.
    void MouseDown(float x, float y);
    // Every pointer move over the area, with or without a button held.
    void MouseMove(float x, float y);
    void MouseUp(float x, float y);
    // The wheel turned by whole notches (positive away from the user) over the point (x, y).
    void Wheel(int notches, float x, float y);
    // The area changed its size: the image has the new size and is blank.
    void Resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor Pen() const { return ColourFromBgr(foreColor_); }
    QPointF ToUser(QPointF widgetPos) const;

    int pixelScale_ = 1;
    QImage image_;
    ViewMapping mapping_;
    int drawWidth_ = 1;
    int wheelAngle_ = 0;  // eighths of a degree not yet making a whole notch
    Qt::KeyboardModifiers pressModifiers_;
    Qt::KeyboardModifiers keyModifiers_;
    std::uint32_t foreColor_ = 0;  // black
};

// The Windows virtual-key code of a key press. Modifiers do not change the code, except that
// keypad digits and operators have codes of their own. Keys without a Windows counterpart all
// give kUnmappedKeyCode.
inline constexpr int kUnmappedKeyCode = 0xFF;
int WindowsKeyCode(const QKeyEvent& event);

}  // namespace trenn
