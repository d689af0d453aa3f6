#include "qt/frm_trenn.h"

#include <QCheckBox>
#include <QFont>
#include <QImage>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <array>
#include <string>
#include <vector>

#include "app/part_ticks.h"
#include "app/picture_geometry.h"
#include "model/extent.h"
#include "model/part_summary.h"
#include "model/rotation.h"
#include "qt/app_icon.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "render/view_keys.h"
#include "render/shaded.h"
#include "render/wireframe.h"
#include "runtime/load_failure.h"
#include "runtime/text.h"

namespace trenn {

namespace {

// A label keeps its place; it grows when the platform font needs more room than the layout
// gave it, and never shrinks below that.
QLabel* MakeLabel(QWidget* parent, int index, const QString& text, QRect rect) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("lblInfo_%1").arg(index));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    const QSize hint = label->sizeHint();
    label->setGeometry(rect.x(), rect.y(), std::max(rect.width(), hint.width()),
                       std::max(rect.height(), hint.height()));
    return label;
}

// The two check boxes share a narrow panel. Where the platform's font would cut the caption
// off, the box's font steps down (not below 6 points) so the whole caption shows; the full
// text is also the tooltip.
QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, QRect rect) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    box->setChecked(true);
    box->setToolTip(text);
    QFont font = box->font();
    while (box->sizeHint().width() > rect.width() && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        box->setFont(font);
    }
    return box;
}

}  // namespace

int CheckBoxValue(const QCheckBox& box) {
    switch (box.checkState()) {
    case Qt::Unchecked: return 0;
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    }
    return 0;
}

FrmTrenn::FrmTrenn()
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      wireframe_(std::make_unique<WireframeRenderer>(2)) {
    renderer_ = wireframe_.get();
    setObjectName(QStringLiteral("frmTrenn"));
    setWindowTitle(QStringLiteral("Trenn"));
    setWindowIcon(TrennIcon());
    // It opens at the size of its layout and grows from there, never below it.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);

    picParts_ = new QWidget(this);
    picParts_->setObjectName(QStringLiteral("picParts"));
    picParts_->setGeometry(0, 0, 133, 358);
    picParts_->setBackgroundRole(QPalette::Window);
    picParts_->setAutoFillBackground(true);
    picParts_->setFocusPolicy(Qt::NoFocus);

    // Labels first, so that a label grown for a large font stays beneath the list.
    lblInfo_[0] = MakeLabel(picParts_, 0, QStringLiteral("Parts to show:"), QRect(4, 4, 67, 13));
    lblInfo_[1] = MakeLabel(picParts_, 1, QStringLiteral("Rotate:"), QRect(4, 312, 35, 13));

    lstParts_ = new PartList(picParts_);
    lstParts_->setObjectName(QStringLiteral("lstParts"));
    lstParts_->setGeometry(4, 20, 125, 289);

    picShow_ = new PictureBox(this);
    picShow_->setObjectName(QStringLiteral("picShow"));
    picShow_->setGeometry(133, 4, picture::kOuterWidth, picture::kOuterHeight);

    chkHorizonal_ = MakeCheckBox(picParts_, QStringLiteral("chkHorizonal"),
                                 QStringLiteral("Left/Right"), QRect(4, 328, 61, 25));
    chkVertical_ = MakeCheckBox(picParts_, QStringLiteral("chkVertical"),
                                QStringLiteral("Up/Down"), QRect(68, 328, 61, 25));

    setTabOrder(lstParts_, picShow_);
    setTabOrder(picShow_, chkHorizonal_);
    setTabOrder(chkHorizonal_, chkVertical_);
    // The first stop of the tab order has the focus when the window opens.
    lstParts_->setFocus();

    connect(picShow_, &PictureBox::KeyDown, this, &FrmTrenn::picShow_KeyDown);
    connect(picShow_, &PictureBox::MouseDown, this, &FrmTrenn::picShow_MouseDown);
    connect(picShow_, &PictureBox::MouseMove, this, &FrmTrenn::picShow_MouseMove);
    connect(picShow_, &PictureBox::MouseUp, this, &FrmTrenn::picShow_MouseUp);
    connect(lstParts_, &PartList::ItemCheck, this, &FrmTrenn::lstParts_ItemCheck);
    connect(lstParts_, &PartList::AllChecked, this, &FrmTrenn::lstParts_AllChecked);
    connect(picShow_, &PictureBox::Wheel, this, &FrmTrenn::picShow_Wheel);
    connect(picShow_, &PictureBox::Resized, this, &FrmTrenn::picShow_Resized);

    picShow_->setToolTip(PictureToolTip());
    lstParts_->SetToolTipSource([this](int index) { return PartToolTip(index); });
}

