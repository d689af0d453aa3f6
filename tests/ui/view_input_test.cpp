// The view input of the viewer window, driven through real key and mouse events: how keys and
// drags change the view angles, and which events redraw the picture.

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QWheelEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "model/mesh.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "model/rotation.h"
#include "render/colours.h"
#include "render/shaded.h"
#include "support/blank_picture.h"

namespace trenn {
namespace {

// One step stored into a zero angle, and the sums the steps give as singles.
constexpr float kStep = 0.0872777775f;
constexpr float kTwoSteps = 0.174555555f;
constexpr float kThreeSteps = 0.26183334f;

MeshPart Triangle() {
    MeshPart part;
    std::vector<MeshVertex> records(3);
    records[0].x = -1.0f;
    records[0].y = -1.0f;
    records[0].z = 0.5f;
    records[1].x = 1.0f;
    records[1].y = -0.5f;
    records[2].y = 1.2f;
    records[2].z = -1.0f;
    part.vertices = VertexList(records);
    part.indices = IndexList(3, std::vector<std::int16_t>{0, 1, 2});
    return part;
}

// A shown viewer window with one part listed (unchecked) and the picture fitted as loading
// would fit it; the picture area has the focus, given by a click.
class ViewInput : public ::testing::Test {
protected:
    void SetUp() override {
        model.parts = {Triangle()};
        window.AddPartItem("tri");
        window.ScalePicture(-2.0f, 1.754386f, 2.0f, -1.754386f);
        window.ShowModel(model);
        window.ShowWindow();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::mouseClick(picShow(), Qt::LeftButton, {}, QPoint(200, 175));
        ASSERT_EQ(QApplication::focusWidget(), picShow());
    }

    PictureBox* picShow() { return window.picShow(); }

    // A key pressed and released where the keyboard focus is.
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    void Home() { Key(Qt::Key_Home); }

    // Inner pixel (px, py) of the picture lies at widget position (px + 2, py + 2).
    static QPoint At(int px, int py) { return QPoint(px + PictureBox::kBorder, py + PictureBox::kBorder); }
    void Press(QPoint p, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(picShow(), button, {}, p);
    }
    void Move(QPoint p) { QTest::mouseMove(picShow(), p); }
    void Release(QPoint p, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(picShow(), button, {}, p);
    }

    void SetBoxes(bool horizontal, bool vertical) {
        window.chkHorizonal()->setChecked(horizontal);
        window.chkVertical()->setChecked(vertical);
    }

    FrmTrenn window;
    LoadedModel model;
};

TEST_F(ViewInput, KeysStepTheAnglesAsSinglesAndEveryKeyRedraws) {
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    };
    const struct {
        const char* name;
        std::vector<Press> keys;
        float yaw;
        float pitch;
        int redraws;  // a modifier arrives as a key press of its own
    } cases[] = {
        {"Left", {{Qt::Key_Left}}, kStep, 0.0f, 1},
        {"Right", {{Qt::Key_Right}}, -kStep, 0.0f, 1},
        {"Up", {{Qt::Key_Up}}, 0.0f, kStep, 1},
        {"Down Down", {{Qt::Key_Down}, {Qt::Key_Down}}, 0.0f, -kTwoSteps, 2},
        // The first step is stored rounded, the second is the exact double.
        {"Right Left", {{Qt::Key_Right}, {Qt::Key_Left}}, 2.8477776e-10f, 0.0f, 2},
        {"Left Right", {{Qt::Key_Left}, {Qt::Key_Right}}, -2.8477776e-10f, 0.0f, 2},
        {"Up Down", {{Qt::Key_Up}, {Qt::Key_Down}}, 0.0f, -2.8477776e-10f, 2},
        {"Left Up Home", {{Qt::Key_Left}, {Qt::Key_Up}, {Qt::Key_Home}}, 0.0f, 0.0f, 3},
        {"Shift+Left", {{Qt::Key_Left, Qt::ShiftModifier}}, kStep, 0.0f, 2},
        {"Ctrl+Left", {{Qt::Key_Left, Qt::ControlModifier}}, kStep, 0.0f, 2},
        {"Alt+Up", {{Qt::Key_Up, Qt::AltModifier}}, 0.0f, kStep, 2},
        {"A", {{Qt::Key_A}}, 0.0f, 0.0f, 1},
        {"PageUp", {{Qt::Key_PageUp}}, 0.0f, 0.0f, 1},
        {"Left PageUp F1 Space", {{Qt::Key_Left}, {Qt::Key_PageUp}, {Qt::Key_F1}, {Qt::Key_Space}},
         kStep, 0.0f, 4},
    };
    for (const auto& c : cases) {
        Home();
        ASSERT_EQ(window.Yaw(), 0.0f);
        ASSERT_EQ(window.Pitch(), 0.0f);
        const int before = window.RedrawCount();
        for (const Press& p : c.keys) Key(p.key, p.modifiers);
        EXPECT_EQ(window.Yaw(), c.yaw) << c.name;
        EXPECT_EQ(window.Pitch(), c.pitch) << c.name;
        EXPECT_EQ(window.RedrawCount() - before, c.redraws) << c.name;
        EXPECT_EQ(QApplication::focusWidget(), picShow()) << c.name;
    }
}

TEST_F(ViewInput, SeventyTwoStepsPassAFullTurn) {
    for (int i = 0; i < 72; ++i) Key(Qt::Key_Left);
    EXPECT_EQ(window.Yaw(), 6.2840052f);
    EXPECT_EQ(window.RedrawCount(), 72);
    Home();
    EXPECT_EQ(window.Yaw(), 0.0f);
    EXPECT_FALSE(std::signbit(window.Yaw()));
}

TEST_F(ViewInput, EveryAutoRepeatIsAStep) {
    for (int i = 0; i < 3; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), /*autorep=*/true);
        QApplication::sendEvent(picShow(), &repeat);
    }
    EXPECT_EQ(window.Pitch(), kThreeSteps);
    EXPECT_EQ(window.RedrawCount(), 3);
}

