// The viewer window as loading and the event handlers see it: controls, tab order, focus,
// the ViewerWindow operations and the check-box list.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/load_failure.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "support/blank_picture.h"

namespace trenn {
namespace {

using Calls = std::vector<std::string>;

// Records every call of the event handlers, to show what reaches them.
class WatchedWindow : public FrmTrenn {
public:
    Calls calls;

protected:
    void picShow_KeyDown(int keyCode) override { calls.push_back("KeyDown " + std::to_string(keyCode)); }
    void picShow_MouseDown(float, float) override { calls.push_back("MouseDown"); }
    void picShow_MouseMove(float, float) override { calls.push_back("MouseMove"); }
    void picShow_MouseUp(float, float) override { calls.push_back("MouseUp"); }
    void lstParts_ItemCheck(int index) override { calls.push_back("ItemCheck " + std::to_string(index)); }
};

void ShowAndActivate(FrmTrenn& window) {
    window.ShowWindow();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

TEST(WindowLayout, ControlsSitWhereTheLayoutPutsThem) {
    FrmTrenn window;
    const struct {
        QWidget* control;
        const char* name;
        QWidget* parent;
        QRect geometry;
    } controls[] = {
        {window.picParts(), "picParts", &window, QRect(0, 0, 133, 358)},
        {window.lstParts(), "lstParts", window.picParts(), QRect(4, 20, 125, 289)},
        {window.picShow(), "picShow", &window, QRect(133, 4, 399, 350)},
        {window.chkHorizonal(), "chkHorizonal", window.picParts(), QRect(4, 328, 61, 25)},
        {window.chkVertical(), "chkVertical", window.picParts(), QRect(68, 328, 61, 25)},
    };
    for (const auto& c : controls) {
        EXPECT_EQ(window.findChild<QWidget*>(c.name), c.control) << c.name;
        EXPECT_EQ(c.control->parentWidget(), c.parent) << c.name;
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.name;
    }
    EXPECT_EQ(window.chkHorizonal()->text(), "Left/Right");
    EXPECT_EQ(window.chkVertical()->text(), "Up/Down");

    // Labels keep their place and grow, never shrink, to fit the platform font.
    const struct {
        const char* name;
        const char* text;
        QRect geometry;
    } labels[] = {{"lblInfo_0", "Parts to show:", QRect(4, 4, 67, 13)},
                  {"lblInfo_1", "Rotate:", QRect(4, 312, 35, 13)}};
    for (int i = 0; i < 2; ++i) {
        const QLabel* label = window.lblInfo(i);
        EXPECT_EQ(window.findChild<QLabel*>(labels[i].name), label);
        EXPECT_EQ(label->parentWidget(), window.picParts());
        EXPECT_EQ(label->text(), labels[i].text);
        EXPECT_EQ(label->pos(), labels[i].geometry.topLeft()) << labels[i].name;
        const QSize least = labels[i].geometry.size().expandedTo(label->sizeHint());
        EXPECT_EQ(label->size().expandedTo(least), label->size()) << labels[i].name;
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus) << labels[i].name;
    }
}

TEST(WindowLayout, LoadsHiddenAtItsLayoutsSizeAndEmpty) {
    FrmTrenn window;
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_EQ(window.windowTitle(), "Trenn");
    EXPECT_EQ(window.size(), QSize(536, 358));
    EXPECT_EQ(window.minimumSize(), QSize(536, 358));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    for (const int side : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    }

    EXPECT_EQ(window.lstParts()->ListCount(), 0);
    EXPECT_EQ(window.PartListNewIndex(), -1);
    EXPECT_EQ(window.chkHorizonalValue(), 1);
    EXPECT_EQ(window.chkVerticalValue(), 1);
    window.chkVertical()->setChecked(false);
    EXPECT_EQ(window.chkVerticalValue(), 0);
    EXPECT_FLOAT_EQ(window.PictureWidth(), 5985.0f);
    EXPECT_FLOAT_EQ(window.PictureHeight(), 5250.0f);
    EXPECT_TRUE(IsBlank(*window.picShow()));
}

TEST(WindowLoading, ViewerWindowOperationsReachTheControls) {
    WatchedWindow window;
    window.AddPartItem("plain");
    EXPECT_EQ(window.PartListNewIndex(), 0);
    // Bytes above 0x7F are Windows-1252 characters, one per byte.
    window.AddPartItem(std::string("a\x80\xE9\x9F", 4));
    EXPECT_EQ(window.PartListNewIndex(), 1);
    EXPECT_EQ(window.lstParts()->item(1)->text(), QString::fromUtf8("a\u20AC\u00E9\u0178"));
    window.AddPartItem(std::string("x\0y", 3));
    EXPECT_EQ(window.lstParts()->item(2)->text().size(), 3);

    window.SetPartItemData(1, -123456);
    EXPECT_EQ(window.lstParts()->ItemData(1), -123456);
    EXPECT_EQ(window.lstParts()->ItemData(0), 0);
    EXPECT_THROW(window.SetPartItemData(3, 1), LoadFailure);
    EXPECT_THROW(window.SetPartItemData(-1, 1), LoadFailure);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(window.lstParts()->Selected(i));
    EXPECT_TRUE(window.calls.empty());  // filling the list is no check-mark change

    window.ScalePicture(-7.0f, 5.25f, 7.0f, -5.25f);
    EXPECT_DOUBLE_EQ(window.picShow()->Mapping().PixelX(0.0), 197.5);
    EXPECT_FALSE(window.isVisible());
}

TEST(WindowShown, OpensCentredWithFocusInTheListAndNothingDrawn) {
    FrmTrenn window;
    ShowAndActivate(window);
    EXPECT_FALSE(window.isModal());
    const QRect area = window.screen()->availableGeometry();
    EXPECT_LE(std::abs(window.frameGeometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(window.frameGeometry().center().y() - area.center().y()), 1);
    EXPECT_EQ(QApplication::focusWidget(), window.lstParts());
    QApplication::processEvents();
    EXPECT_TRUE(IsBlank(*window.picShow()));
}

TEST(WindowShown, TabVisitsListPictureAndCheckBoxesInOrder) {
    WatchedWindow window;
    ShowAndActivate(window);
    const std::vector<QWidget*> order = {window.picShow(), window.chkHorizonal(), window.chkVertical(),
                                         window.lstParts(), window.picShow()};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), window.lstParts());
    // Tab passed through the picture area without a KeyDown; Shift is a key of its own.
    EXPECT_EQ(window.calls, Calls{"KeyDown 16"});
}

TEST(WindowShown, ArrowsMoveInTheListButTurnOnlyInThePicture) {
    WatchedWindow window;
    for (const char* name : {"one", "two", "three"}) window.AddPartItem(name);
    ShowAndActivate(window);
    PartList* list = window.lstParts();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_TRUE(window.calls.empty());

    // A click gives the picture area the focus; from then on arrows are its keys.
    QTest::mouseClick(window.picShow(), Qt::LeftButton, {}, QPoint(100, 100));
    ASSERT_EQ(QApplication::focusWidget(), window.picShow());
    window.calls.clear();
    QTest::keyClick(window.picShow(), Qt::Key_Down);
    QTest::keyClick(window.picShow(), Qt::Key_Left);
    EXPECT_EQ(QApplication::focusWidget(), window.picShow());
    EXPECT_EQ(window.calls, (Calls{"KeyDown 40", "KeyDown 37"}));
    EXPECT_EQ(list->currentRow(), 1);
}

TEST(WindowEvents, PictureAndListEventsReachTheHandlers) {
    WatchedWindow window;
    window.AddPartItem("one");
    window.AddPartItem("two");
    ShowAndActivate(window);
    QTest::mousePress(window.picShow(), Qt::RightButton, {}, QPoint(50, 60));
    QTest::mouseMove(window.picShow(), QPoint(70, 80));
    QTest::mouseRelease(window.picShow(), Qt::RightButton, {}, QPoint(70, 80));
    window.lstParts()->SetSelected(1, true);
    EXPECT_EQ(window.calls, (Calls{"MouseDown", "MouseMove", "MouseUp", "ItemCheck 1"}));
}

TEST(PartList, ItemsCarryTextAndItemDataAndStartUnchecked) {
    PartList list;
    EXPECT_EQ(list.AddItem("first"), 0);
    EXPECT_EQ(list.AddItem("second"), 1);
    EXPECT_EQ(list.NewIndex(), 1);
    EXPECT_EQ(list.ListCount(), 2);
    EXPECT_EQ(list.item(1)->text(), "second");
    EXPECT_FALSE(list.Selected(1));

    list.SetItemData(0, 2147483647);
    list.SetItemData(1, -2147483647 - 1);
    EXPECT_EQ(list.ItemData(0), 2147483647);
    EXPECT_EQ(list.ItemData(1), -2147483647 - 1);
    EXPECT_THROW(list.ItemData(2), std::out_of_range);
    EXPECT_THROW(list.Selected(-1), std::out_of_range);
}

TEST(PartList, EveryCheckChangeNotifiesOnceAndNothingElseDoes) {
    PartList list;
    for (const char* name : {"a", "b", "c"}) list.AddItem(name);
    std::vector<std::pair<int, bool>> seen;  // index, check mark as the receiver sees it
    QObject::connect(&list, &PartList::ItemCheck,
                     [&](int index) { seen.emplace_back(index, list.Selected(index)); });

    list.SetSelected(2, true);
    list.SetSelected(2, true);  // no change
    list.item(2)->setText("renamed");
    list.SetItemData(2, 99);
    EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{2, true}}));

    // Space toggles the current item, as a user would.
    seen.clear();
    list.setCurrentRow(0);
    QTest::keyClick(&list, Qt::Key_Space);
    QTest::keyClick(&list, Qt::Key_Space);
    list.SetSelected(2, false);
    EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{0, true}, {0, false}, {2, false}}));
}

}  // namespace
}  // namespace trenn
