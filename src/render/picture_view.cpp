#include "render/picture_view.h"

#include <algorithm>
#include <cmath>
#include <limits>


namespace trenn {

void PictureView::SetStart(float x1, float y1, float x2, float y2) {
    start_ = {x1, y1, x2, y2};
    Home();
}

void PictureView::Home() {
    base_ = 1.0;
    notches_ = 0;
    centreX_ = StartCentreX();
    centreY_ = StartCentreY();
}

double PictureView::ZoomWith(int notches) const { return base_ * std::pow(kNotch, notches); }

double PictureView::Zoom() const { return ZoomWith(notches_); }

bool PictureView::ZoomAbout(int notches, double x, double y) {
    const double before = Zoom();
    const double after = ZoomWith(notches_ + notches);
    if (notches == 0 || after < kMinZoom || after > kMaxZoom || !std::isfinite(x) || !std::isfinite(y)) {
        return false;
    }
    notches_ += notches;
    // The point keeps its place: its distance from the centre shrinks with the zoom.
    centreX_ = x + (centreX_ - x) * (before / after);
    centreY_ = y + (centreY_ - y) * (before / after);
    return true;
}

void PictureView::KeepZoomOf(const PictureView& other) {
    if (other.AtStart()) {
        Home();
        return;
    }
    base_ = other.base_;
    notches_ = other.notches_;
    centreX_ = other.centreX_;
    centreY_ = other.centreY_;
}

void PictureView::Set(double zoom, double centreX, double centreY) {
    base_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    notches_ = 0;
    centreX_ = centreX;
    centreY_ = centreY;
}

void PictureView::Fit(double minX, double minY, double maxX, double maxY, int width, int height) {
    // How much more than the start frame the picture shows each way.
    const auto [frameWidth, frameHeight] = FrameSize(width, height);
    const double halfWidth = (static_cast<double>(start_[2]) - start_[0]) / 2.0 * (width / frameWidth);
    const double halfHeight = (static_cast<double>(start_[1]) - start_[3]) / 2.0 * (height / frameHeight);
    const double needX = (maxX - minX) / 2.0 * 1.1;
    const double needY = (maxY - minY) / 2.0 * 1.1;
    double zoom = Zoom();
    if (halfWidth > 0.0 && halfHeight > 0.0 && (needX > 0.0 || needY > 0.0)) {
        zoom = std::numeric_limits<double>::infinity();
        if (needX > 0.0) zoom = std::min(zoom, halfWidth / needX);
        if (needY > 0.0) zoom = std::min(zoom, halfHeight / needY);
    }
    Set(zoom, (minX + maxX) / 2.0, (minY + maxY) / 2.0);
}

void PictureView::MoveBy(double dx, double dy) {
    if (!std::isfinite(centreX_ + dx) || !std::isfinite(centreY_ + dy)) return;
    centreX_ += dx;
    centreY_ += dy;
}

std::pair<double, double> PictureView::FrameSize(int width, int height) {
    return {std::min<double>(width, static_cast<double>(height) * kStartWidth / kStartHeight),
            std::min<double>(height, static_cast<double>(width) * kStartHeight / kStartWidth)};
}

std::array<double, 4> PictureView::Corners() const {
    if (AtStart()) return {start_[0], start_[1], start_[2], start_[3]};
    const double zoom = Zoom();
    const double halfWidth = (static_cast<double>(start_[2]) - start_[0]) / 2.0 / zoom;
    const double halfHeight = (static_cast<double>(start_[1]) - start_[3]) / 2.0 / zoom;
    return {centreX_ - halfWidth, centreY_ + halfHeight, centreX_ + halfWidth, centreY_ - halfHeight};
}

ViewMapping PictureView::Mapping(int width, int height) const {
    if (AtStart() && width == kStartWidth && height == kStartHeight) {
        return ViewMapping::FromScale(start_[0], start_[1], start_[2], start_[3], width, height);
    }
    const auto [frameWidth, frameHeight] = FrameSize(width, height);
    const double zoom = Zoom();
    const double spanX = (static_cast<double>(start_[2]) - start_[0]) / zoom;
    const double spanY = (static_cast<double>(start_[3]) - start_[1]) / zoom;
    // From the centre and the scale, never from corners: far from the origin, corners a
    // little apart round to one value and the picture would lose its width.
    ViewMapping m;
    m.userLeft = centreX_;
    m.userTop = centreY_;
    m.scaleX = spanX == 0.0 ? 0.0 : frameWidth / spanX;
    m.scaleY = spanY == 0.0 ? 0.0 : frameHeight / spanY;
    m.offsetX = width / 2.0 - (m.scaleX == 0.0 ? 0.0 : centreX_ * m.scaleX);
    m.offsetY = height / 2.0 - (m.scaleY == 0.0 ? 0.0 : centreY_ * m.scaleY);
    return m;
}

}  // namespace trenn
