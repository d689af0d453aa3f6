#include "qt/picture_box.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>

#include "qt/paint_primitives.h"

namespace trenn {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    resize(picture::kOuterWidth, picture::kOuterHeight);
    setFocusPolicy(Qt::StrongFocus);
    // Moves without a button arrive too; the handler decides what they mean.
    setMouseTracking(true);
    // paintEvent covers every pixel: no background fill before it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The screen's scale as a whole number, so that every pen stays a whole number of pixels.
    pixelScale_ = std::max(1, qRound(devicePixelRatioF()));
    image_ = QImage(InnerRect().size() * pixelScale_, QImage::Format_RGB32);
    image_.setDevicePixelRatio(pixelScale_);
    image_.fill(BackColor());
}

QRect PictureBox::InnerRect() const {
    return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
}

void PictureBox::Scale(float x1, float y1, float x2, float y2) {
    mapping_ = ViewMapping::FromScale(x1, y1, x2, y2, InnerRect().width(), InnerRect().height());
}

ViewMapping PictureBox::ImageMapping() const {
    ViewMapping scaled = mapping_;
    scaled.scaleX *= pixelScale_;
    scaled.offsetX *= pixelScale_;
    scaled.scaleY *= pixelScale_;
    scaled.offsetY *= pixelScale_;
    return scaled;
}

QColor PictureBox::BackColor() const { return palette().color(QPalette::Base); }

QColor PictureBox::ColourFromBgr(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

void PictureBox::Cls() {
    image_.fill(BackColor());
    ImageChanged();
}

void PictureBox::SetDrawWidth(int width) { drawWidth_ = width < 1 ? 1 : width; }

void PictureBox::SetForeColor(std::uint32_t colour) { foreColor_ = colour & 0x00FFFFFFu; }

void PictureBox::PSet(float x, float y) {
    QPainter painter(&image_);
    PaintDot(painter, QPointF(mapping_.PixelX(x), mapping_.PixelY(y)), drawWidth_, Pen());
    ImageChanged();
}

void PictureBox::Line(float x1, float y1, float x2, float y2) {
    QPainter painter(&image_);
    PaintLine(painter, QPointF(mapping_.PixelX(x1), mapping_.PixelY(y1)),
              QPointF(mapping_.PixelX(x2), mapping_.PixelY(y2)), drawWidth_, Pen());
    ImageChanged();
}

void PictureBox::ImageChanged() { update(InnerRect()); }

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(InnerRect().topLeft(), image_);
    if (hasFocus()) {
        // The keys go here: the border, never the picture, shows it in the highlight colour.
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        const QRect outer = rect();
        const QRect inner = InnerRect();
        painter.drawRect(outer.left(), outer.top(), outer.width(), inner.top() - outer.top());
        painter.drawRect(outer.left(), inner.bottom() + 1, outer.width(), outer.bottom() - inner.bottom());
        painter.drawRect(outer.left(), inner.top(), inner.left() - outer.left(), inner.height());
        painter.drawRect(inner.right() + 1, inner.top(), outer.right() - inner.right(), inner.height());
    } else {
        qDrawWinPanel(&painter, rect(), palette(), /*sunken=*/true);
    }
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize pixels = InnerRect().size().expandedTo(QSize(1, 1)) * pixelScale_;
    if (pixels == image_.size()) return;
    image_ = QImage(pixels, QImage::Format_RGB32);
    image_.setDevicePixelRatio(pixelScale_);
    image_.fill(BackColor());
    emit Resized();
}

void PictureBox::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void PictureBox::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

QPointF PictureBox::ToUser(QPointF widgetPos) const {
    return QPointF(mapping_.UserX(widgetPos.x() - kBorder), mapping_.UserY(widgetPos.y() - kBorder));
}

void PictureBox::keyPressEvent(QKeyEvent* event) {
    // Tab never gets here (QWidget::event moves the focus first); every other key is ours,
    // arrows included, so nothing passes it on to move the focus.
    event->accept();
    keyModifiers_ = event->modifiers();
    emit KeyDown(WindowsKeyCode(*event));
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    pressModifiers_ = event->modifiers();
    const QPointF user = ToUser(event->position());
    emit MouseDown(static_cast<float>(user.x()), static_cast<float>(user.y()));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    const QPointF user = ToUser(event->position());
    emit MouseMove(static_cast<float>(user.x()), static_cast<float>(user.y()));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF user = ToUser(event->position());
    emit MouseUp(static_cast<float>(user.x()), static_cast<float>(user.y()));
}

void PictureBox::wheelEvent(QWheelEvent* event) {
    event->accept();
    // A notch is 120 eighths of a degree; touchpads send it in smaller steps.
    wheelAngle_ += event->angleDelta().y();
    const int notches = wheelAngle_ / 120;
    if (notches == 0) return;
    wheelAngle_ -= notches * 120;
    const QPointF user = ToUser(event->position());
    emit Wheel(notches, static_cast<float>(user.x()), static_cast<float>(user.y()));
}

int WindowsKeyCode(const QKeyEvent& event) {
    const int key = event.key();
    if (event.modifiers() & Qt::KeypadModifier) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9) return 0x60 + (key - Qt::Key_0);
        switch (key) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period:
        case Qt::Key_Comma: return 0x6E;
        case Qt::Key_Slash: return 0x6F;
        default: break;  // keypad navigation keys share the main block's codes
        }
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;  // Qt reports letters upper case
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Printer: return 0x2A;
    case Qt::Key_Execute: return 0x2B;
    case Qt::Key_Print: return 0x2C;  // Print Screen
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return 0x5B;
    case Qt::Key_Super_R: return 0x5C;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Sleep: return 0x5F;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // Shifted digits and punctuation give the code of their key (US layout).
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    default: return kUnmappedKeyCode;
    }
}

}  // namespace trenn