QString FrmTrenn::KeysHelp() {
    return QStringLiteral(
        "Click the picture, then:\n"
        "Left/Right arrow: turn about the vertical axis\n"
        "Up/Down arrow: tilt about the horizontal axis\n"
        "Drag with any button: turn (the Rotate: boxes say which ways)\n"
        "Shift+drag: move the model with the pointer\n"
        "Mouse wheel: zoom about the pointer\n"
        "+ and -: zoom about the middle\n"
        "F: fit the ticked parts into the picture\n"
        "1, 3, 7: front, right and top view; with Ctrl: back, left and bottom\n"
        "S: surfaces, each part in its own colour, or the wireframe again\n"
        "E: with surfaces shown, their visible edges in black, or none\n"
        "Home: back to the start view\n"
        "F1: this help\n"
        "\n"
        "Anywhere in the window:\n"
        "Ctrl+O: open another file (or drop one on the window)\n"
        "F5: load the file shown again\n"
        "Ctrl+E: export the ticked parts (OBJ, PLY, STL or glTF)\n"
        "Ctrl+S: save the picture as a PNG file\n"
        "Right-click the list to tick or clear all parts.");
}

QString FrmTrenn::PictureToolTip() { return QStringLiteral("Keys and mouse: press F1"); }

QString FrmTrenn::PartToolTip(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= model_.parts.size()) return {};
    const auto k = static_cast<std::size_t>(index);
    QString text;
    for (const char c : DescribePart(model_.SymbolName(k), SummarizePart(model_.parts[k]))) {
        text.append(QChar(static_cast<char16_t>(Cp1252ToCodePoint(static_cast<unsigned char>(c)))));
    }
    return text;
}

FrmTrenn::~FrmTrenn() = default;

void FrmTrenn::SetDrawThreads(int threads) {
    drawThreads_ = threads;
    wireframe_->SetThreads(threads);
    if (shaded_) shaded_->SetThreads(threads);
}

void FrmTrenn::AddPartItem(const std::string& text) {
    QString chars;
    chars.reserve(static_cast<qsizetype>(text.size()));
    for (const char byte : text) {
        // Windows-1252 stays inside the Basic Multilingual Plane: one QChar per byte.
        chars.append(QChar(static_cast<char16_t>(Cp1252ToCodePoint(static_cast<unsigned char>(byte)))));
    }
    lstParts_->AddItem(chars);
}

std::int32_t FrmTrenn::PartListNewIndex() const { return lstParts_->NewIndex(); }

void FrmTrenn::SetPartItemData(std::int32_t index, std::int32_t value) {
    if (index < 0 || index >= lstParts_->ListCount()) {
        Fail("lstParts: no item " + std::to_string(index) + " to take item data");
    }
    lstParts_->SetItemData(index, value);
}

float FrmTrenn::PictureWidth() const { return picShow_->Width(); }

float FrmTrenn::PictureHeight() const { return picShow_->Height(); }

void FrmTrenn::ScalePicture(float x1, float y1, float x2, float y2) {
    picShow_->Scale(x1, y1, x2, y2);
    view_.SetStart(x1, y1, x2, y2);
}

void FrmTrenn::ApplyView() {
    // At the start view this is exactly the mapping of the corners loading gave the picture.
    const QRect inner = picShow_->InnerRect();
    picShow_->SetMapping(view_.Mapping(inner.width(), inner.height()));
}