TEST_F(ViewInput, KeysRedrawWithTheTurnedModel) {
    window.lstParts()->SetSelected(0, true);
    ASSERT_EQ(window.RedrawCount(), 1);
    const QImage atRest = picShow()->Image().copy();
    ASSERT_FALSE(IsBlank(*picShow()));

    Key(Qt::Key_Left);
    EXPECT_NE(picShow()->Image(), atRest);
    Key(Qt::Key_Up);
    const QImage turned = picShow()->Image().copy();
    EXPECT_NE(turned, atRest);
    Key(Qt::Key_A);  // redraws the same view
    EXPECT_EQ(picShow()->Image(), turned);
    Home();
    EXPECT_EQ(picShow()->Image(), atRest);
    EXPECT_EQ(window.RedrawCount(), 5);
}

TEST_F(ViewInput, MovesWithoutAButtonNeverRedraw) {
    ASSERT_EQ(window.RedrawCount(), 0);  // the click that gave the focus drew nothing
    for (int i = 0; i < 20; ++i) Move(At(10 + 18 * i, 300 - 14 * i));
    EXPECT_EQ(window.RedrawCount(), 0);
    EXPECT_EQ(window.Yaw(), 0.0f);
    EXPECT_EQ(window.Pitch(), 0.0f);
    EXPECT_EQ(window.Dragging(), kFalse);
}

TEST_F(ViewInput, DragTurnsOneStepPerMoveTheWayThePointerWent) {
    // In the picture's user coordinates y grows upward: a move up the screen raises pitch.
    const struct {
        const char* name;
        QPoint from;
        QPoint to;
        float yaw;
        float pitch;
    } cases[] = {
        {"right", At(200, 170), At(201, 170), kStep, 0.0f},
        {"left", At(200, 170), At(150, 170), -kStep, 0.0f},
        {"up", At(200, 170), At(200, 169), 0.0f, kStep},
        {"down", At(200, 170), At(200, 300), 0.0f, -kStep},
        {"across the whole picture", At(0, 0), At(394, 345), kStep, -kStep},
        {"up and left", At(300, 300), At(10, 10), -kStep, kStep},
    };
    for (const auto& c : cases) {
        Home();
        const int before = window.RedrawCount();
        Press(c.from);
        EXPECT_EQ(window.Dragging(), kTrue) << c.name;
        EXPECT_EQ(window.RedrawCount(), before) << c.name << ": a press draws nothing";
        Move(c.to);
        EXPECT_EQ(window.Yaw(), c.yaw) << c.name;
        EXPECT_EQ(window.Pitch(), c.pitch) << c.name;
        EXPECT_EQ(window.RedrawCount(), before + 1) << c.name;
        Release(c.to);
        EXPECT_EQ(window.Dragging(), kFalse) << c.name;
        EXPECT_EQ(window.RedrawCount(), before + 1) << c.name << ": a release draws nothing";
    }
}

