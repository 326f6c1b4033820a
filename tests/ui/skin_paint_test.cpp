#include <gtest/gtest.h>
#include <QImage>
#include <QPainter>

#include <cstdlib>

#include "ui/skin/skin_paint.h"

namespace tovarek {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kLightBlue(191, 210, 234);
const QColor kGrey(100, 100, 100);

// Largest channel difference; alpha must be opaque.
int Distance(QRgb pixel, const QColor& c) {
    if (qAlpha(pixel) != 255) return 999;
    return std::max({std::abs(qRed(pixel) - c.red()), std::abs(qGreen(pixel) - c.green()),
                     std::abs(qBlue(pixel) - c.blue())});
}

QRgb At(const BackBuffer& b, int x, int y) {
    return b.Bitmap().pixel(x, y);
}

TEST(SkinPaint, MainStyleAt600x400) {
    BackBuffer b;
    BuildBackBuffer(b, 600, 400, kSkinMain);
    ASSERT_FALSE(b.IsEmpty());
    ASSERT_EQ(b.Bitmap().size(), QSize(600, 400));
    EXPECT_TRUE(b.Bitmap().hasAlphaChannel());

    // Frame: the outermost pixels all round are grey.
    for (QPoint p : {QPoint(0, 200), QPoint(599, 200), QPoint(300, 0), QPoint(300, 399),
                     QPoint(0, 0), QPoint(599, 399)})
        EXPECT_LE(Distance(At(b, p.x(), p.y()), kGrey), 2) << p.x() << "," << p.y();

    // Background: white at the left edge fading to light blue by a tenth of the width.
    EXPECT_LE(Distance(At(b, 1, 200), kWhite), 8);
    EXPECT_LE(Distance(At(b, 60, 200), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 400, 200), kLightBlue), 1);
    EXPECT_GT(qRed(At(b, 30, 200)), qRed(At(b, 45, 200)));  // still fading at x 30

    // The page-button separator: column 95 from y 25 to y 375, nowhere else.
    for (int y = 26; y <= 374; ++y) ASSERT_LE(Distance(At(b, 95, y), kGrey), 4) << y;
    EXPECT_LT(qRed(At(b, 95, 25)), qRed(At(b, 95, 23)));  // the ends are the line's ends
    EXPECT_LT(qRed(At(b, 95, 375)), qRed(At(b, 95, 377)));
    EXPECT_LE(Distance(At(b, 95, 23), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 95, 377), kLightBlue), 1);
    EXPECT_GT(Distance(At(b, 93, 200), kGrey), 60);
    EXPECT_GT(Distance(At(b, 97, 200), kGrey), 60);

    // The status separator at y 380, across the width, with background above and below.
    for (int x = 2; x <= 597; ++x) ASSERT_LE(Distance(At(b, x, 380), kGrey), 4) << x;
    EXPECT_LE(Distance(At(b, 300, 378), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 300, 382), kLightBlue), 1);

    // Title bar: light blue at the top edge, grey at y 10, back to light blue by y 20, and no
    // line below it.
    EXPECT_LE(Distance(At(b, 300, 10), kGrey), 3);
    EXPECT_LE(Distance(At(b, 300, 1), kLightBlue), 15);
    EXPECT_LE(Distance(At(b, 300, 19), kLightBlue), 15);
    EXPECT_GT(qRed(At(b, 300, 5)), qRed(At(b, 300, 10)));
    EXPECT_GT(qRed(At(b, 300, 15)), qRed(At(b, 300, 10)));
    EXPECT_LE(Distance(At(b, 300, 20), kLightBlue), 1);
    EXPECT_EQ(At(b, 300, 20), At(b, 300, 21));

    // Title text: white pixels near (5, 5), none further right on the bar.
    int whiteInTitle = 0;
    for (int y = 5; y < 20; ++y)
        for (int x = 5; x < 70; ++x) whiteInTitle += Distance(At(b, x, y), kWhite) <= 30;
    EXPECT_GT(whiteInTitle, 20);
    for (int x = 120; x < 500; ++x) ASSERT_GT(Distance(At(b, x, 10), kWhite), 100) << x;
}

TEST(SkinPaint, PageStyleIsADiagonalScaledToTheRectangle) {
    BackBuffer b;
    BuildBackBuffer(b, 500, 300, kSkinPage);
    ASSERT_EQ(b.Bitmap().size(), QSize(500, 300));
    EXPECT_LE(Distance(At(b, 0, 150), kGrey), 2);
    EXPECT_LE(Distance(At(b, 499, 150), kGrey), 2);
    EXPECT_LE(Distance(At(b, 2, 2), kWhite), 8);
    EXPECT_LE(Distance(At(b, 497, 297), kLightBlue), 1);
    // The gradient's value is x / 2w + y / 2h: (20, 6) and (10, 12) lie on one colour line,
    // which an unscaled 45-degree gradient would not give.
    EXPECT_EQ(At(b, 20, 6), At(b, 10, 12));
    EXPECT_NE(At(b, 20, 6), At(b, 10, 20));
    // Top right and bottom left are past the tenth: light blue.
    EXPECT_LE(Distance(At(b, 497, 2), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 2, 297), kLightBlue), 1);
    // No title bar, no lines.
    EXPECT_LE(Distance(At(b, 250, 10), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 95, 150), kLightBlue), 1);
}

