#pragma once

#include <cstddef>

namespace vellork {

// Squeezes a page into one line, streaming: every line (ended by CR or CR LF; a lone LF stays
// inside its line) is trimmed of spaces at both ends, blank lines vanish, the lines are joined
// with nothing between them, every TAB and LF disappears and every run of spaces becomes one.
// finish() ends the result with CR LF. All other bytes pass through unchanged and in order.
//
// The result does not depend on where the input is cut into chunks: the few bits below carry
// everything a later byte needs to know about the bytes before it.
class Squeezer {
public:
    // Worst case growth of one feed(): a space held back from an earlier chunk comes out
    // in front of this chunk's first byte.
    static constexpr std::size_t kMaxExtraOutput = 1;

    // Appends the squeezed form of in[0, n) to out and returns the bytes written.
    // out must have room for n + kMaxExtraOutput bytes.
    std::size_t feed(const char* in, std::size_t n, char* out);

    // Writes the closing CR LF (and nothing else: trailing spaces of the last line are dropped).
    // Returns 2. The squeezer is then ready for a new page.
    std::size_t finish(char* out);

private:
    bool lineStart_ = true;  // no byte other than a space seen yet in the current line
    bool spacePending_ =
        false;  // spaces seen after the line's content, not yet known to be trailing
    bool lastWasSpace_ = false;  // the last byte written is a space
    bool afterCR_ = false;       // the previous byte was a CR, so an LF now completes its line end
};

}  // namespace vellork