void FrmTrenn::ShowWindow() {
    if (!placed_) {
        CentreOnScreen();
        placed_ = true;
    }
    show();
}

void FrmTrenn::ShowModel(const LoadedModel& model) {
    wireframe_->ModelChanged();
    if (shaded_) shaded_->ModelChanged();
    model_ = model;
    PrepareAhead();
}

// While the user looks at the list, the redraw works out what every part needs, so that
// ticking them, all at once too, shows them without a wait.
void FrmTrenn::PrepareAhead() {
    Scene scene;
    scene.parts = &model_.parts;
    scene.checked.assign(static_cast<std::size_t>(lstParts_->ListCount()), true);
    wireframe_->PrepareAhead(scene);
}

void FrmTrenn::ReplaceModel(const LoadedModel& model, bool keepView) {
    const std::vector<std::string> textsBefore = model_.listTexts;
    const std::vector<bool> ticksBefore = lstParts_->Ticks();
    wireframe_->ModelChanged();
    if (shaded_) shaded_->ModelChanged();
    model_ = model;
    {
        // One redraw at the end instead of one per tick.
        const QSignalBlocker quiet(lstParts_);
        lstParts_->Clear();
        for (std::size_t i = 0; i < model_.listTexts.size(); ++i) {
            AddPartItem(model_.listTexts[i]);
            SetPartItemData(PartListNewIndex(), model_.itemData[i]);
        }
        if (keepView) {
            const std::vector<bool> ticks = TicksCarriedOver(textsBefore, ticksBefore, model_.listTexts);
            for (std::size_t i = 0; i < ticks.size(); ++i) {
                if (ticks[i]) lstParts_->SetSelected(static_cast<int>(i), true);
            }
        }
        ShowSwatches();
    }
    const PictureView before = view_;
    const std::array<float, 4>& scale = model_.startScale;
    ScalePicture(scale[0], scale[1], scale[2], scale[3]);
    if (keepView) {
        view_.KeepZoomOf(before);
        ApplyView();
        DrawParts();
    } else {
        m_yaw = 0.0f;
        m_pitch = 0.0f;
        picShow_->Cls();
    }
    PrepareAhead();
}

void FrmTrenn::ReleaseDrawingWork() {
    wireframe_->ModelChanged();
    if (shaded_) shaded_->ModelChanged();
}

void FrmTrenn::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void FrmTrenn::LayOut() {
    const int grown = std::max(0, height() - kClientHeight);
    picParts_->setGeometry(0, 0, 133, height());
    lstParts_->setGeometry(4, 20, 125, 289 + grown);
    lblInfo_[1]->move(4, 312 + grown);
    chkHorizonal_->move(4, 328 + grown);
    chkVertical_->move(68, 328 + grown);
    picShow_->setGeometry(133, 4, std::max(width(), kClientWidth) - 137, std::max(height(), kClientHeight) - 8);
}

void FrmTrenn::picShow_Resized() {
    ApplyView();
    // Nothing is drawn before the first event that draws; after that the picture follows.
    if (redrawCount_ > 0) DrawParts();
}

