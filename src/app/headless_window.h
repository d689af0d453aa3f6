#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/picture_geometry.h"
#include "app/viewer_window.h"

namespace trenn {

// The viewer window as loading sees it, without a screen: it records the list entries, the
// picture area's scale and whether it was shown. trenn-inspect, the fuzz targets, the
// benchmark and the tests load into it.
class HeadlessWindow : public ViewerWindow {
public:
    struct Item {
        std::string text;
        std::int32_t data = -1;
    };
    std::vector<Item> items;
    float width = picture::kWidthTwips;
    float height = picture::kHeightTwips;
    float scale[4] = {0, 0, 0, 0};
    int scaled = 0;  // times ScalePicture was called
    bool shown = false;

    void AddPartItem(const std::string& text) override { items.push_back({text}); }
    std::int32_t PartListNewIndex() const override { return static_cast<std::int32_t>(items.size()) - 1; }
    void SetPartItemData(std::int32_t index, std::int32_t data) override {
        items.at(static_cast<std::size_t>(index)).data = data;
    }
    float PictureWidth() const override { return width; }
    float PictureHeight() const override { return height; }
    void ScalePicture(float x1, float y1, float x2, float y2) override {
        scale[0] = x1;
        scale[1] = y1;
        scale[2] = x2;
        scale[3] = y2;
        ++scaled;
    }
    void ShowWindow() override { shown = true; }
};

}  // namespace trenn
