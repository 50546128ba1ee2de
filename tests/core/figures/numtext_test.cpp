#include "numtext.h"
#include "figures.h"
#include "reference.h"

#include <gtest/gtest.h>

namespace {

using namespace vellork;

// The separators the window meets: a point, a comma, and the Arabic one of two bytes.
const std::string kSeparators[] = {".", ",", "\xd9\xab"};

// A row's two figures as it shows them, after a pass that measured `before` and `after`, whatever
// the row before left in the chain.
std::string shown(std::int64_t before, std::int64_t after, const std::string& sep) {
    std::string carried = "7";
    const RowFigures f = rowFigures(true, before, after, carried, sep);
    return f.compressedSize + " | " + f.ratio;
}

TEST(NumberText, WritesReadsRoundsAndGivesEveryRowItsFiguresUnderEverySeparator) {
    // Each value written, read back and written again comes out as its text.
    const double values[] = {0.6,  1.0 / 3, 123456789012345.0, 0.0001, 1.5e-5, 2.5e20, -1e-300,
                             1e15, -0.0};
    const char* texts[] = {"0.6",     "0.333333333333333", "123456789012345", "0.0001", "1.5E-05",
                           "2.5E+20", "-1E-300",           "1E+15",           "0"};
    // Halfway as written, though not in binary: 18.965 rounds to the even 18.96.
    const std::pair<const char*, double> rounded[] = {
        {"78.125", 78.12}, {"78.375", 78.38},   {"18.965", 18.96},
        {"18.975", 18.98}, {"-66.665", -66.66}, {"99.995", 100},
        {"0.005", 0},      {"0.0051", 0.01},    {"1.5E-05", 0}};
    for (const std::string& sep : kSeparators) {
        for (std::size_t i = 0; i < std::size(values); ++i)
            EXPECT_EQ(realText(textReal(realText(values[i], sep), sep).value_or(7), sep),
                      reference::replaceAll(texts[i], ".", sep));
        for (const auto& [text, value] : rounded)
            EXPECT_EQ(roundTextTo2(reference::replaceAll(text, ".", sep), sep), value)
                << text << sep;
    }
    for (const char* bad : {"", "-", "1.2.3", "inf", "nan", "12a", " 1", "1e", "+-1", "1e5x"})
        EXPECT_FALSE(textReal(bad, ".") || roundTextTo2(bad, ".")) << bad;
    EXPECT_FALSE(textReal("18.96", ",") || textReal("18,96", "."));  // one separator only
    EXPECT_EQ(integerText(3'000'000'000LL), "3000000000");

    // A row's figures: every step goes through 15-digit text, so 8000 -> 7030 saves 12.13 %, not
    // 12.12. (An empty page and a failed pass are the window test's.)
    const std::tuple<int, int, const char*> rows[] = {
        {1000, 800, "20"},     {1000, 700, "30"},  {1234, 1000, "18.96"}, {32, 7, "78.12"},
        {8000, 7030, "12.13"}, {800, 1000, "-25"}, {3, 5, "-66.67"},      {2, 2, "0"}};
    for (const std::string& sep : kSeparators)
        for (const auto& [before, after, ratio] : rows)
            EXPECT_EQ(shown(before, after, sep), std::to_string(after) + " | " +
                                                     reference::replaceAll(ratio, ".", sep) + " %");
}

}  // namespace
