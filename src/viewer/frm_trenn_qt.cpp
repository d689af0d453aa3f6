#include "viewer/frm_trenn.h"

#include <QCheckBox>
#include <QLabel>
#include <QScreen>

#include <algorithm>
#include <string>

#include "runtime/load_failure.h"
#include "runtime/text.h"
#include "viewer/app_icon.h"
#include "viewer/part_list.h"
#include "viewer/picture_box.h"

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

QCheckBox* MakeCheckBox(QWidget* parent, const QString& name, const QString& text, QRect rect) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(rect);
    box->setChecked(true);
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
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmTrenn"));
    setWindowTitle(QStringLiteral("Trenn"));
    setWindowIcon(TrennIcon());
    setFixedSize(kClientWidth, kClientHeight);

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
    picShow_->setGeometry(133, 4, 399, 350);

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
}

FrmTrenn::~FrmTrenn() = default;

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
}

void FrmTrenn::ShowWindow() {
    if (!placed_) {
        CentreOnScreen();
        placed_ = true;
    }
    show();
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

void FrmTrenn::picShow_KeyDown(int /*keyCode*/) {}

void FrmTrenn::picShow_MouseDown(float /*x*/, float /*y*/) {}

void FrmTrenn::picShow_MouseMove(float /*x*/, float /*y*/) {}

void FrmTrenn::picShow_MouseUp(float /*x*/, float /*y*/) {}

void FrmTrenn::lstParts_ItemCheck(int /*index*/) {}

}  // namespace trenn

// The header does not share this file's base name, so AUTOMOC needs the hint.
#include "moc_frm_trenn.cpp"