TEST(SkinPaint, DialogStyleHasTitleBarAndChineseTitle) {
    BackBuffer b;
    BuildBackBuffer(b, 380, 200, kSkinDialog);
    ASSERT_EQ(b.Bitmap().size(), QSize(380, 200));
    EXPECT_LE(Distance(At(b, 300, 10), kGrey), 3);
    EXPECT_LE(Distance(At(b, 300, 20), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 0, 100), kGrey), 2);
    EXPECT_LE(Distance(At(b, 377, 197), kLightBlue), 1);
    EXPECT_LE(Distance(At(b, 95, 100), kLightBlue), 1);  // none of the main style's lines
    int whiteInTitle = 0;
    for (int y = 4; y < 20; ++y)
        for (int x = 5; x < 90; ++x) whiteInTitle += Distance(At(b, x, y), kWhite) <= 40;
    EXPECT_GT(whiteInTitle, 30);  // six CJK glyphs, drawn by a fallback font
}

TEST(SkinPaint, CopyBeforeTheFirstSizeReportsZeroAndDrawsNothing) {
    BackBuffer b;
    QImage screen(100, 100, QImage::Format_RGB32);
    screen.fill(Qt::red);
    const QImage before = screen;
    QPainter p(&screen);
    EXPECT_EQ(CopyBackBuffer(b, p, QRect(0, 0, 100, 100)), 0);
    p.end();
    EXPECT_EQ(screen, before);
}

TEST(SkinPaint, SizeChangesReplaceTheBufferAndEmptySizesLeaveNone) {
    BackBuffer b;
    BuildBackBuffer(b, 600, 400, kSkinMain);
    BuildBackBuffer(b, 300, 200, kSkinMain);
    EXPECT_EQ(b.Bitmap().size(), QSize(300, 200));
    EXPECT_LE(Distance(At(b, 95, 100), kGrey), 4);
    EXPECT_LE(Distance(At(b, 150, 180), kGrey), 4);  // separator follows the new height

    // Minimised: 0 x 0. No bitmap, no crash, paints report 0 until the size comes back.
    for (QSize size :
         {QSize(0, 0), QSize(0, 400), QSize(600, 0), QSize(-5, -5), QSize(1000000, 1000000)}) {
        BuildBackBuffer(b, size.width(), size.height(), kSkinMain);
        EXPECT_TRUE(b.IsEmpty()) << size.width() << "x" << size.height();
        QImage screen(10, 10, QImage::Format_RGB32);
        QPainter p(&screen);
        EXPECT_EQ(CopyBackBuffer(b, p, QRect(0, 0, 10, 10)), 0);
    }
    BuildBackBuffer(b, 600, 400, kSkinMain);
    EXPECT_EQ(b.Bitmap().size(), QSize(600, 400));
    // Sizes too small for the lines still paint what fits.
    for (QSize size : {QSize(1, 1), QSize(2, 30), QSize(120, 10)}) {
        BuildBackBuffer(b, size.width(), size.height(), kSkinMain);
        EXPECT_EQ(b.Bitmap().size(), size);
    }
}

TEST(SkinPaint, CopyTouchesOnlyThePaintRectangle) {
    BackBuffer b;
    BuildBackBuffer(b, 200, 100, kSkinMain);
    QImage screen(200, 100, QImage::Format_RGB32);
    screen.fill(Qt::red);
    QPainter p(&screen);
    const QRect area(90, 20, 30, 60);
    EXPECT_EQ(CopyBackBuffer(b, p, area), 1);
    // A paint area reaching past the bitmap copies the part that exists.
    EXPECT_EQ(CopyBackBuffer(b, p, QRect(190, 90, 50, 50)), 1);
    p.end();
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            const bool inside = area.contains(x, y) || (x >= 190 && y >= 90);
            if (inside)
                ASSERT_EQ(screen.pixel(x, y), b.Bitmap().pixel(x, y)) << x << "," << y;
            else
                ASSERT_EQ(screen.pixel(x, y), qRgb(255, 0, 0)) << x << "," << y;
        }
    }
}

TEST(SkinPaint, DoubleDensityKeepsTheLayoutInLogicalPixels) {
    BackBuffer b;
    BuildBackBuffer(b, 600, 400, kSkinMain, 2.0);
    ASSERT_EQ(b.Bitmap().size(), QSize(1200, 800));
    EXPECT_LE(Distance(b.Bitmap().pixel(191, 400), kGrey), 4);  // x 95 covers 190..191
    EXPECT_LE(Distance(b.Bitmap().pixel(600, 761), kGrey), 4);  // y 380 covers 760..761
    EXPECT_LE(Distance(b.Bitmap().pixel(600, 21), kGrey), 4);   // grey middle of the title bar
    QImage screen(600, 400, QImage::Format_RGB32);
    screen.setDevicePixelRatio(1.0);
    QPainter p(&screen);
    EXPECT_EQ(CopyBackBuffer(b, p, QRect(0, 0, 600, 400)), 1);
    p.end();
    EXPECT_LE(Distance(screen.pixel(95, 200), kGrey), 30);
}

}  // namespace
}  // namespace tovarek
