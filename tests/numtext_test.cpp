#include "numtext.h"
#include "figures.h"

#include <gtest/gtest.h>
// The Windows cross build has no Qt; the locale walk below is about the Qt window's separator.
#if __has_include(<QLocale>)
#include <QLocale>
#define VELLORK_HAVE_QT_LOCALE 1
#endif

#include <clocale>
#include <string>

namespace {

using vellork::ratioChain;
using vellork::realText;
using vellork::roundTextTo2;
using vellork::textReal;

// The separators the window meets: a point, a comma, and the Arabic one of two bytes.
const std::string kSeparators[] = {".", ",", "\xd9\xab"};

vellork::PassResult pass(std::int64_t before, std::int64_t after, std::string error = {}) {
    return {error.empty(), before, after, error, {}};
}

std::string withSeparator(std::string text, const std::string& sep) {
    if (const auto at = text.find('.'); at != std::string::npos) text.replace(at, 1, sep);
    return text;
}

TEST(RatioChain, ReproducesTheTableStepByStepUnderEverySeparator) {
    const struct {
        int before, after;
        const char* steps[4];
    } rows[] = {
        {1000, 800, {"1.25", "80", "20", "20"}},
        {1000, 700, {"1.42857142857143", "69.9999999999999", "30.0000000000001", "30"}},
        {1234, 1000, {"1.234", "81.0372771474878", "18.9627228525122", "18.96"}},
        {32, 7, {"4.57142857142857", "21.875", "78.125", "78.12"}},
        {8000, 7030, {"1.13798008534851", "87.8749999999997", "12.1250000000003", "12.13"}},
        {800, 1000, {"0.8", "125", "-25", "-25"}},
        {3, 5, {"0.6", "166.666666666667", "-66.666666666667", "-66.67"}},
        {2, 2, {"1", "100", "0", "0"}},
    };
    for (const std::string& sep : kSeparators)
        for (const auto& row : rows) {
            // One step at a time, as the batch runs them, to see every intermediate text.
            const auto number = [&](const std::string& text) { return *textReal(text, sep); };
            std::string s[4];
            s[0] =
                realText(number(realText(row.before, sep)) / number(realText(row.after, sep)), sep);
            s[1] = realText(100 / number(s[0]), sep);
            s[2] = realText(100 - number(s[1]), sep);
            s[3] = realText(*roundTextTo2(s[2], sep), sep);
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(s[i], withSeparator(row.steps[i], sep))
                    << row.before << " -> " << row.after << ", step " << i + 1 << ", " << sep;
            const auto chain =
                ratioChain(std::to_string(row.before), std::to_string(row.after), "", sep);
            EXPECT_TRUE(chain.complete);
            EXPECT_EQ(chain.text, s[3]);
        }
    EXPECT_FALSE(textReal("18.96", ","));  // the point is not a separator there
    EXPECT_FALSE(textReal("18,96", "."));
}

#ifdef VELLORK_HAVE_QT_LOCALE
// The window's process runs under the C library's locale of the user (QApplication sets it)
// and takes the separator from Qt's: in a few dozen locales the two disagree (es_PE: ',' and
// '.'; ar_EG: '.' and U+066B). The figures must come out the same way in every one of them.
TEST(RatioChain, ShowsAPercentageInEveryLocale) {
    const char* locales[] = {"es_PE.UTF-8", "oc_FR.UTF-8", "ar_EG.UTF-8", "ps_AF.UTF-8",
                             "fr_CH.UTF-8", "de_DE.UTF-8", "en_US.UTF-8"};
    std::string refused;
    for (const char* name : locales) {
        if (!std::setlocale(LC_ALL, name)) {
            refused += std::string(" ") + name;
            continue;
        }
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        const std::string sep = QLocale().decimalPoint().toStdString();  // as the batch has it
        std::string carried;
        EXPECT_EQ(vellork::rowFigures(pass(8000, 7030), carried, sep).ratio, "12" + sep + "13 %")
            << name;
        EXPECT_EQ(textReal(realText(-1.5e-5, sep), sep), -1.5e-5) << name;
    }
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    if (!refused.empty()) std::printf("locales not installed, not tried:%s\n", refused.c_str());
    if (refused.size() == std::size(locales)) GTEST_SKIP() << "no locale of the list installed";
}
#endif

TEST(RatioChain, FailedStepsKeepTheTextAndMarkTheChainIncomplete) {
    // An empty source divides by zero at step 2, a size after of 0 at once.
    EXPECT_FALSE(ratioChain("0", "2", "0", ".").complete);
    EXPECT_FALSE(ratioChain("10", "0", "", ".").complete);
    const auto nothing = ratioChain("", "", "", ".");
    EXPECT_FALSE(nothing.complete);
    EXPECT_EQ(nothing.text, "");  // nothing stored by failed steps

    std::string carried = "";
    const auto figures = vellork::rowFigures(pass(0, 2), carried, ".");
    EXPECT_EQ(figures.compressedSize, "2");
    EXPECT_EQ(figures.ratio, vellork::kNoRatioText);  // never "100 %"
    EXPECT_EQ(carried, "0");

    const auto failed = vellork::rowFigures(pass(100, -1, "the disk is full"), carried, ".");
    EXPECT_EQ(failed.compressedSize, vellork::kFailedText);
    EXPECT_EQ(failed.ratio, vellork::kFailedText);
    EXPECT_EQ(vellork::rowFigures(pass(1000, 800), carried, ".").ratio, "20 %");
}

TEST(NumberText, RoundsHalfToEvenOnTheDecimalText) {
    // 18.965 is halfway as written, though not in binary.
    const struct {
        const char* text;
        double rounded;
    } cases[] = {{"78.125", 78.12}, {"78.375", 78.38},   {"18.965", 18.96},
                 {"18.975", 18.98}, {"-66.665", -66.66}, {"99.995", 100},
                 {"0.005", 0},      {"0.0051", 0.01},    {"1.5E-05", 0}};
    for (const auto& c : cases)
        for (const std::string& sep : kSeparators)
            EXPECT_EQ(roundTextTo2(withSeparator(c.text, sep), sep), c.rounded) << c.text << sep;
    EXPECT_EQ(realText(*roundTextTo2("-0.001", "."), "."), "0");
    EXPECT_FALSE(roundTextTo2("", "."));
    EXPECT_FALSE(roundTextTo2("abc", "."));
}

TEST(NumberText, WritesAndReadsBackEveryForm) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{20, "20"},
                 {0.6, "0.6"},
                 {-25, "-25"},
                 {1.0 / 3, "0.333333333333333"},
                 {123456789012345.0, "123456789012345"},
                 {0.0001, "0.0001"},
                 {1.5e-5, "1.5E-05"},
                 {2.5e20, "2.5E+20"},
                 {-1e-300, "-1E-300"},
                 {1e15, "1E+15"},
                 {-0.0, "0"}};
    for (const auto& c : cases)
        for (const std::string& sep : kSeparators) {
            const std::string text = withSeparator(c.text, sep);
            EXPECT_EQ(realText(c.value, sep), text) << c.value << " " << sep;
            const auto read = textReal(text, sep);
            ASSERT_TRUE(read) << text;
            EXPECT_EQ(realText(*read, sep), text);
        }
    EXPECT_EQ(vellork::integerText(3'000'000'000LL), "3000000000");  // past 32 bits
    for (const char* bad : {"", "-", "1.2.3", "inf", "nan", "12a", " 1", "1e", "+-1", "1e5x"})
        EXPECT_FALSE(textReal(bad, ".")) << bad;
}

}  // namespace