TEST_F(ViewInput, EachMoveOfALongDragIsOneStep) {
    Press(At(100, 100));
    for (int i = 1; i <= 3; ++i) Move(At(100 + 40 * i, 100));
    EXPECT_EQ(window.Yaw(), kThreeSteps);
    // Back the same way, then straight down; the release ends it.
    Move(At(130, 100));
    Move(At(130, 200));
    Release(At(130, 200));
    EXPECT_EQ(window.Yaw(), kTwoSteps);
    EXPECT_EQ(window.Pitch(), -kStep);
    EXPECT_EQ(window.RedrawCount(), 5);
    Move(At(10, 10));
    EXPECT_EQ(window.RedrawCount(), 5);
}

TEST_F(ViewInput, AnyButtonStartsADrag) {
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Home();
        const int before = window.RedrawCount();
        Press(At(200, 170), button);
        Move(At(250, 170));
        EXPECT_EQ(window.Yaw(), kStep);
        EXPECT_EQ(window.RedrawCount(), before + 1);
        Release(At(250, 170), button);
        Move(At(300, 170));
        EXPECT_EQ(window.Yaw(), kStep);
        EXPECT_EQ(window.RedrawCount(), before + 1);
    }
}

TEST_F(ViewInput, CheckBoxesDecideWhichAxesADragTurns) {
    const struct {
        const char* name;
        bool horizontal;
        bool vertical;
        QPoint to;  // from (200, 170)
        float yaw;
        float pitch;
    } cases[] = {
        {"both off, diagonal", false, false, At(260, 100), 0.0f, 0.0f},
        {"only Up/Down, sideways", false, true, At(260, 170), 0.0f, 0.0f},
        {"only Up/Down, diagonal", false, true, At(260, 100), 0.0f, kStep},
        {"only Left/Right, diagonal", true, false, At(140, 100), -kStep, 0.0f},
        {"only Left/Right, up", true, false, At(200, 100), 0.0f, 0.0f},
        {"both on, diagonal", true, true, At(140, 250), -kStep, -kStep},
    };
    for (const auto& c : cases) {
        SetBoxes(c.horizontal, c.vertical);
        Home();
        const int before = window.RedrawCount();
        Press(At(200, 170));
        Move(c.to);
        Release(c.to);
        EXPECT_EQ(window.Yaw(), c.yaw) << c.name;
        EXPECT_EQ(window.Pitch(), c.pitch) << c.name;
        EXPECT_EQ(window.RedrawCount(), before + 1) << c.name << ": every drag move redraws";
    }
}

TEST_F(ViewInput, TogglingACheckBoxNeitherRedrawsNorTurns) {
    Key(Qt::Key_Left);
    const int before = window.RedrawCount();
    for (QCheckBox* box : {window.chkHorizonal(), window.chkVertical()}) {
        for (int i = 0; i < 2; ++i) {
            const bool was = box->isChecked();
            QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
            EXPECT_NE(box->isChecked(), was) << box->objectName().toStdString();
        }
        QTest::keyClick(box, Qt::Key_Space);  // the box has the focus now; Space toggles it
    }
    EXPECT_EQ(window.chkHorizonalValue(), 0);
    EXPECT_EQ(window.chkVerticalValue(), 0);
    EXPECT_EQ(window.RedrawCount(), before);
    EXPECT_EQ(window.Yaw(), kStep);
    EXPECT_EQ(window.Pitch(), 0.0f);
}

