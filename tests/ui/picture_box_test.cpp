// The picture area: its size, its user coordinates, drawing into the retained image, and the
// key and mouse events it passes on.

#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "qt/picture_box.h"

namespace trenn {
namespace {

const QRgb kBlue = QColor(0, 0, 255).rgb();
const QRgb kBlack = QColor(0, 0, 0).rgb();

int CountPixels(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == colour ? 1 : 0;
    }
    return count;
}

TEST(PictureBox, SizeInTwipsAndDefaultTwipsMapping) {
    PictureBox picture;
    EXPECT_EQ(picture.size(), QSize(399, 350));
    EXPECT_EQ(picture.InnerRect(), QRect(2, 2, 395, 346));
    EXPECT_EQ(picture.Image().size(), QSize(395, 346));
    EXPECT_EQ(picture.Image().format(), QImage::Format_RGB32);
    EXPECT_FLOAT_EQ(picture.Width(), 5985.0f);
    EXPECT_FLOAT_EQ(picture.Height(), 5250.0f);
    EXPECT_DOUBLE_EQ(picture.Mapping().PixelX(1500.0), 100.0);
    EXPECT_EQ(CountPixels(picture.Image(), picture.palette().color(QPalette::Base).rgb()), 395 * 346);
}

TEST(PictureBox, ScalePutsTheCornersOnTheInnerArea) {
    PictureBox picture;
    picture.Scale(-7.0f, 5.25f, 7.0f, -5.25f);
    const ViewMapping& m = picture.Mapping();
    EXPECT_DOUBLE_EQ(m.PixelX(0.0), 197.5);
    EXPECT_DOUBLE_EQ(m.PixelY(0.0), 173.0);
    EXPECT_DOUBLE_EQ(m.PixelX(-7.0), 0.0);
    EXPECT_DOUBLE_EQ(m.PixelY(5.25), 0.0);
    EXPECT_NEAR(m.PixelX(7.0), 395.0, 1e-9);
    EXPECT_NEAR(m.PixelY(-5.25), 346.0, 1e-9);

    // A model whose coordinates are all 0 gives the corners (-0, 0) and (0, -0): every
    // point lands in the middle, and a dot there is drawn.
    picture.Scale(-0.0f, 0.0f, 0.0f, -0.0f);
    EXPECT_DOUBLE_EQ(picture.Mapping().PixelX(1e6), 197.5);
    EXPECT_DOUBLE_EQ(picture.Mapping().PixelY(-3.0), 173.0);
    EXPECT_TRUE(std::isfinite(picture.Mapping().UserX(10.0)));
    picture.SetDrawWidth(2);
    picture.SetForeColor(0xFF0000);
    picture.PSet(5.0f, -5.0f);
    EXPECT_EQ(picture.Image().pixel(197, 172), kBlue);
    EXPECT_EQ(CountPixels(picture.Image(), kBlue), 4);
}

TEST(PictureBox, PSetDrawsADotOfDrawWidthInForeColor) {
    PictureBox picture;
    picture.Scale(0.0f, 0.0f, 395.0f, 346.0f);  // user units are pixels
    picture.SetDrawWidth(2);
    picture.SetForeColor(0x00FF0000);  // 0x00BBGGRR: pure blue
    picture.PSet(100.0f, 50.0f);
    const QImage& image = picture.Image();
    for (const QPoint p : {QPoint(99, 49), QPoint(100, 49), QPoint(99, 50), QPoint(100, 50)}) {
        EXPECT_EQ(image.pixel(p), kBlue) << p.x() << "," << p.y();
    }
    EXPECT_EQ(CountPixels(image, kBlue), 4);

    // Red sits in the low byte; a wider pen makes a wider dot.
    const QRgb red = QColor(255, 0, 0).rgb();
    picture.SetForeColor(0x000000FF);
    picture.SetDrawWidth(4);
    picture.PSet(200.0f, 200.0f);
    EXPECT_EQ(image.pixel(198, 198), red);
    EXPECT_EQ(image.pixel(201, 201), red);
    EXPECT_EQ(CountPixels(image, red), 16);
}

TEST(PictureBox, LineFollowsItsCourseAndClsClearsEverything) {
    PictureBox picture;
    picture.Scale(0.0f, 0.0f, 395.0f, 346.0f);
    picture.SetDrawWidth(1);
    picture.SetForeColor(0);
    picture.Line(10.5f, 20.5f, 60.5f, 20.5f);
    const QImage& image = picture.Image();
    for (int x = 11; x <= 59; ++x) {
        EXPECT_EQ(image.pixel(x, 20), kBlack) << x;
        EXPECT_NE(image.pixel(x, 19), kBlack) << x;
        EXPECT_NE(image.pixel(x, 21), kBlack) << x;
    }

    // A diagonal, one pixel wide: each column on its course has its pixel next to the line.
    const int before = CountPixels(image, kBlack);
    picture.Line(100.5f, 100.5f, 200.5f, 150.5f);
    for (int x = 102; x <= 199; ++x) {
        const int y = static_cast<int>(100.5 + (x + 0.5 - 100.5) / 2.0);
        EXPECT_TRUE(image.pixel(x, y - 1) == kBlack || image.pixel(x, y) == kBlack ||
                    image.pixel(x, y + 1) == kBlack)
            << x;
    }
    EXPECT_NEAR(CountPixels(image, kBlack) - before, 100, 2);

    picture.Cls();
    EXPECT_EQ(CountPixels(image, picture.BackColor().rgb()), 395 * 346);
}

TEST(PictureBox, RepaintShowsTheRetainedImageInsideASunkenBorder) {
    PictureBox picture;
    picture.Scale(0.0f, 0.0f, 395.0f, 346.0f);
    picture.SetDrawWidth(2);
    picture.SetForeColor(0xFF0000);
    picture.PSet(0.0f, 0.0f);
    picture.PSet(394.0f, 345.0f);
    picture.SetDrawWidth(1);
    picture.SetForeColor(0);
    picture.Line(20.0f, 300.0f, 380.0f, 40.0f);
    // Straight into the image, as a fast renderer would.
    picture.Image().setPixel(200, 10, qRgb(0, 200, 0));
    picture.ImageChanged();

    const QImage drawn = picture.Image().copy();
    const QImage shown = picture.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(399, 350));
    EXPECT_EQ(shown.copy(2, 2, 395, 346), drawn);
    EXPECT_EQ(picture.Image(), drawn);  // painting never draws into the image
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(shown.pixel(i, 100), picture.BackColor().rgb()) << "left border " << i;
        EXPECT_NE(shown.pixel(100, i), picture.BackColor().rgb()) << "top border " << i;
    }
}

