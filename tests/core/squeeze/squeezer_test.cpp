#include "reference.h"
#include "squeeze_test_util.h"

#include <gtest/gtest.h>

namespace {

using namespace vellork::testing;
using ::testing::PrintToString;
using vellork::reference::squeeze;

// Each case squeezed alone, and again between fillers that move its bytes across the 64-byte
// block edges of the fast paths, at the start of a line and inside one, whole and cut in two at
// each of its bytes in turn. Random pages cut at random are the fuzzer's part.
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
        {"a" + std::string(100, ' ') + "\t" + std::string(70, ' ') + "b",
         "a b\r\n"},                                           // runs past a block
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff\r\n"},  // other bytes pass unchanged
        {std::string("a\0  b\0", 6), std::string("a\0 b\0\r\n", 7)},
    };
    for (const auto& [in, out] : cases) {
        ASSERT_EQ(squeeze(in), out) << PrintToString(in);
        for (const auto& [name, squeezer] : everySqueeze())
            for (std::size_t at = 0; at < 160; ++at) {
                const std::string fill(at % 80, at < 80 ? ' ' : 'w'), page = fill + in + fill;
                for (const std::vector<std::size_t>& cuts :
                     {std::vector<std::size_t>{}, {fill.size() + at % (in.size() + 1)}})
                    ASSERT_EQ(squeezeCut(page, cuts, squeezer), squeeze(page))
                        << name << ": " << PrintToString(page) << " cut " << PrintToString(cuts);
            }
    }
}

}  // namespace
