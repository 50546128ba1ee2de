#pragma once

// The squeeze of one 64-byte block as bit masks (bit i stands for byte i), shared by every
// path. Only the masks of the four bytes that matter come in; the bytes to keep come out,
// and the state carries over to the next block without looking back.

#include "squeezer.h"

#include <cstdint>

namespace vellork {
namespace {  // each path compiles its own copy, for its own instruction set

struct ByteMasks {
    std::uint64_t space, cr, lf, tab;
};

// The state as 0 or 1 in whole words, so a kernel keeps it in registers from block to block.
struct Carry {
    std::uint64_t lineStart, spacePending, lastWasSpace, afterCR;

    explicit Carry(const SqueezeState& s)
        : lineStart(s.lineStart),
          spacePending(s.spacePending),
          lastWasSpace(s.lastWasSpace),
          afterCR(s.afterCR) {}
    void store(SqueezeState& s) const {
        s = {lineStart != 0, spacePending != 0, lastWasSpace != 0, afterCR != 0};
    }
};

struct KeptBytes {
    std::uint64_t keep;  // bytes written as they are (content, and one space of each run)
    bool leadingSpace;   // a space held over from the block before comes out first
};

inline KeptBytes resolveBlock(const ByteMasks& m, Carry& s) {
    const std::uint64_t sp = m.space;
    // Line ends: a CR, and an LF right after a CR. A lone LF, like a TAB, is content that
    // writes nothing: it keeps spaces around it from counting as leading or trailing.
    const std::uint64_t lineEnd = m.cr | (m.lf & ((m.cr << 1) | s.afterCR));
    const std::uint64_t nonBlank = ~(sp | lineEnd);             // content, TAB, lone LF
    const std::uint64_t content = ~(sp | m.cr | m.lf | m.tab);  // bytes that are written

    // Spaces whose nearest non-space byte before them is in the same line and not blank:
    // fill forward from each such byte through the run of spaces after it.
    const std::uint64_t runStarts = ((nonBlank << 1) | (s.lineStart ^ 1)) & sp;
    const std::uint64_t innerSpaces = ((sp + runStarts) ^ sp) & sp;
    // Non-blank bytes right after such a run: the run was inside the line.
    const std::uint64_t afterRun = nonBlank & ((innerSpaces << 1) | s.spacePending);

    // One space per run of the result: the first run since the last written content byte.
    // "A space was written since the last content byte" changes only at content (cleared)
    // and at afterRun bytes (set); between them it fills forward.
    const std::uint64_t events = content | afterRun;
    const std::uint64_t sets = afterRun & ~content;
    const std::uint64_t gaps = ~(events << 1);
    const std::uint64_t setSources = sets << 1;
    const std::uint64_t gapSeeds = ((setSources << 1) & gaps) | s.lastWasSpace;
    const std::uint64_t spaceWritten = setSources | (((gaps + (gapSeeds & gaps)) ^ gaps) & gaps);
    const std::uint64_t spaceOut = afterRun & ~spaceWritten;

    // The line is at its start when its last non-space byte ends a line: of two disjoint
    // masks, the one holding the higher bit is the larger number.
    if (nonBlank | lineEnd) s.lineStart = lineEnd > nonBlank;
    s.afterCR = m.cr >> 63;
    s.spacePending = innerSpaces >> 63;
    s.lastWasSpace = (events >> 63) ? (sets >> 63) : (spaceWritten >> 63);
    // The space of a run goes out in place of the run's last space, just before the byte
    // that ended it; for a run ending at byte 0 that space lies in the block before.
    return {content | (spaceOut >> 1), (spaceOut & 1) != 0};
}

}  // namespace
}  // namespace vellork
