#include "numtext.h"
#include "figures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vellork::ratioChain;
using vellork::realText;
using vellork::roundTextTo2;
using vellork::textReal;

// Runs the chain one step at a time, as the batch does, to see every intermediate text.
struct Steps {
    std::string step1, step2, step3, step4;
};
Steps chainSteps(double before, double after, const std::string& sep) {
    Steps s;
    s.step1 =
        realText(*textReal(realText(before, sep), sep) / *textReal(realText(after, sep), sep), sep);
    s.step2 = realText(100 / *textReal(s.step1, sep), sep);
    s.step3 = realText(100 - *textReal(s.step2, sep), sep);
    s.step4 = realText(*roundTextTo2(s.step3, sep), sep);
    return s;
}

TEST(RatioChain, ReproducesTheTableStepByStep) {
    const struct {
        int before, after;
        Steps steps;
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
    for (const auto& row : rows) {
        const Steps s = chainSteps(row.before, row.after, ".");
        EXPECT_EQ(s.step1, row.steps.step1) << row.before << " -> " << row.after;
        EXPECT_EQ(s.step2, row.steps.step2) << row.before << " -> " << row.after;
        EXPECT_EQ(s.step3, row.steps.step3) << row.before << " -> " << row.after;
        EXPECT_EQ(s.step4, row.steps.step4) << row.before << " -> " << row.after;
        const auto chain =
            ratioChain(std::to_string(row.before), std::to_string(row.after), "", ".");
        EXPECT_TRUE(chain.complete);
        EXPECT_EQ(chain.text, row.steps.step4);
    }
}

TEST(RatioChain, UsesTheLocaleSeparatorThroughout) {
    const Steps s = chainSteps(1234, 1000, ",");
    EXPECT_EQ(s.step1, "1,234");
    EXPECT_EQ(s.step2, "81,0372771474878");
    EXPECT_EQ(ratioChain("1234", "1000", "", ",").text, "18,96");
    EXPECT_EQ(*textReal("18,96", ","), 18.96);
    EXPECT_FALSE(textReal("18.96", ","));  // the point is not a separator there
}

TEST(RatioChain, FailedStepsKeepTheTextAndMarkTheChainIncomplete) {
    // An empty source: step 1 gives 0, step 2 divides by zero; the chain never reaches a ratio.
    auto empty = ratioChain("0", "2", "0", ".");
    EXPECT_FALSE(empty.complete);
    // A size after of 0 divides by zero at once.
    EXPECT_FALSE(ratioChain("10", "0", "", ".").complete);
    EXPECT_FALSE(ratioChain("", "", "", ".").complete);
    EXPECT_EQ(ratioChain("", "", "", ".").text, "");  // nothing stored by failed steps

    vellork::PassResult emptyPage{true, 0, 2, {}, {}};
    std::string carried = "";
    const auto figures = vellork::rowFigures(emptyPage, carried, ".");
    EXPECT_EQ(figures.compressedSize, "2");
    EXPECT_EQ(figures.ratio, vellork::kNoRatioText);  // never "100 %"
    EXPECT_EQ(carried, "0");

    vellork::PassResult failed{false, 100, -1, "the disk is full", {}};
    const auto failedFigures = vellork::rowFigures(failed, carried, ".");
    EXPECT_EQ(failedFigures.compressedSize, vellork::kFailedText);
    EXPECT_EQ(failedFigures.ratio, vellork::kFailedText);

    vellork::PassResult good{true, 1000, 800, {}, {}};
    EXPECT_EQ(vellork::rowFigures(good, carried, ".").ratio, "20 %");
}

TEST(NumberText, RoundsHalfToEvenOnTheDecimalText) {
    EXPECT_EQ(*roundTextTo2("78.125", "."), 78.12);
    EXPECT_EQ(*roundTextTo2("78.375", "."), 78.38);
    EXPECT_EQ(*roundTextTo2("18.965", "."), 18.96);  // halfway as written, though not in binary
    EXPECT_EQ(*roundTextTo2("18.975", "."), 18.98);
    EXPECT_EQ(*roundTextTo2("-66.665", "."), -66.66);
    EXPECT_EQ(*roundTextTo2("99.995", "."), 100);
    EXPECT_EQ(*roundTextTo2("0.005", "."), 0);
    EXPECT_EQ(*roundTextTo2("0.0051", "."), 0.01);
    EXPECT_EQ(*roundTextTo2("1.5E-05", "."), 0);
    EXPECT_EQ(realText(*roundTextTo2("-0.001", "."), "."), "0");
    EXPECT_FALSE(roundTextTo2("", "."));
    EXPECT_FALSE(roundTextTo2("abc", "."));
}

TEST(NumberText, WritesAndReadsBackEveryForm) {
    EXPECT_EQ(realText(20, "."), "20");
    EXPECT_EQ(realText(0.6, "."), "0.6");
    EXPECT_EQ(realText(-25, "."), "-25");
    EXPECT_EQ(realText(1.0 / 3, "."), "0.333333333333333");
    EXPECT_EQ(realText(1.5e-5, "."), "1.5E-05");
    EXPECT_EQ(realText(2.5e20, ","), "2,5E+20");
    for (double v : {1.5e-5, 2.5e20, -1e-300, 123456789012345.0, 0.0001, 1e15, -0.6})
        EXPECT_EQ(*textReal(realText(v, ","), ","), *textReal(realText(v, "."), ".")) << v;
    EXPECT_EQ(vellork::integerText(3'000'000'000LL), "3000000000");  // past 32 bits
    for (const char* bad : {"", "-", "1.2.3", "inf", "nan", "12a", " 1", "1e"})
        EXPECT_FALSE(textReal(bad, ".")) << bad;
}

}  // namespace
