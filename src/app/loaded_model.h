#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/viewer_window.h"
#include "elf/elf_data.h"
#include "model/mesh.h"

namespace trenn {

// One loaded object file as a value: what the window, trenn-inspect and the tests show. The
// parts share their bytes with the loader's, so a copy costs little.
struct LoadedModel {
    // Entry k belongs to list position k. When the file names no part, the list is empty and
    // the one default part belongs to no entry.
    std::vector<MeshPart> parts;
    // The list entries, one per part symbol (bytes of the symbol's name, characters 20 to
    // 119), and each entry's item data.
    std::vector<std::string> listTexts;
    std::vector<std::int32_t> itemData;
    // The symbols kept from the file's symbol table.
    std::vector<SymbolEntry> symbols;
    // The corners loading gave the picture area: (x1, y1) top left, (x2, y2) bottom right.
    std::array<float, 4> startScale{0, 0, 0, 0};

    // The full name of the symbol of the part at list position k, empty when there is none.
    std::string SymbolName(std::size_t k) const;
};

// What loading tells the viewer window, noted as it goes by (and passed on to the real window
// when there is one): the list entries and the picture's scale.
class ModelRecorder : public ViewerWindow {
public:
    explicit ModelRecorder(LoadedModel& model) : model_(model) {}
    // From now on the window hears of everything too.
    void Attach(ViewerWindow& window) { window_ = &window; }

    void AddPartItem(const std::string& text) override;
    std::int32_t PartListNewIndex() const override;
    void SetPartItemData(std::int32_t index, std::int32_t data) override;
    float PictureWidth() const override;
    float PictureHeight() const override;
    void ScalePicture(float x1, float y1, float x2, float y2) override;
    void ShowWindow() override;

private:
    ViewerWindow* window_ = nullptr;
    LoadedModel& model_;
};

}  // namespace trenn
