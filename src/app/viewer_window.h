#pragma once

#include <cstdint>
#include <string>

namespace trenn {

// What loading needs of the viewer window. The Qt window implements it; trenn-inspect has a
// headless stand-in. The window is loaded (created hidden) before anything here is called.
class ViewerWindow {
public:
    virtual ~ViewerWindow() = default;

    // lstParts: append an unchecked entry (text bytes, one character per byte).
    virtual void AddPartItem(const std::string& text) = 0;
    // lstParts.NewIndex: the position of the entry added last.
    virtual std::int32_t PartListNewIndex() const = 0;
    // lstParts.ItemData(index) = data.
    virtual void SetPartItemData(std::int32_t index, std::int32_t data) = 0;

    // picShow.Width and picShow.Height: its outer size in twips.
    virtual float PictureWidth() const = 0;
    virtual float PictureHeight() const = 0;
    // picShow.Scale (x1, y1)-(x2, y2): user coordinates of the inner top-left and
    // bottom-right corners.
    virtual void ScalePicture(float x1, float y1, float x2, float y2) = 0;

    // Shows the window, not modal and without an owner.
    virtual void ShowWindow() = 0;
};

}  // namespace trenn