class PictureBoxShown : public ::testing::Test {
protected:
    void SetUp() override {
        picture.show();
        picture.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&picture));
    }
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (const QList<QVariant>& args : keys) codes.push_back(args.at(0).toInt());
        return codes;
    }
    PictureBox picture;
    QSignalSpy keys{&picture, &PictureBox::KeyDown};
};

TEST_F(PictureBoxShown, KeysArriveAsWindowsKeyCodes) {
    for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Home,
                              Qt::Key_PageUp, Qt::Key_F1, Qt::Key_A}) {
        QTest::keyClick(&picture, key);
    }
    EXPECT_EQ(Codes(), (std::vector<int>{37, 38, 39, 40, 36, 33, 112, 65}));
    keys.clear();

    // Shift and Ctrl come as keys of their own and change no code.
    QTest::keyClick(&picture, Qt::Key_A, Qt::ShiftModifier);
    QTest::keyClick(&picture, Qt::Key_Left, Qt::ControlModifier);
    QTest::keyClick(&picture, Qt::Key_ParenRight, Qt::ShiftModifier);
    EXPECT_EQ(Codes(), (std::vector<int>{16, 65, 17, 37, 16, 48}));
    keys.clear();

    // A held key repeats: one KeyDown per repeat.
    for (int i = 0; i < 3; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(&picture, &repeat);
    }
    EXPECT_EQ(Codes(), (std::vector<int>{39, 39, 39}));
    keys.clear();

    // Keypad digits have codes of their own, keypad arrows are arrows; keys without a
    // Windows counterpart still arrive.
    QTest::keyClick(&picture, Qt::Key_5, Qt::KeypadModifier);
    QTest::keyClick(&picture, Qt::Key_Left, Qt::KeypadModifier);
    QTest::keyClick(&picture, Qt::Key_Launch0);
    EXPECT_EQ(Codes(), (std::vector<int>{101, 37, kUnmappedKeyCode}));
    EXPECT_NE(kUnmappedKeyCode, 0);
}

TEST_F(PictureBoxShown, MouseEventsCarryUserCoordinates) {
    picture.Scale(-7.0f, 5.25f, 7.0f, -5.25f);
    QSignalSpy down(&picture, &PictureBox::MouseDown);
    QSignalSpy move(&picture, &PictureBox::MouseMove);
    QSignalSpy up(&picture, &PictureBox::MouseUp);
    // Inner pixel (px, py) lies at widget position (px + 2, py + 2).
    const auto expectAt = [](const QSignalSpy& spy, int px, int py) {
        ASSERT_FALSE(spy.isEmpty());
        EXPECT_NEAR(spy.last().at(0).toFloat(), -7.0 + px * 14.0 / 395.0, 1e-5);
        EXPECT_NEAR(spy.last().at(1).toFloat(), 5.25 - py * 10.5 / 346.0, 1e-5);
    };

    QTest::mousePress(&picture, Qt::LeftButton, {}, QPoint(2, 2));
    expectAt(down, 0, 0);
    QTest::mouseMove(&picture, QPoint(81, 175));
    expectAt(move, 79, 173);
    QTest::mouseRelease(&picture, Qt::LeftButton, {}, QPoint(300, 40));
    expectAt(up, 298, 38);

    // Moves without a button arrive too, and any button makes a press.
    QTest::mouseMove(&picture, QPoint(200, 100));
    EXPECT_EQ(move.count(), 2);
    QTest::mousePress(&picture, Qt::MiddleButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&picture, Qt::MiddleButton, {}, QPoint(10, 10));
    EXPECT_EQ(down.count(), 2);
    EXPECT_EQ(up.count(), 2);
}

}  // namespace
}  // namespace trenn