TEST_F(ViewInput, DragFollowsThePointerAlsoWhileNothingTurns) {
    SetBoxes(false, false);
    Press(At(100, 170));
    Move(At(300, 170));
    EXPECT_EQ(window.Yaw(), 0.0f);
    // Turning allowed from here on: the last position is 300, not the press at 100.
    window.chkHorizonal()->setChecked(true);
    Move(At(250, 170));
    EXPECT_EQ(window.Yaw(), -kStep);
    EXPECT_EQ(window.RedrawCount(), 2);
    // A second button's press inside a drag starts again from its own position.
    Press(At(50, 170), Qt::RightButton);
    Move(At(100, 170));
    EXPECT_EQ(window.Yaw(), StepAngle(-kStep, ROTATION_STEP));
    Release(At(100, 170), Qt::RightButton);
    EXPECT_EQ(window.Dragging(), kFalse);
    Release(At(100, 170));
    EXPECT_EQ(window.Dragging(), kFalse);
    EXPECT_EQ(window.RedrawCount(), 3);
}

TEST_F(ViewInput, ArrowsInTheListMoveInItAndDoNotTurn) {
    window.AddPartItem("second");
    window.AddPartItem("third");
    model.parts.push_back(Triangle());
    model.parts.push_back(Triangle());
    window.ShowModel(model);
    PartList* list = window.lstParts();
    list->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), list);
    list->setCurrentRow(0);
    const int before = window.RedrawCount();
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up}) {
        Key(key);
    }
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_EQ(window.Yaw(), 0.0f);
    EXPECT_EQ(window.Pitch(), 0.0f);
    EXPECT_EQ(window.RedrawCount(), before);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(list->Selected(i));
}

TEST_F(ViewInput, NothingIsDrawnBeforeTheFirstEvent) {
    QApplication::processEvents();
    window.repaint();
    window.hide();
    window.ShowWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    EXPECT_EQ(window.RedrawCount(), 0);
    EXPECT_TRUE(IsBlank(*picShow()));
    // The widget on the screen shows the retained image, background only.
    const QImage shown = picShow()->grab(picShow()->InnerRect()).toImage();
    for (int y = 0; y < shown.height(); y += 7) {
        for (int x = 0; x < shown.width(); x += 7) {
            ASSERT_EQ(shown.pixel(x, y), picShow()->BackColor().rgb()) << x << "," << y;
        }
    }
}

TEST_F(ViewInput, EveryCheckMarkChangeRedraws) {
    PartList* list = window.lstParts();
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentRow(0);
    Key(Qt::Key_Space);  // ticks the current item
    ASSERT_TRUE(list->Selected(0));
    EXPECT_EQ(window.RedrawCount(), 1);
    EXPECT_FALSE(IsBlank(*picShow()));
    Key(Qt::Key_Space);
    ASSERT_FALSE(list->Selected(0));
    EXPECT_EQ(window.RedrawCount(), 2);
    EXPECT_TRUE(IsBlank(*picShow()));  // cleared, and nothing checked to draw
    list->SetSelected(0, true);
    EXPECT_EQ(window.RedrawCount(), 3);
    EXPECT_FALSE(IsBlank(*picShow()));
    EXPECT_EQ(window.Yaw(), 0.0f);
}