void FrmTrenn::CentreOnScreen() {
    // With the native window in place the platform can tell the frame's size; where it
    // cannot before the window is mapped, the client area is centred instead.
    create();
    const QScreen* target = screen();
    if (target == nullptr) return;
    const QRect area = target->availableGeometry();
    const QRect outer = frameGeometry();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

int FrmTrenn::chkHorizonalValue() const { return CheckBoxValue(*chkHorizonal_); }

int FrmTrenn::chkVerticalValue() const { return CheckBoxValue(*chkVertical_); }

// ---- Event handlers ------------------------------------------------------------------------

// Keys turn the model by one step each, auto-repeats included; every key redraws. Home also
// takes the zoom back to the start view.
void FrmTrenn::picShow_KeyDown(int keyCode) {
    ApplyViewKey(keyCode, m_yaw, m_pitch);
    if (keyCode == kKeyHome) {
        view_.Home();
        ApplyView();
    }
    StandardView(keyCode);
    PictureKind(keyCode);
    ViewKey(keyCode);
    DrawParts();
}

bool FrmTrenn::PictureKind(int keyCode) {
    if (keyCode == 'S') {
        if (Shaded()) {
            renderer_ = wireframe_.get();
        } else {
            if (!shaded_) {
                shaded_ = std::make_unique<ShadedRenderer>(drawThreads_);
                shaded_->SetEdges(edges_);
            }
            renderer_ = shaded_.get();
        }
        shadedShown_ = !shadedShown_;
        ShowSwatches();
        return true;
    }
    if (keyCode == 'E' && Shaded()) {
        edges_ = !edges_;
        shaded_->SetEdges(edges_);
        return true;
    }
    return false;
}

void FrmTrenn::ShowSwatches() {
    const int side = std::max(8, lstParts_->fontMetrics().height() - 4);
    for (int i = 0; i < lstParts_->ListCount(); ++i) {
        QIcon swatch;
        if (Shaded()) {
            const std::uint32_t colour = ShadedPartColour(static_cast<std::size_t>(i));
            QPixmap square(side, side);
            square.fill(QColor::fromRgb(colour));
            swatch = QIcon(square);
        }
        lstParts_->item(i)->setIcon(swatch);
    }
}

bool FrmTrenn::StandardView(int keyCode) {
    // Angles of whole quarter turns, each the single nearest to it.
    const auto quarters = [](int n) { return static_cast<float>(n * std::acos(0.0)); };
    const bool opposite = (picShow_->KeyModifiers() & Qt::ControlModifier) != 0;
    switch (keyCode) {
    case '1':
    case 0x61:  // keypad 1
        m_yaw = opposite ? quarters(2) : 0.0f;
        m_pitch = 0.0f;
        return true;
    case '3':
    case 0x63:
        m_yaw = quarters(opposite ? -1 : 1);
        m_pitch = 0.0f;
        return true;
    case '7':
    case 0x67:
        m_yaw = 0.0f;
        m_pitch = quarters(opposite ? -1 : 1);
        return true;
    default:
        return false;
    }
}

bool FrmTrenn::ViewKey(int keyCode) {
    switch (keyCode) {
    case 0xBB:  // + (and =) of the main block
    case 0x6B:  // + of the keypad
        view_.ZoomAboutCentre(1);
        break;
    case 0xBD:  // - of the main block
    case 0x6D:  // - of the keypad
        view_.ZoomAboutCentre(-1);
        break;
    case 'F': {
        std::array<double, 4> box{};
        if (TurnedBox(model_.parts, lstParts_->Ticks(), m_yaw, m_pitch, box)) {
            const QRect inner = picShow_->InnerRect();
            view_.Fit(box[0], box[1], box[2], box[3], inner.width(), inner.height());
        }
        break;
    }
    case 0x70:  // F1
        ShowKeysHelp();
        return true;
    default:
        return false;
    }
    ApplyView();
    return true;
}

// Beside the window, without taking the keys from the picture, so that the model can be turned
// while the help is open.
void FrmTrenn::ShowKeysHelp() {
    if (!help_) {
        help_ = new QMessageBox(QMessageBox::Information, QStringLiteral("Trenn: keys and mouse"),
                                KeysHelp(), QMessageBox::Ok, this);
        help_->setModal(false);
        help_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    help_->adjustSize();
    help_->move(HelpPlace(help_->frameGeometry().size()));
    help_->show();
}

// Beside the window where the screen has room, else where the box hides least of the picture.
QPoint FrmTrenn::HelpPlace(QSize box) const {
    const QRect window = frameGeometry();
    const QRect area = screen() ? screen()->availableGeometry() : window;
    const QRect picture(picShow_->mapToGlobal(QPoint(0, 0)), picShow_->size());
    const int top = std::clamp(window.top(), area.top(), std::max(area.top(), area.bottom() - box.height()));
    const int left = std::clamp(window.left(), area.left(), std::max(area.left(), area.right() - box.width()));
    const QPoint beside[] = {{window.right() + 1, top}, {window.left() - box.width(), top},
                             {left, window.bottom() + 1}, {left, window.top() - box.height()}};
    for (const QPoint& place : beside) {
        if (area.contains(QRect(place, box))) return place;
    }
    QPoint best = area.topLeft();
    qint64 hidden = -1;
    for (const QPoint& corner : {area.topLeft(), QPoint(area.right() - box.width(), area.top()),
                                 QPoint(area.left(), area.bottom() - box.height()),
                                 QPoint(area.right() - box.width(), area.bottom() - box.height())}) {
        const QRect over = QRect(corner, box).intersected(picture);
        const qint64 covered = over.isEmpty() ? 0 : qint64{over.width()} * over.height();
        if (hidden < 0 || covered < hidden) {
            best = corner;
            hidden = covered;
        }
    }
    return best;
}

// Notches past the zoom limits change nothing and draw nothing: a wheel spun on at the limit
// must not queue up redraws.
void FrmTrenn::picShow_Wheel(int notches, float x, float y) {
    if (!view_.ZoomAbout(notches, x, y)) return;
    ApplyView();
    DrawParts();
}

void FrmTrenn::lstParts_AllChecked(bool /*checked*/) { DrawParts(); }

// Any button starts a drag; the press itself draws nothing. With Shift held, the drag moves
// the model instead of turning it.
void FrmTrenn::picShow_MouseDown(float x, float y) {
    m_dragging = kTrue;
    m_lastX = x;
    m_lastY = y;
    panning_ = (picShow_->PressModifiers() & Qt::ShiftModifier) != 0;
}

// One step per move event whatever the distance, on the axes the check boxes allow.
void FrmTrenn::picShow_MouseMove(float x, float y) {
    if (m_dragging != kTrue) return;
    if (panning_) {
        // The point of the model under the pointer at the press comes back under it; it is
        // then still the point the drag holds.
        view_.MoveBy(static_cast<double>(m_lastX) - x, static_cast<double>(m_lastY) - y);
        ApplyView();
        DrawParts();
        return;
    }
    if (chkHorizonalValue() == 1) {
        if (x < m_lastX) m_yaw = StepAngle(m_yaw, -ROTATION_STEP);
        if (x > m_lastX) m_yaw = StepAngle(m_yaw, ROTATION_STEP);
    }
    if (chkVerticalValue() == 1) {
        if (y < m_lastY) m_pitch = StepAngle(m_pitch, -ROTATION_STEP);
        if (y > m_lastY) m_pitch = StepAngle(m_pitch, ROTATION_STEP);
    }
    DrawParts();
    m_lastX = x;
    m_lastY = y;
}

void FrmTrenn::picShow_MouseUp(float /*x*/, float /*y*/) { m_dragging = kFalse; }

void FrmTrenn::lstParts_ItemCheck(int /*index*/) { DrawParts(); }

// ---- Drawing -------------------------------------------------------------------------------

void FrmTrenn::DrawParts() {
    Scene scene;
    scene.parts = &model_.parts;
    scene.checked = lstParts_->Ticks();
    bool anyChecked = false;
    for (std::size_t i = 0; i < scene.checked.size() && i < model_.parts.size(); ++i) {
        anyChecked = anyChecked || scene.checked[i];
    }
    scene.yaw = m_yaw;
    scene.pitch = m_pitch;
    // The retained image has PixelScale() pixels per widget unit each way.
    scene.mapping = picShow_->ImageMapping();
    scene.pixelScale = picShow_->PixelScale();
    scene.width = picShow_->Image().width();
    scene.height = picShow_->Image().height();

    // Without the memory for this redraw the picture keeps what it shows.
    if (!renderer_->Prepare(scene)) return;
    picShow_->Cls();
    QImage& image = picShow_->Image();
    const RasterTarget target{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(),
                              image.height(), image.bytesPerLine() / 4};
    renderer_->Draw(target);
    if (anyChecked) {
        // The pens stay as the last part left them: the edge pen.
        picShow_->SetDrawWidth(1);
        picShow_->SetForeColor(0);
    }
    picShow_->ImageChanged();
    ++redrawCount_;
}

}  // namespace trenn
