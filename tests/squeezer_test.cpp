#include "reference.h"
#include "squeeze_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace vellork::testing;
using ::testing::PrintToString;
using vellork::reference::squeeze;

// Each case squeezed alone, and again between fillers that move its bytes across the 64-byte
// block edges of the fast paths, at the start of a line and inside one.
TEST(Squeezer, EveryPathSqueezesTheEdgeCases) {
    const std::pair<std::string, std::string> cases[] = {
        {"  <p>a</p>  \r\n\r\n<b>x</b>", "<p>a</p><b>x</b>\r\n"},  // CR LF ends a line
        {"a\rb\r", "ab\r\n"},                                      // so does a lone CR
        {"a  \n  b", "a b\r\n"},              // a lone LF stays in its line, written as nothing
        {"\t  x", " x\r\n"},                  // tabs vanish, yet the trim stops at them
        {"a \t\r\n\t b", "a b\r\n"},          // and runs join across the bytes removed
        {"a   \r\n   b     c", "ab c\r\n"},   // trailing and leading spaces go, a run becomes one
        {"a\r\n   \r\n\t\t\r\nb", "ab\r\n"},  // blank lines vanish
        {"", "\r\n"},
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff\r\n"},  // other bytes pass unchanged
        {std::string("a\0  b\0", 6), std::string("a\0 b\0\r\n", 7)},
    };
    for (const auto& [in, out] : cases) {
        ASSERT_EQ(squeeze(in), out) << PrintToString(in);
        for (const auto& s : everySqueeze())
            for (std::size_t at = 0; at < 160; ++at) {
                const std::string fill(at % 80, at < 80 ? ' ' : 'w'), page = fill + in + fill;
                ASSERT_EQ(squeezeCut(page, {}, s.fresh), squeeze(page))
                    << s.name << ": " << PrintToString(page);
            }
    }
}

// Random pages over the bytes the rules care about, some in long runs, and the HTML pages
// installed on this machine with each kind of line end, fed in chunks cut at random.
TEST(Squeezer, EveryPathMatchesTheLiteralStepsWhereverThePageIsCut) {
    std::mt19937 rng(20261206);
    static const char bytes[] = "  \t\r\na<\0\xff";  // and the closing NUL
    std::vector<std::string> pages(20000);
    for (std::size_t i = 0; i < pages.size(); ++i)
        for (std::size_t length = rng() % (i % 10 ? 200 : 2000); pages[i].size() < length;)
            pages[i].append(rng() % 16 ? 1 : rng() % 40, bytes[rng() % sizeof bytes]);
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it("/usr/share/doc", ec), end;
         !ec && it != end && pages.size() < 20060; it.increment(ec))
        for (const char* lineEnd : {"\n", "\r\n", "\r"})
            if (it->path().extension() == ".html")
                pages.push_back(vellork::reference::replaceAll(
                    (std::ostringstream() << std::ifstream(it->path()).rdbuf()).str(), "\n",
                    lineEnd));
    for (const auto& s : everySqueeze())
        for (const std::string& page : pages)
            ASSERT_EQ(squeezeCut(page, randomCuts(rng, page.size()), s.fresh), squeeze(page))
                << s.name << ": " << PrintToString(page);
}

}  // namespace
