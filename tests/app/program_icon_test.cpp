// The window's icon has a picture drawn for every size of the icon theme, so that a scaled
// screen gets one made for its size rather than a stretched one.

#include "program_icon.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(ProgramIcon, EachSizeAndScaleGetsThePictureDrawnForIt) {
    const QIcon icon = vellork::programIcon();
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    }
    // A title bar's 16-pixel icon at 1x, 1.5x and 2x, and a task switcher's 32 at 2x, each
    // compared as Qt draws it, with the colours premultiplied by the alpha.
    const auto format = QImage::Format_ARGB32_Premultiplied;
    for (const auto& [logical, scale, drawn] :
         {std::tuple{16, 1.0, 16}, {16, 1.5, 24}, {16, 2.0, 32}, {32, 2.0, 64}}) {
        const QImage shown = icon.pixmap(QSize(logical, logical), scale).toImage();
        const QImage picture(QStringLiteral(":/vellork/icons/icon-%1.png").arg(drawn));
        EXPECT_TRUE(!picture.isNull() &&
                    shown.convertToFormat(format) == picture.convertToFormat(format))
            << logical << " px at " << scale << "x came out " << shown.width() << " px";
    }
}

int main(int argc, char** argv) {
    // No display is needed, also when CTest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
