#include "reference.h"
#include "squeeze_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using vellork::testing::everySqueeze;
using vellork::testing::randomCuts;
using vellork::testing::randomPage;
using vellork::testing::squeezeCut;
using vellork::testing::squeezeWhole;

namespace {

using namespace std::string_literals;

TEST(Squeezer, SqueezesTheDocumentedCases) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"  <p>a</p>  \r\n\r\n<b>x</b>", "<p>a</p><b>x</b>\r\n"},
        {"Hello\r\nworld\r\n", "Helloworld\r\n"},
        {"a\r\n     \r\nb", "ab\r\n"},  // a line of spaces is dropped
        {"a\r\n\t\t\r\nb", "ab\r\n"},   // a line of tabs contributes nothing
        {"a\tb", "ab\r\n"},
        {"a \t b", "a b\r\n"},
        {"x     y", "x y\r\n"},
        {"\t  x", " x\r\n"},      // trim stops at the tab
        {"a  \n  b", "a b\r\n"},  // LF alone does not end a line
        {"a\rb\r", "ab\r\n"},     // CR alone does
        {"last line", "last line\r\n"},
        {"", "\r\n"},
        {"\r\n  \r\n\r\n", "\r\n"},
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff\r\n"},
        {"a\0  b\0"s, "a\0 b\0\r\n"s},  // NUL is ordinary content
        {"a \t\r\nb", "a b\r\n"},       // a space before a tab is not trailing
        {"a\r\n\t b", "a b\r\n"},       // nor one after a tab
        {"a \t\r\n\t b", "a b\r\n"},    // and runs join across deleted bytes
        {"a   \r\n   b", "ab\r\n"},     // trailing and leading spaces go
        {"\n  x", " x\r\n"},            // a lone LF is content for the trim
        {"a\r\r\n\nb", "ab\r\n"},
        {"   ", "\r\n"},
    };
    const auto squeezes = everySqueeze();
    for (const auto& c : cases) {
        for (const auto& s : squeezes)
            EXPECT_EQ(squeezeWhole(c.in, s.fresh), c.out)
                << s.name << ": " << ::testing::PrintToString(c.in);
        EXPECT_EQ(vellork::reference::squeeze(c.in), c.out)
            << "reference, input: " << ::testing::PrintToString(c.in);
    }
}

TEST(Squeezer, GivesTheSameResultWhereverTheInputIsCut) {
    // Every single cut and every pair of cuts of inputs built around the line-end and space rules.
    const std::string inputs[] = {"a \r\n b", "x\r\n\r\ny", " \t \r \n \t ", "ab  \t  \r\ncd  ",
                                  "\r\n\n \r"};
    for (const std::string& in : inputs) {
        const std::string expected = vellork::reference::squeeze(in);
        for (std::size_t i = 0; i <= in.size(); ++i)
            for (std::size_t j = i; j <= in.size(); ++j)
                ASSERT_EQ(squeezeCut(in, {i, j}), expected)
                    << ::testing::PrintToString(in) << " cut at " << i << "," << j;
    }
}

TEST(Squeezer, EveryPathCarriesItsStateAcrossBlocks) {
    // Runs of spaces, tabs and line ends that straddle the 64-byte blocks of the fast paths,
    // at every offset around a block edge.
    const std::string pieces[] = {"  \t  ", " \r\n ", "\r", "\n", "\t", "   \n   ", " \r \n"};
    const auto squeezes = everySqueeze();
    for (const std::string& piece : pieces)
        for (std::size_t at = 50; at < 80; ++at) {
            std::string page = std::string(200, 'w');
            page.replace(at, piece.size(), piece);
            page.replace(at + 64, piece.size(), piece);
            const std::string expected = vellork::reference::squeeze(page);
            for (const auto& s : squeezes)
                ASSERT_EQ(squeezeWhole(page, s.fresh), expected)
                    << s.name << ": " << ::testing::PrintToString(page);
        }
}

TEST(Squeezer, EveryPathMatchesTheLiteralStepsOnRandomPages) {
    for (const auto& s : everySqueeze()) {
        std::mt19937 rng(20261206);
        for (int round = 0; round < 20000; ++round) {
            const std::string page = randomPage(rng, round % 10 == 0 ? 2000 : 200);
            const std::string expected = vellork::reference::squeeze(page);
            ASSERT_EQ(squeezeCut(page, randomCuts(rng, page.size()), s.fresh), expected)
                << s.name << ", round " << round << ": " << ::testing::PrintToString(page);
        }
    }
}

TEST(Squeezer, MatchesTheLiteralStepsOnRealPages) {
    // HTML that Debian packages install on this machine, with CR LF and CR-only variants.
    std::mt19937 rng(7);
    const auto squeezes = everySqueeze();
    int pages = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/share/doc", ec);
         !ec && it != std::filesystem::recursive_directory_iterator() && pages < 40;
         it.increment(ec)) {
        if (it->path().extension() != ".html" || !it->is_regular_file()) continue;
        std::ifstream file(it->path(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        const std::string page = text.str();
        for (const std::string& variant : {page, vellork::reference::replaceAll(page, "\n", "\r\n"),
                                           vellork::reference::replaceAll(page, "\n", "\r")}) {
            const std::string expected = vellork::reference::squeeze(variant);
            for (const auto& s : squeezes)
                ASSERT_EQ(squeezeCut(variant, randomCuts(rng, variant.size()), s.fresh), expected)
                    << s.name << ": " << it->path();
        }
        ++pages;
    }
    if (pages == 0) GTEST_SKIP() << "no HTML pages installed under /usr/share/doc";
}

}  // namespace
