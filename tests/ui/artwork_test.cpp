#include <gtest/gtest.h>
#include <QIcon>
#include <QImage>

#include "res/artwork.h"
#include "ui/skin/skin_ui.h"

namespace tovarek {
namespace {

struct StripCase {
    int id;
    QSize size;  // 1x, five frames stacked
};

TEST(Artwork, StripsHaveTheirSizesAndFiveDistinctFrames) {
    GetSkinUi();  // registers the resources
    const StripCase strips[] = {
        {131, QSize(14, 70)}, {132, QSize(38, 100)}, {133, QSize(27, 100)}, {134, QSize(61, 120)}};
    for (const StripCase& c : strips) {
        SCOPED_TRACE(c.id);
        const QImage strip(QString(":/PNG/%1").arg(c.id), "PNG");
        ASSERT_EQ(strip.size(), c.size);
        ASSERT_TRUE(strip.hasAlphaChannel());
        const QImage dense(QString(":/PNG/%1@2x").arg(c.id), "PNG");
        ASSERT_EQ(dense.size(), c.size * 2);
        const int h = c.size.height() / 5;
        for (int a = 0; a < 5; ++a) {
            const QImage frame = strip.copy(0, a * h, c.size.width(), h);
            int opaque = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < c.size.width(); ++x) opaque += qAlpha(frame.pixel(x, y)) > 0;
            EXPECT_GT(opaque, 0) << "frame " << a << " is empty";
            for (int b = a + 1; b < 5; ++b)
                EXPECT_NE(frame, strip.copy(0, b * h, c.size.width(), h))
                    << "frames " << a << " and " << b << " look the same";
        }
    }
}

TEST(Artwork, CheckBoxFramesTwoAndThreeAreTickedAndZeroIsNot) {
    // The settings page shows a ticked box with state 2 or 3: both must carry the tick, which
    // is the only dark-blue ink in the box's middle.
    const QImage strip(":/PNG/131", "PNG");
    auto inkInMiddle = [&](int frame) {
        int ink = 0;
        for (int y = 3; y < 11; ++y)
            for (int x = 3; x < 11; ++x) {
                const QRgb p = strip.pixel(x, frame * 14 + y);
                ink += qAlpha(p) > 128 && qBlue(p) > 120 && qRed(p) < 110;
            }
        return ink;
    };
    EXPECT_EQ(inkInMiddle(0), 0);
    EXPECT_GT(inkInMiddle(2), 6);
    EXPECT_GT(inkInMiddle(3), 6);
    EXPECT_EQ(inkInMiddle(4), 0);
}

TEST(Artwork, IconsComeInEverySizeAndDiffer) {
    for (int id : {128, 129, 130}) {
        SCOPED_TRACE(id);
        const QIcon icon = LoadResourceIcon(id);
        ASSERT_FALSE(icon.isNull());
        EXPECT_GE(icon.availableSizes().size(), 7);
        for (int size : {16, 32, 256}) {
            const QImage image(QString(":/ICON/%1/%2").arg(id).arg(size), "PNG");
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);  // solid in the middle
            EXPECT_EQ(qAlpha(image.pixel(0, size - 1)), 0);           // shaped, not square
        }
    }
    EXPECT_TRUE(LoadResourceIcon(127).isNull());
    const QImage on(":/ICON/129/32", "PNG"), off(":/ICON/130/32", "PNG");
    EXPECT_NE(on, off);
}

}  // namespace
}  // namespace tovarek
