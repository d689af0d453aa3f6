#include "app/loaded_model.h"

#include "app/picture_geometry.h"
#include "runtime/load_failure.h"

namespace trenn {

std::string LoadedModel::SymbolName(std::size_t k) const {
    if (k >= parts.size() || parts[k].symbol < 0) return {};
    const auto symbol = static_cast<std::size_t>(parts[k].symbol);
    return symbol < symbols.size() ? symbols[symbol].name : std::string();
}

void ModelRecorder::AddPartItem(const std::string& text) {
    model_.listTexts.push_back(text);
    model_.itemData.push_back(0);
    if (window_) window_->AddPartItem(text);
}

std::int32_t ModelRecorder::PartListNewIndex() const {
    return static_cast<std::int32_t>(model_.listTexts.size()) - 1;
}

void ModelRecorder::SetPartItemData(std::int32_t index, std::int32_t data) {
    if (index < 0 || static_cast<std::size_t>(index) >= model_.itemData.size()) {
        Fail("lstParts: no item " + std::to_string(index) + " to take item data");
    }
    model_.itemData[static_cast<std::size_t>(index)] = data;
    if (window_) window_->SetPartItemData(index, data);
}

float ModelRecorder::PictureWidth() const { return window_ ? window_->PictureWidth() : picture::kWidthTwips; }

float ModelRecorder::PictureHeight() const { return window_ ? window_->PictureHeight() : picture::kHeightTwips; }

void ModelRecorder::ScalePicture(float x1, float y1, float x2, float y2) {
    model_.startScale = {x1, y1, x2, y2};
    if (window_) window_->ScalePicture(x1, y1, x2, y2);
}

void ModelRecorder::ShowWindow() {
    if (window_) window_->ShowWindow();
}

}  // namespace trenn