// The bounding box of every pixel that is not background: left, top, right, bottom.
QRect InkBox(const PictureBox& picture) {
    const QImage& image = picture.Image();
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != picture.BackColor().rgb()) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// Wheel, + and - zoom by whole notches (the wheel about the pointer, the keys about the
// middle), F fits the ticked parts, and Home gives back the start picture pixel for pixel.
TEST_F(ViewInput, ZoomAndFitChangeOnlyTheViewAndHomeUndoesThem) {
    window.lstParts()->SetSelected(0, true);
    Home();
    const QImage start = picShow()->Image();
    const QRect startInk = InkBox(*picShow());

    struct Step {
        const char* name;
        std::function<void()> act;
        double zoom;
    };
    const auto wheel = [&](int notches, QPoint at) {
        QWheelEvent event(QPointF(at), QPointF(picShow()->mapToGlobal(at)), {}, QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(picShow(), &event);
    };
    const Step steps[] = {
        {"+", [&] { Key(Qt::Key_Plus); }, 1.25},
        {"keypad +", [&] { Key(Qt::Key_Plus, Qt::KeypadModifier); }, 1.5625},
        {"-", [&] { Key(Qt::Key_Minus); }, 1.25},
        {"keypad -", [&] { Key(Qt::Key_Minus, Qt::KeypadModifier); }, 1.0},
        {"wheel two notches away", [&] { wheel(2, At(100, 80)); }, 1.5625},
        {"wheel two notches back", [&] { wheel(-2, At(100, 80)); }, 1.0},
        {"wheel 60 notches away", [&] { wheel(60, At(100, 80)); }, 1.0},  // past x4096: nothing
        {"wheel 37 notches away", [&] { wheel(37, At(100, 80)); }, std::pow(1.25, 37)},
        {"wheel on at the limit", [&] { wheel(1, At(100, 80)); }, std::pow(1.25, 37)},
        {"wheel 37 notches back", [&] { wheel(-37, At(100, 80)); }, 1.0},
    };
    for (const Step& step : steps) {
        const int before = window.RedrawCount();
        const double zoomBefore = window.View().Zoom();
        step.act();
        EXPECT_DOUBLE_EQ(window.View().Zoom(), step.zoom) << step.name;
        // Keys redraw whatever they did; the wheel only when it changed the zoom.
        const bool wheeled = std::string(step.name).rfind("wheel", 0) == 0;
        EXPECT_EQ(window.RedrawCount() - before, wheeled && zoomBefore == step.zoom ? 0 : 1) << step.name;
        EXPECT_EQ(window.Yaw(), 0.0f) << step.name;
    }
    // The point under the pointer stays put: the wheel is about it, not about the middle.
    wheel(3, At(100, 80));
    const ViewMapping& m = picShow()->Mapping();
    EXPECT_NEAR(m.PixelX(window.View().CentreX()), 197.5, 1e-6);
    EXPECT_NE(window.View().CentreX(), 0.0);
    EXPECT_NE(picShow()->Image(), start);

    Home();
    EXPECT_EQ(window.View().Zoom(), 1.0);
    EXPECT_EQ(picShow()->Image(), start) << "Home gives back the start picture";

    // The triangle is smaller than the picture: F makes it fill the picture, 5% to spare on
    // the tighter axis.
    Key(Qt::Key_F);
    const QRect fitted = InkBox(*picShow());
    EXPECT_GT(fitted.width() * fitted.height(), 2 * startInk.width() * startInk.height());
    const int spareX = std::min(fitted.left(), 394 - fitted.right());
    const int spareY = std::min(fitted.top(), 345 - fitted.bottom());
    EXPECT_NEAR(std::min(spareX, spareY), 0.05 * (spareX < spareY ? 395 : 346) / 1.1, 3.0)
        << "ink from " << fitted.left() << "," << fitted.top() << " to " << fitted.right() << ","
        << fitted.bottom();
    Home();
    EXPECT_EQ(picShow()->Image(), start);
}

// Tick all and clear all redraw once; each entry's tooltip tells about its part.
TEST_F(ViewInput, TickAllClearAllAndPartDetails) {
    PartList* list = window.lstParts();
    const int before = window.RedrawCount();
    list->SetAllSelected(true);
    EXPECT_TRUE(list->Selected(0));
    EXPECT_EQ(window.RedrawCount() - before, 1);
    EXPECT_FALSE(IsBlank(*picShow()));
    list->SetAllSelected(false);
    EXPECT_EQ(window.RedrawCount() - before, 2);
    EXPECT_TRUE(IsBlank(*picShow()));
    // No symbol table here: the tooltip starts with an empty name.
    EXPECT_EQ(list->item(0)->toolTip(),
              "\n3 vertices, 1 triangle\nx from -1 to 1, y from -1 to 1.2, z from -1 to 0.5");
}

// The picture shows that it has the keys in its border, never in its pixels; F1 opens the help
// beside the window and leaves the keys with the picture.
TEST_F(ViewInput, FocusMarkAndHelp) {
    const QColor highlight = picShow()->palette().color(QPalette::Highlight);
    const auto border = [&] { return picShow()->grab().toImage().pixelColor(0, 100); };
    EXPECT_EQ(border(), highlight);
    EXPECT_EQ(picShow()->grab().toImage().copy(2, 2, 395, 346), picShow()->Image());
    window.lstParts()->setFocus(Qt::TabFocusReason);
    EXPECT_NE(border(), highlight);

    picShow()->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_F1);
    const auto boxes = window.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_EQ(boxes[0]->text(), FrmTrenn::KeysHelp());
    for (const char* also : {"Ctrl+O", "F5", "drop", "Shift+drag", "1, 3, 7"}) {
        EXPECT_TRUE(FrmTrenn::KeysHelp().contains(QString::fromLatin1(also))) << also;
    }
    // The box leaves the picture to the model: beside the window where the screen has room,
    // else where it hides least.
    const QRect picture(picShow()->mapToGlobal(QPoint(0, 0)), picShow()->size());
    const QRect hidden = boxes[0]->frameGeometry().intersected(picture);
    EXPECT_LT(hidden.width() * hidden.height(), picture.width() * picture.height() / 4)
        << "the box hides " << hidden.width() << " x " << hidden.height() << " of the picture";
    EXPECT_EQ(picShow()->toolTip(), "Keys and mouse: press F1");
    EXPECT_EQ(QApplication::focusWidget(), picShow());
}

