// The window's icon has a picture drawn for every size of the icon theme, so that a scaled
// screen gets one made for its size rather than a stretched one.

#include "program_icon.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <algorithm>

TEST(ProgramIcon, EachSizeAndScaleGetsThePictureDrawnForIt) {
    const QIcon icon = vellork::programIcon();
    QList<QSize> sizes = icon.availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    EXPECT_EQ(
        sizes,
        (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    // A title bar's 16-pixel icon at 1x, 1.5x and 2x, and a task switcher's 32 at 2x.
    const struct {
        int logical;
        qreal scale;
        int drawn;
    } uses[] = {{16, 1.0, 16}, {16, 1.5, 24}, {16, 2.0, 32}, {32, 2.0, 64}};
    for (const auto& use : uses) {
        const QImage shown = icon.pixmap(QSize(use.logical, use.logical), use.scale).toImage();
        const QImage drawn(QStringLiteral(":/vellork/icons/icon-%1.png").arg(use.drawn));
        ASSERT_FALSE(drawn.isNull()) << use.drawn;
        // Compared as Qt draws them, with the colours premultiplied by the alpha.
        const auto format = QImage::Format_ARGB32_Premultiplied;
        EXPECT_TRUE(shown.convertToFormat(format) == drawn.convertToFormat(format))
            << use.logical << " px at " << use.scale << "x came out " << shown.width() << " px";
    }
}

int main(int argc, char** argv) {
    // No display is needed, also when CTest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
