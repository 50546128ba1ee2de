#pragma once

// The part of the risk scanner's state that its block kernels share with the byte by byte
// rules, and the kernels. A kernel takes over where the rules are in text, in an ordinary tag or
// in a double-quoted value, reads 64 bytes at a time as bit masks, passes over comments and the
// text of scripts the browser does not run, and hands back at the first byte it leaves to the
// rules (a declaration, a single-quoted value, the '>' of a <pre>, <textarea> or <style> tag or
// of a script that runs, odd markup) or where no more than a block is left.

#include "risks.h"
#include "squeeze_paths.h"

#include <cstdint>
#include <string_view>

namespace vellork {

// Where a non-whitespace byte lies, as far as gluing goes: two bytes glued count only when
// both lie in text, both in the same tag outside values, or both in one attribute value.
enum class ScanZone : std::uint8_t { None, Text, Tag, Value, Markup, Other };
enum class ScanMode : std::uint8_t {
    Text,
    Lt,
    EndLt,
    Bang,
    BangDash,
    Comment,
    Bogus,
    Name,
    Tag,
    Value,
    Raw
};
enum class ScanElement : std::uint8_t { Other, Pre, Textarea, Script, Style };

// The squeeze's own state, as the squeezer keeps it, whether whitespace follows the last
// non-whitespace byte, and the line.
struct ScanWhitespace {
    bool lineStart = true, spacePending = false, lastWasSpace = false, afterCR = false;
    bool gap = false;
    std::uint64_t line = 1;

    // The squeeze's rules for one byte, as the squeezer applies them. True when the byte is
    // written right after the last non-whitespace byte although whitespace lay between them.
    bool step(unsigned char c) {
        switch (c) {
            case ' ':
                if (!lineStart) spacePending = true;
                afterCR = false;
                gap = true;
                return false;
            case '\r':
                ++line;
                lineStart = true;
                spacePending = false;
                afterCR = true;
                gap = true;
                return false;
            case '\n':
                gap = true;
                if (afterCR) {
                    afterCR = false;
                    return false;
                }
                ++line;
                [[fallthrough]];
            case '\t':  // written as nothing, yet line content for the trim
                if (spacePending) lastWasSpace = true;
                spacePending = lineStart = afterCR = false;
                gap = true;
                return false;
            default: {
                const bool glued = gap && !lastWasSpace && !spacePending;
                gap = spacePending = lineStart = afterCR = lastWasSpace = false;
                return glued;
            }
        }
    }
};

struct RiskBlockState : ScanWhitespace {
    PageRisks risks;

    // The last non-whitespace byte, where it lay and on which line.
    unsigned char lastByte = 0;
    ScanZone lastZone = ScanZone::None;
    std::uint64_t lastLine = 1;

    ScanMode mode = ScanMode::Text;
    ScanElement element = ScanElement::Other;  // of the tag being read
    bool endTag = false;
    std::uint8_t nameLength = 0;
    char name[9] = {};
    std::uint64_t tagLine = 1;  // where the tag being read starts
    unsigned char quote = 0;
    // A <script> tag's attributes, kept to tell whether it runs.
    bool capturing = false;
    std::uint16_t captured = 0;
    char capture[512] = {};
    // A <pre> or <textarea> block.
    std::uint32_t preDepth = 0;  // <pre> blocks open
    bool blockCounted = false;   // the block open has been counted as changed
    bool changePending = false;  // whitespace in its text that the squeeze changes
    bool prevSpace = false;      // its last byte of text read was a space
    std::uint8_t fresh = 0;      // 1 right after the opening tag, 2 after a CR there
    std::uint64_t blockLine = 0;

    // Whether a kernel may take over here: in text, a tag or a double-quoted value of an
    // ordinary tag, but not at the first byte of a <pre> block, which the rules read.
    bool kernelMayRun() const {
        if (preDepth && fresh) return false;
        if (mode == ScanMode::Text) return true;
        return (mode == ScanMode::Tag || (mode == ScanMode::Value && quote == '"')) &&
               element == ScanElement::Other && !capturing;
    }
};

// Whether a <script> tag, from after its name to its '>', makes a script the browser runs from
// the page itself. `whole` is false when the tag was too long to keep.
bool scriptRunsInline(std::string_view tag, bool whole);

inline void noteRisk(std::uint64_t& count, std::vector<std::uint64_t>& lines, std::uint64_t line) {
    ++count;
    if (lines.size() < PageRisks::kListedLines && (lines.empty() || lines.back() != line))
        lines.push_back(line);
}

// Reads whole blocks of 64 bytes from `p` on, while they and the byte after them lie before
// `end`, and returns where it stopped; the state then holds everything up to there.
using RiskBlockKernel = RiskScanner::BlockKernel;

RiskBlockKernel riskKernelFor(SqueezePath path);
const unsigned char* scanBlocksPortable(const unsigned char* p, const unsigned char* end,
                                        RiskBlockState& state);
#if VELLORK_HAVE_X86_PATHS
const unsigned char* scanBlocksAvx2(const unsigned char* p, const unsigned char* end,
                                    RiskBlockState& state);
#endif

}  // namespace vellork
