#pragma once

#include <array>
#include <utility>

#include "render/view_mapping.h"

namespace trenn {

// What part of the model the picture shows: the start view that loading fits to the model (the
// corners it gives Scale), zoomed about a point and moved. The zoom is a base factor (1 at the
// start, set by Fit or by hand) times 1.25 to a whole number of notches, so that zooming in
// and out again returns exactly; it stays within about x1/16 and x4096.
class PictureView {
public:
    static constexpr double kNotch = 1.25;
    static constexpr double kMinZoom = 1.0 / 16.0;
    static constexpr double kMaxZoom = 4096.0;
    // The picture's size at the start: what loading fits the model to.
    static constexpr int kStartWidth = 395;
    static constexpr int kStartHeight = 346;

    // The start view: the corners loading gave the picture area, (x1, y1) at the top left.
    void SetStart(float x1, float y1, float x2, float y2);
    // Back to the start view, zoom and centre included.
    void Home();
    bool AtStart() const {
        return base_ == 1.0 && notches_ == 0 && centreX_ == StartCentreX() && centreY_ == StartCentreY();
    }

    // Zooms by whole notches (positive: closer) about the point (x, y) of the model, which stays
    // where it is in the picture. Past the limits nothing changes; false then.
    bool ZoomAbout(int notches, double x, double y);
    bool ZoomAboutCentre(int notches) { return ZoomAbout(notches, centreX_, centreY_); }
    // The zoom and centre of another view, over this one's start view: a model loaded again
    // is shown as the one before it was.
    void KeepZoomOf(const PictureView& other);
    // A zoom factor and centre set by hand (trenn-inspect --zoom and --center).
    void Set(double zoom, double centreX, double centreY);
    // Fits the box [minX, maxX] x [minY, maxY] of model coordinates into the whole of a
    // picture of width x height pixels, centred, with a margin of 5% each side. A box of no
    // size keeps the zoom and only centres it.
    void Fit(double minX, double minY, double maxX, double maxY, int width = kStartWidth,
             int height = kStartHeight);
    // Moves the view by (dx, dy) in model coordinates: the model moves the other way.
    void MoveBy(double dx, double dy);

    double Zoom() const;
    double CentreX() const { return centreX_; }
    double CentreY() const { return centreY_; }
    // The corners to scale the picture area to: exactly the start corners at the start view.
    std::array<double, 4> Corners() const;

    // The mapping of a picture of any size: the largest box of the start picture's proportions
    // that fits in it, centred, shows what the start picture would show, and the rest of the
    // picture shows more of the model around it. At the start size and view it is exactly the
    // mapping of the start corners.
    ViewMapping Mapping(int width, int height) const;

    // The frame of a picture: the largest box of the start picture's proportions that fits
    // in it, as wide as the picture where that leaves it tall enough, else as tall.
    static std::pair<double, double> FrameSize(int width, int height);

private:
    double ZoomWith(int notches) const;
    double StartCentreX() const { return (static_cast<double>(start_[0]) + start_[2]) / 2.0; }
    double StartCentreY() const { return (static_cast<double>(start_[1]) + start_[3]) / 2.0; }

    std::array<float, 4> start_{0, 0, 0, 0};
    double base_ = 1.0;
    int notches_ = 0;
    double centreX_ = 0.0;
    double centreY_ = 0.0;
};

}  // namespace trenn
