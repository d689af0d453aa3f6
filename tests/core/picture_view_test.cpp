#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/picture_geometry.h"
#include "model/extent.h"
#include "render/picture_view.h"
#include "render/view_mapping.h"

using namespace trenn;

namespace {

ViewMapping MappingOf(const PictureView& view) {
    const std::array<double, 4> c = view.Corners();
    return ViewMapping::FromScale(c[0], c[1], c[2], c[3], picture::kInnerWidth, picture::kInnerHeight);
}

// Where a model point lands in the picture, in pixels.
std::array<double, 2> PixelOf(const PictureView& view, double x, double y) {
    const ViewMapping m = MappingOf(view);
    return {m.PixelX(x), m.PixelY(y)};
}

}  // namespace

// Zooming keeps the point under the cursor in its place, whole notches in and out come back
// to the same zoom, the limits hold, and Home gives back the start corners bit for bit.
TEST(PictureView, ZoomAboutAPointAndBack) {
    PictureView view;
    view.SetStart(-7.0f, 6.14f, 7.0f, -6.14f);
    const std::array<double, 4> start = view.Corners();
    EXPECT_EQ(start, (std::array<double, 4>{-7.0f, 6.14f, 7.0f, -6.14f}));

    const std::array<double, 2> before = PixelOf(view, 3.5, -1.25);
    view.ZoomAbout(3, 3.5, -1.25);
    EXPECT_DOUBLE_EQ(view.Zoom(), 1.25 * 1.25 * 1.25);
    const std::array<double, 2> after = PixelOf(view, 3.5, -1.25);
    EXPECT_NEAR(after[0], before[0], 1e-9);
    EXPECT_NEAR(after[1], before[1], 1e-9);
    view.ZoomAbout(-3, 0.0, 0.0);
    EXPECT_EQ(view.Zoom(), 1.0);

    view.Home();
    for (int i = 0; i < 5; ++i) view.ZoomAboutCentre(1);
    for (int i = 0; i < 5; ++i) view.ZoomAboutCentre(-1);
    EXPECT_EQ(view.Corners(), start) << "in and out about the centre";

    for (int i = 0; i < 100; ++i) view.ZoomAboutCentre(1);
    EXPECT_LE(view.Zoom(), PictureView::kMaxZoom);
    EXPECT_GT(view.Zoom(), PictureView::kMaxZoom / 1.25);
    for (int i = 0; i < 200; ++i) view.ZoomAboutCentre(-1);
    EXPECT_GE(view.Zoom(), PictureView::kMinZoom);
    EXPECT_LT(view.Zoom(), PictureView::kMinZoom * 1.25);

    view.ZoomAbout(4, 6.0, 5.0);
    view.Home();
    EXPECT_EQ(view.Corners(), start);
}

// Fit puts the box in the middle with 5% to spare on its tighter axis.
TEST(PictureView, FitCentresTheBoxWithAMargin) {
    struct Case {
        std::array<double, 4> box;  // minX, minY, maxX, maxY
        double zoom, centreX, centreY;
    };
    const Case cases[] = {
        {{-1, -1, 1, 1}, 1.0 / 1.1 * (6.14f / 1.0), 0, 0},  // taller than the picture's shape
        {{2, 0, 4, 0.5}, 7.0 / 1.1, 3, 0.25},               // wider
        {{5, 5, 5, 5}, 1.0, 5, 5},                           // a point: centred, zoom kept
    };
    for (const Case& c : cases) {
        PictureView view;
        view.SetStart(-7.0f, 6.14f, 7.0f, -6.14f);
        view.Fit(c.box[0], c.box[1], c.box[2], c.box[3]);
        EXPECT_NEAR(view.Zoom(), std::min(c.zoom, PictureView::kMaxZoom), 1e-6);
        EXPECT_DOUBLE_EQ(view.CentreX(), c.centreX);
        EXPECT_DOUBLE_EQ(view.CentreY(), c.centreY);
    }
}

