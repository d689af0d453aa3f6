#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/loaded_model.h"
#include "app/viewer_window.h"
#include "render/picture_view.h"
#include "runtime/bool16.h"

class QCheckBox;
class QLabel;
class QMessageBox;
class QResizeEvent;

namespace trenn {

class PartList;
class PictureBox;
class Renderer;
class ShadedRenderer;
class WireframeRenderer;

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

    // The model that start-up loaded into the window: what the picture and the list's details
    // show from now on.
    void ShowModel(const LoadedModel& model);
    // Shows a model that a later load gave, with its list and scale. With keepView the view
    // angles stay, the entries whose text was ticked are ticked again, and the picture is
    // drawn; otherwise the window is as a first load leaves it: the start view, nothing
    // ticked, the picture blank.
    void ReplaceModel(const LoadedModel& model, bool keepView);
    // Drops what the redraw keeps for the model shown, before another is loaded beside it;
    // the next redraw works out what it needs again.
    void ReleaseDrawingWork();
    // The model shown: list position k shows parts[k].
    const LoadedModel& Model() const { return model_; }

    QWidget* picParts() const { return picParts_; }
    PartList* lstParts() const { return lstParts_; }
    PictureBox* picShow() const { return picShow_; }
    QCheckBox* chkHorizonal() const { return chkHorizonal_; }
    QCheckBox* chkVertical() const { return chkVertical_; }
    QLabel* lblInfo(int index) const { return lblInfo_.at(static_cast<std::size_t>(index)); }
    int chkHorizonalValue() const;
    int chkVerticalValue() const;

    // The view angles (radians) and the drag state.
    float Yaw() const { return m_yaw; }
    float Pitch() const { return m_pitch; }
    Bool16 Dragging() const { return m_dragging; }
    // How many times the picture has been drawn since the window was created.
    int RedrawCount() const { return redrawCount_; }
    // Threads the redraw may use; large models share the work when this is above 1.
    void SetDrawThreads(int threads);
    // Whether the picture shows the parts' surfaces (S) and, on them, the visible edges (E).
    bool Shaded() const { return shadedShown_; }
    bool EdgesShown() const { return edges_; }
    // What part of the model the picture shows (zoom and centre).
    const PictureView& View() const { return view_; }
    // The keys and drags the picture understands, as F1 shows them.
    static QString KeysHelp();
    // The picture's tooltip: one line that points to F1.
    static QString PictureToolTip();

protected slots:
    // Event handlers, connected in the constructor. Virtual so that the tests can watch the
    // wiring.
    virtual void picShow_KeyDown(int keyCode);
    virtual void picShow_MouseDown(float x, float y);
    virtual void picShow_MouseMove(float x, float y);
    virtual void picShow_MouseUp(float x, float y);
    virtual void lstParts_ItemCheck(int index);
    // The wheel zooms about the point under the pointer, a notch at a time.
    virtual void picShow_Wheel(int notches, float x, float y);
    // Tick all or clear all from the list's menu: one redraw.
    virtual void lstParts_AllChecked(bool checked);
    // The picture area took a new size: the same view on it, drawn again once anything was.
    virtual void picShow_Resized();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void CentreOnScreen();
    // Clears the picture and draws every checked part: its vertex dots, then its edges.
    void DrawParts();
    // Gives the picture area the coordinates of the view.
    void ApplyView();
    // Has the redraw work out every part's needs in the background.
    void PrepareAhead();
    // The zoom keys (+ and - of the main block and the keypad), F and F1; false for others.
    bool ViewKey(int keyCode);
    // 1, 3 and 7 (main block or keypad) turn to the front, right and top; with Ctrl to the
    // back, left and bottom. False for other keys.
    bool StandardView(int keyCode);
    // S switches between the wireframe and the shaded picture, E shows or hides the shaded
    // picture's edges. False for other keys.
    bool PictureKind(int keyCode);
    // The list shows each part's colour beside its name while the shaded picture is on.
    void ShowSwatches();
    // Places the controls for the window's size: the list and the picture take what it
    // grows by, the boxes stay under the list.
    void LayOut();
    QString PartToolTip(int index) const;
    void ShowKeysHelp();
    QPoint HelpPlace(QSize box) const;

    float m_yaw = 0.0f;
    float m_pitch = 0.0f;
    Bool16 m_dragging = kFalse;
    float m_lastX = 0.0f;
    float m_lastY = 0.0f;
    bool panning_ = false;  // the drag moves the view instead of turning it
    bool shadedShown_ = false;
    bool edges_ = false;    // the shaded picture shows its visible edges
    int redrawCount_ = 0;
    PictureView view_;
    QMessageBox* help_ = nullptr;  // made on first F1, owned by the window
    LoadedModel model_;
    // The wireframe, and the shaded picture once S has asked for it; `renderer_` is the one
    // shown.
    std::unique_ptr<WireframeRenderer> wireframe_;
    std::unique_ptr<ShadedRenderer> shaded_;
    Renderer* renderer_ = nullptr;
    int drawThreads_ = 2;

    QWidget* picParts_ = nullptr;
    PartList* lstParts_ = nullptr;
    PictureBox* picShow_ = nullptr;
    QCheckBox* chkHorizonal_ = nullptr;
    QCheckBox* chkVertical_ = nullptr;
    std::array<QLabel*, 2> lblInfo_{};
    bool placed_ = false;
};

}  // namespace trenn