// The window grows: the list takes the height it gains, the picture all the rest, the boxes
// stay under the list; the picture keeps its framing (the model's middle stays in the
// picture's middle, at the same scale while the height limits the frame), and the view
// carries over. Back at its first size it shows the first picture again, pixel for pixel.
TEST_F(ViewInput, TheWindowGrowsAndThePictureKeepsItsFraming) {
    window.lstParts()->SetSelected(0, true);
    Key(Qt::Key_Left);
    Key(Qt::Key_Plus);
    const QImage first = picShow()->Image().copy();
    const QRect firstInk = InkBox(*picShow());
    const struct {
        QSize window;
        int grownBy;  // in height
    } sizes[] = {{QSize(900, 358), 0}, {QSize(900, 700), 342}, {QSize(536, 358), 0}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.window.width()) + " x " + std::to_string(size.window.height()));
        const int redraws = window.RedrawCount();
        window.resize(size.window);
        QApplication::processEvents();
        EXPECT_EQ(picShow()->geometry(), QRect(133, 4, size.window.width() - 137, size.window.height() - 8));
        EXPECT_EQ(picShow()->Image().size(), picShow()->InnerRect().size());
        EXPECT_EQ(window.lstParts()->geometry(), QRect(4, 20, 125, 289 + size.grownBy));
        EXPECT_EQ(window.lblInfo(1)->pos(), QPoint(4, 312 + size.grownBy));
        EXPECT_EQ(window.chkHorizonal()->pos(), QPoint(4, 328 + size.grownBy));
        EXPECT_EQ(window.chkVertical()->pos(), QPoint(68, 328 + size.grownBy));
        EXPECT_EQ(window.RedrawCount(), redraws + 1) << "one redraw for the new size";
        EXPECT_EQ(window.Yaw(), kStep);
        EXPECT_EQ(window.View().Zoom(), 1.25);
        // The model's place and size in the picture scale with the frame.
        const QRect ink = InkBox(*picShow());
        const QSize picture = picShow()->Image().size();
        const double frame = std::min(picture.width() / 395.0, picture.height() / 346.0);
        EXPECT_NEAR(ink.center().x() - picture.width() / 2.0, frame * (firstInk.center().x() - 395 / 2.0), 1.5);
        EXPECT_NEAR(ink.center().y() - picture.height() / 2.0, frame * (firstInk.center().y() - 346 / 2.0), 1.5);
        EXPECT_NEAR(ink.width(), frame * firstInk.width(), 2.0);
    }
    EXPECT_EQ(picShow()->Image(), first);
    window.showMaximized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.width() > 536; })) << "the window does not maximise";
}

// Shift+drag moves the model with the pointer, the rest of the view kept; a plain drag still
// turns; Home undoes the move.
TEST_F(ViewInput, ShiftDragMovesTheModelWithThePointer) {
    window.lstParts()->SetSelected(0, true);
    const QImage start = picShow()->Image().copy();
    const QRect startInk = InkBox(*picShow());
    QTest::mousePress(picShow(), Qt::LeftButton, Qt::ShiftModifier, At(100, 100));
    Move(At(130, 90));
    Move(At(160, 80));
    QTest::mouseRelease(picShow(), Qt::LeftButton, Qt::ShiftModifier, At(160, 80));
    EXPECT_EQ(window.Yaw(), 0.0f);
    EXPECT_EQ(window.Pitch(), 0.0f);
    EXPECT_EQ(InkBox(*picShow()), startInk.translated(60, -20));
    Press(At(100, 100));
    Move(At(130, 100));
    Release(At(130, 100));
    EXPECT_EQ(window.Yaw(), kStep);
    Home();
    EXPECT_EQ(picShow()->Image(), start);
}