// The box of the checked parts as turned: unchecked parts and faulting vertices are left out.
TEST(PictureView, TurnedBoxOfTheCheckedParts) {
    const auto part = [](std::vector<std::array<float, 3>> points) {
        std::vector<MeshVertex> records;
        for (const auto& p : points) {
            MeshVertex v;
            v.x = p[0];
            v.y = p[1];
            v.z = p[2];
            records.push_back(v);
        }
        MeshPart m;
        m.vertices = VertexList(records);
        return m;
    };
    const std::vector<MeshPart> parts = {part({{1, 2, 3}, {-1, 0, 9}}), part({{50, 50, 50}}),
                                         part({{3e38f, 3e38f, 3e38f}, {0, -4, 0}})};
    std::array<double, 4> box{};
    ASSERT_TRUE(TurnedBox(parts, {true, false, true}, 0.0f, 0.0f, box));
    EXPECT_EQ(box, (std::array<double, 4>{-1, -4, 3e38f, 3e38f}));
    // A quarter turn about the vertical axis: x becomes -z.
    const float quarter = static_cast<float>(std::acos(0.0));
    ASSERT_TRUE(TurnedBox(parts, {true, false, false}, quarter, 0.0f, box));
    EXPECT_NEAR(box[0], -9.0, 1e-5);
    EXPECT_NEAR(box[2], -3.0, 1e-5);
    EXPECT_FALSE(TurnedBox(parts, {false, false, false}, 0.0f, 0.0f, box));
}

// A picture of any size shows, in the largest box of the start picture's proportions that fits
// in it, centred, what the start picture shows: the start corners land on that box's corners,
// and zoom and centre work on it as on the start picture. At the start size and view the
// mapping is the start corners' own, bit for bit.
TEST(PictureView, EverySizeFramesTheStartPicture) {
    const struct {
        int width, height;
        double frameWidth, frameHeight;
    } sizes[] = {
        {395, 346, 395, 346},
        {800, 600, 600.0 * 395 / 346, 600},  // wider: as tall as the picture
        {395, 800, 395, 346},                // taller: as wide
        {1600, 1000, 1000.0 * 395 / 346, 1000},
        {16, 16, 16, 16.0 * 346 / 395},
    };
    PictureView view;
    view.SetStart(-7.0f, 6.131646f, 7.0f, -6.131646f);
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        view.Home();
        const ViewMapping m = view.Mapping(s.width, s.height);
        const double left = (s.width - s.frameWidth) / 2, top = (s.height - s.frameHeight) / 2;
        EXPECT_NEAR(m.PixelX(-7.0f), left, 1e-9);
        EXPECT_NEAR(m.PixelX(7.0f), left + s.frameWidth, 1e-9);
        EXPECT_NEAR(m.PixelY(6.131646f), top, 1e-9);
        EXPECT_NEAR(m.PixelY(-6.131646f), top + s.frameHeight, 1e-9);
        // Zoomed about a point, the point stays where it was in the picture.
        const double before = m.PixelX(3.0);
        view.ZoomAbout(4, 3.0, -1.0);
        const ViewMapping zoomed = view.Mapping(s.width, s.height);
        EXPECT_NEAR(zoomed.PixelX(3.0), before, 1e-9);
        EXPECT_NEAR(zoomed.PixelX(3.0 + 1.0) - zoomed.PixelX(3.0), std::pow(1.25, 4) * s.frameWidth / 14.0, 1e-9);
    }
    view.Home();
    const ViewMapping start = view.Mapping(395, 346);
    const ViewMapping corners = ViewMapping::FromScale(-7.0f, 6.131646f, 7.0f, -6.131646f, 395, 346);
    EXPECT_EQ(start.scaleX, corners.scaleX);
    EXPECT_EQ(start.offsetX, corners.offsetX);
    EXPECT_EQ(start.scaleY, corners.scaleY);
    EXPECT_EQ(start.offsetY, corners.offsetY);
}
