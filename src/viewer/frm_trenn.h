#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

#include "app/viewer_window.h"

class QCheckBox;
class QLabel;

namespace trenn {

class PartList;
class PictureBox;

// A check box's Value: 0 unchecked, 1 checked, 2 grayed.
int CheckBoxValue(const QCheckBox& box);

// frmTrenn, the viewer window. Creating it loads it hidden, with every control in place;
// the window has no behaviour of its own beyond the event handlers below.
class FrmTrenn : public QWidget, public ViewerWindow {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 536;
    static constexpr int kClientHeight = 358;

    // No parent: the window has no owner.
    FrmTrenn();
    ~FrmTrenn() override;

    // ViewerWindow, used by loading.
    void AddPartItem(const std::string& text) override;
    std::int32_t PartListNewIndex() const override;
    void SetPartItemData(std::int32_t index, std::int32_t value) override;
    float PictureWidth() const override;
    float PictureHeight() const override;
    void ScalePicture(float x1, float y1, float x2, float y2) override;
    // Not modal; centred on the screen the first time.
    void ShowWindow() override;

    QWidget* picParts() const { return picParts_; }
    PartList* lstParts() const { return lstParts_; }
    PictureBox* picShow() const { return picShow_; }
    QCheckBox* chkHorizonal() const { return chkHorizonal_; }
    QCheckBox* chkVertical() const { return chkVertical_; }
    QLabel* lblInfo(int index) const { return lblInfo_.at(static_cast<std::size_t>(index)); }
    int chkHorizonalValue() const;
    int chkVerticalValue() const;

protected slots:
    // Event handlers, connected in the constructor. Virtual so that the tests can watch the
    // wiring.
    virtual void picShow_KeyDown(int keyCode);
    virtual void picShow_MouseDown(float x, float y);
    virtual void picShow_MouseMove(float x, float y);
    virtual void picShow_MouseUp(float x, float y);
    virtual void lstParts_ItemCheck(int index);

private:
    void CentreOnScreen();

    QWidget* picParts_ = nullptr;
    PartList* lstParts_ = nullptr;
    PictureBox* picShow_ = nullptr;
    QCheckBox* chkHorizonal_ = nullptr;
    QCheckBox* chkVertical_ = nullptr;
    std::array<QLabel*, 2> lblInfo_{};
    bool placed_ = false;
};

}  // namespace trenn
