#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace vellork {

// The few bits that carry everything a later byte needs to know about the bytes before it.
struct SqueezeState {
    bool lineStart = true;      // no byte other than a space seen yet in the current line
    bool spacePending = false;  // spaces after the line's content, not yet known to be trailing
    bool lastWasSpace = false;  // the last byte written is a space
    bool afterCR = false;       // the previous byte was a CR, so an LF now completes its line end
};

// The ways the squeeze can run; each gives the same bytes, the later ones faster.
enum class SqueezePath { Scalar, Avx2, Avx512Vbmi2 };

std::string_view squeezePathName(SqueezePath path);
bool squeezePathSupported(SqueezePath path);
std::vector<SqueezePath> supportedSqueezePaths();
// The fastest path this processor supports, unless VELLORK_SQUEEZE_PATH names another
// supported one ("scalar", "avx2", "avx512vbmi2"). Chosen once per process.
SqueezePath defaultSqueezePath();

// Squeezes a page into one line, streaming: every line (ended by CR or CR LF; a lone LF stays
// inside its line) is trimmed of spaces at both ends, blank lines vanish, the lines are joined
// with nothing between them, every TAB and LF disappears and every run of spaces becomes one.
// finish() ends the result with CR LF. All other bytes pass through unchanged and in order.
// The result does not depend on where the input is cut into chunks.
class Squeezer {
public:
    // Room the output needs beyond the input's length, for feed() and for finish() alike.
    // One feed() writes at most n + 1 bytes (a space held back from an earlier chunk comes
    // out in front of this chunk) and finish() writes 2, but the fast paths store whole
    // words and may scribble past the end of what they wrote.
    static constexpr std::size_t kOutputRoom = 64;

    using BlockKernel = std::size_t (*)(const unsigned char* in, std::size_t blocks, char* out,
                                        SqueezeState& state);

    explicit Squeezer(SqueezePath path = defaultSqueezePath());
    // Runs the given block kernel, whatever the processor: for the tests, which also run a
    // portable build of a kernel this processor may lack the instructions for.
    explicit Squeezer(BlockKernel kernel) : kernel_(kernel) {}

    // Appends the squeezed form of in[0, n) to out and returns the bytes written.
    // out must have room for n + kOutputRoom bytes.
    std::size_t feed(const char* in, std::size_t n, char* out);

    // Writes the closing CR LF (and nothing else: trailing spaces of the last line are dropped).
    // Returns 2. The squeezer is then ready for a new page.
    std::size_t finish(char* out);

private:
    BlockKernel kernel_;
    SqueezeState state_;
};

}  // namespace vellork