// 1, 3 and 7 (main block and keypad) turn to the front, right and top; with Ctrl to the back,
// left and bottom: both angles set to whole quarter turns, zoom and centre kept, one redraw.
TEST_F(ViewInput, StandardViews) {
    window.lstParts()->SetSelected(0, true);
    Key(Qt::Key_Plus);
    const float quarter = static_cast<float>(std::acos(0.0));
    const float half = static_cast<float>(2 * std::acos(0.0));
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        float yaw, pitch;
    } views[] = {
        {Qt::Key_3, Qt::NoModifier, quarter, 0.0f},
        {Qt::Key_7, Qt::NoModifier, 0.0f, quarter},
        {Qt::Key_1, Qt::ControlModifier, half, 0.0f},
        {Qt::Key_3, Qt::ControlModifier, -quarter, 0.0f},
        {Qt::Key_7, Qt::ControlModifier, 0.0f, -quarter},
        {Qt::Key_1, Qt::NoModifier, 0.0f, 0.0f},
        {Qt::Key_3, Qt::KeypadModifier, quarter, 0.0f},
        {Qt::Key_7, Qt::KeypadModifier, 0.0f, quarter},
        {Qt::Key_1, Qt::KeypadModifier | Qt::ControlModifier, half, 0.0f},
    };
    for (const auto& v : views) {
        SCOPED_TRACE(std::to_string(v.key) + (v.modifiers & Qt::ControlModifier ? " with Ctrl" : ""));
        Key(Qt::Key_Left);  // from some other angle
        const int redraws = window.RedrawCount();
        Key(v.key, v.modifiers);
        EXPECT_EQ(window.Yaw(), v.yaw);
        EXPECT_EQ(window.Pitch(), v.pitch);
        EXPECT_EQ(window.View().Zoom(), 1.25);
        // One redraw for the view; Ctrl pressed on its own is a key that redraws too.
        EXPECT_EQ(window.RedrawCount(), redraws + (v.modifiers & Qt::ControlModifier ? 2 : 1));
    }
}

// S switches between the wireframe and the shaded picture; E shows or hides the shaded picture's
// edges and is kept while the wireframe is on. Every key redraws; the wireframe comes back as it
// was, and the list shows the part's colour only while the surfaces are shown.
TEST_F(ViewInput, SAndESwitchThePicture) {
    window.lstParts()->SetSelected(0, true);
    const QImage wireframe = picShow()->Image().copy();
    const struct {
        Qt::Key key;
        bool shaded, edges;
    } steps[] = {
        {Qt::Key_E, false, false}, {Qt::Key_S, true, false}, {Qt::Key_E, true, true},
        {Qt::Key_S, false, true},  {Qt::Key_S, true, true},  {Qt::Key_E, true, false},
        {Qt::Key_S, false, false},
    };
    const QRgb swatchColour = ShadedPartColour(0);
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.key == Qt::Key_S ? "S" : "E") + (step.shaded ? " to shaded" : " to wireframe") +
                     (step.edges ? " with edges" : ""));
        const int redraws = window.RedrawCount();
        Key(step.key);
        EXPECT_EQ(window.RedrawCount(), redraws + 1);
        EXPECT_EQ(window.Shaded(), step.shaded);
        EXPECT_EQ(window.EdgesShown(), step.edges);
        const QIcon swatch = window.lstParts()->item(0)->icon();
        EXPECT_EQ(swatch.isNull(), !step.shaded);
        if (!step.shaded) {
            EXPECT_EQ(picShow()->Image(), wireframe);
            continue;
        }
        EXPECT_EQ(swatch.pixmap(8, 8).toImage().pixel(4, 4), swatchColour);
        int blue = 0, black = 0, surface = 0;
        const QImage picture = picShow()->Image().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = picture.pixel(x, y);
                blue += p == kDotColour;
                black += p == kEdgeColour;
                surface += p != kDotColour && p != kEdgeColour && p != kBackgroundColour;
            }
        }
        EXPECT_EQ(blue, 0);
        EXPECT_GT(surface, 1000);
        EXPECT_EQ(black > 0, step.edges) << black << " black pixels";
    }
}

}  // namespace
}  // namespace trenn
