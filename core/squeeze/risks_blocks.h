#pragma once

// The risk scanner's rules for one 64-byte block as bit masks (bit i stands for byte i), shared
// by every kernel: each brings its own way to compare the bytes. What the byte by byte rules
// find one byte after another is found here for all the bytes of a block at once: where the
// squeeze glues two bytes, which bytes lie in text, in a tag or in a value, and where the first
// byte lies that the kernels leave to the rules.

#include "risks_paths.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__PCLMUL__) && !defined(VELLORK_PORTABLE_INTRINSICS)
#include <wmmintrin.h>
#endif

namespace vellork {
namespace {  // each kernel compiles its own copy, for its own instruction set

using Bits = std::uint64_t;

struct RiskMasks {
    Bits space, cr, lf, blank;  // blank: space, TAB, LF or CR
    Bits lt, gt, dq, eq, slash;
    Bits letter;  // ASCII letters
    // Bytes seldom seen where they matter: '\'' (a single-quoted value), '!' and '?' (a comment
    // or a declaration), FF (the end of a name).
    Bits rare;
    // This byte and the next, in either case: "pr", "sc", "st" or "te", the way the names of
    // <pre>, <script>, <style> and <textarea> begin (and a few more, told apart later).
    Bits blockName;
};

// Bit i becomes the parity of bits 0 to i.
inline Bits prefixXor(Bits x) {
#if defined(__PCLMUL__) && !defined(VELLORK_PORTABLE_INTRINSICS)
    const __m128i product =
        _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
    return static_cast<Bits>(_mm_cvtsi128_si64(product));
#else
    for (int shift = 1; shift < 64; shift *= 2) x ^= x << shift;
    return x;
#endif
}

// After each byte: whether the last byte up to it in `set` or `reset` was in `set`; `before`
// tells for the bytes before the block. The two masks share no byte. Every run of bytes in
// neither starts right after one byte of the two (or at the block's start), so it holds at most
// one seed, and the addition fills each seeded run exactly.
inline Bits latch(Bits set, Bits reset, Bits before) {
    const Bits quiet = ~(set | reset);
    const Bits seeds = ((set << 1) | before) & quiet;
    return set | (((quiet + seeds) ^ quiet) & quiet);
}

// At each non-whitespace byte: whether the nearest non-whitespace byte before it is marked;
// `before` tells for the last one before the block. `marks` holds non-whitespace bytes only.
inline Bits markedBefore(Bits marks, Bits blank, Bits before) {
    const Bits next = (marks << 1) | before;
    return (next & ~blank) | ((blank + (next & blank)) & ~blank);
}

inline bool isBlankByte(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// What the kernels carry from block to block, as whole words so that it stays in registers.
// Bits are 0 or 1 and tell the state after the last byte of the block before.
struct BlockCarry {
    Bits afterCR;  // that byte is a CR
    Bits event;    // the last byte other than a space is a line end or a TAB, or may be one
    Bits inTag, inValue, inName;
    Bits lt;     // that byte is a '<'
    Bits endLt;  // that byte is the '/' of a "</" that opens an end tag
    Bits eq;     // that byte is a '='
    std::uint64_t line;
    // In a <pre> block not yet counted as changed: whitespace the squeeze changes has been
    // read in its text, and its last byte of text read is a space.
    bool watching, changePending;
    Bits prevSpace;
    // A <pre>, <script>, <style> or <textarea> tag being read: its name, what it names, and its
    // line. The rules take over at its '>', unless it opens a script the browser does not run.
    const unsigned char* blockTag;
    std::uint8_t blockNameLength;
    ScanElement block;
    bool blockEnds;
    std::uint64_t blockTagLine;
};

// Where the kernel took over, or read on after the text of a script, for whitespace that began
// before.
struct BlockEntry {
    const unsigned char* at;
    ScanWhitespace whitespace;
    unsigned char lastByte;
    ScanZone lastZone;
    std::uint64_t lastLine;
};

// The whitespace right before `at`: from the last non-whitespace byte before it, or from
// where the kernel took over, together with the squeeze's state at the start of it.
struct Gap {
    const unsigned char* from;
    const unsigned char* last;  // the non-whitespace byte before it, or null: before the entry
    ScanWhitespace whitespace;
};

inline Gap gapBefore(const unsigned char* blockStart, Bits earlier, const BlockEntry& entry) {
    if (earlier) {
        const unsigned char* last = blockStart + 63 - std::countl_zero(earlier);
        return {last + 1, last, ScanWhitespace{false, false, false, false, false, 0}};
    }
    const unsigned char* q = blockStart;
    while (q > entry.at && isBlankByte(q[-1])) --q;
    if (q > entry.at) return {q, q - 1, ScanWhitespace{false, false, false, false, false, 0}};
    ScanWhitespace whitespace = entry.whitespace;
    whitespace.line = 0;
    return {entry.at, nullptr, whitespace};
}

// Whether the last non-whitespace byte before a block is markup, from the byte itself and
// the markup at the block's start: whitespace changes no zone.
inline bool isMarkup(const Gap& gap, const BlockCarry& c, const BlockEntry& entry, Bits hidden) {
    if (!gap.last)
        return entry.lastZone != ScanZone::Text && entry.lastZone != ScanZone::Tag &&
               entry.lastZone != ScanZone::Value;
    switch (*gap.last) {
        case '>':
            return true;
        case '<':
            return !c.inTag;
        case '"':
            return c.inTag;
        case '=':
        case '/':
            return c.inTag && !c.inValue;
        default:
            return !c.inTag && hidden;
    }
}

inline BlockCarry enterBlocks(const RiskBlockState& s) {
    BlockCarry c{};
    c.afterCR = s.afterCR;
    c.event = s.gap;
    c.inTag = s.mode != ScanMode::Text;
    c.inValue = s.mode == ScanMode::Value;
    c.watching = s.preDepth && !s.blockCounted;
    c.changePending = s.changePending;
    c.prevSpace = s.prevSpace;
    c.eq = false;  // read only together with `event`, which tells of whitespace
    c.line = s.line;
    return c;
}

inline unsigned char lowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c | 0x20 : c;
}

// Bytes that cannot be part of a tag's name here: the name ends before them, or the rules
// take over there.
inline bool breaksName(unsigned char c) {
    return isBlankByte(c) || c == '\f' || c == '/' || c == '>' || c == '=' || c == '"' ||
           c == '\'' || c == '<';
}

// What a tag's name at `name` opens or closes, as the rules read it at its end; `told` is false
// when the name runs on past `end`. A name ended by an odd byte is left to the rules anyway.
inline ScanElement blockNamed(const unsigned char* name, const unsigned char* end, bool endTag,
                              std::uint32_t preDepth, std::uint8_t& length, bool& told) {
    char lowered[9];
    std::size_t n = 0;
    for (; name + n < end && !breaksName(name[n]) && n < sizeof lowered; ++n)
        lowered[n] = static_cast<char>(lowerAscii(name[n]));
    told = name + n < end;
    length = static_cast<std::uint8_t>(n);
    if (!told || n == sizeof lowered ||
        !(isBlankByte(name[n]) || name[n] == '\f' || name[n] == '/' || name[n] == '>'))
        return ScanElement::Other;
    const std::string_view named(lowered, n);
    if (endTag)  // of the end tags only </pre> does anything, and only inside a <pre>
        return named == "pre" && preDepth ? ScanElement::Pre : ScanElement::Other;
    return named == "pre"        ? ScanElement::Pre
           : named == "script"   ? ScanElement::Script
           : named == "style"    ? ScanElement::Style
           : named == "textarea" ? ScanElement::Textarea
                                 : ScanElement::Other;
}

// Hands the state before `at` back to the rules.
inline void leaveBlocks(const BlockCarry& c, const unsigned char* at, const Gap& gap,
                        bool lastPlain, const BlockEntry& entry, RiskBlockState& s) {
    if (c.watching) {
        s.changePending = c.changePending;
        s.prevSpace = c.prevSpace;
    }
    ScanWhitespace whitespace = gap.whitespace;
    for (const unsigned char* q = gap.from; q < at; ++q) whitespace.step(*q);
    static_cast<ScanWhitespace&>(s) = whitespace;
    s.line = c.line;
    s.lastByte = gap.last ? *gap.last : entry.lastByte;
    s.lastLine = gap.last ? c.line - whitespace.line : entry.lastLine;
    // Whitespace changes no zone: the last non-whitespace byte lies where the markup is now.
    s.lastZone = !lastPlain   ? ScanZone::Markup
                 : c.inValue  ? ScanZone::Value
                 : c.inTag    ? ScanZone::Tag
                 : s.preDepth ? ScanZone::Other
                              : ScanZone::Text;
    if (c.inTag) {  // inside an ordinary tag: what the rules take for one of another name
        s.element = ScanElement::Other;
        s.capturing = false;
    }
    if (c.blockTag && !c.inName && c.inTag) {  // past the name of a block's tag
        s.element = c.block;
        s.endTag = c.blockEnds;
        s.tagLine = c.blockTagLine;
        s.capturing = c.block == ScanElement::Script && !c.blockEnds;
        if (s.capturing) {  // what it has read of the tag since the name, as the rules keep it
            const unsigned char* attributes = c.blockTag + c.blockNameLength;
            const auto length = static_cast<std::size_t>(at - attributes);
            std::memcpy(s.capture, attributes, std::min(length, sizeof s.capture));
            s.captured = static_cast<std::uint16_t>(std::min(length, sizeof s.capture + 1));
        }
    }
    if (c.inValue) {
        s.mode = ScanMode::Value;
        s.quote = '"';
    } else if (c.inName) {  // the name so far, as the rules keep it; it began in this call
        s.mode = ScanMode::Name;
        s.tagLine = c.line;
        const unsigned char* name = at;
        while (!breaksName(name[-1])) --name;
        s.endTag = name[-1] == '/';
        const auto length = static_cast<std::size_t>(at - name);
        for (std::size_t i = 0; i < length && i < sizeof s.name; ++i)
            s.name[i] = static_cast<char>(lowerAscii(name[i]));
        s.nameLength = static_cast<std::uint8_t>(std::min(length, sizeof s.name + 1));
    } else if (c.endLt) {
        s.mode = ScanMode::EndLt;
        s.endTag = true;
        s.nameLength = 0;
        s.tagLine = c.line;
    } else if (c.inTag) {
        s.mode = ScanMode::Tag;
    } else if (c.lt) {
        s.mode = ScanMode::Lt;
        s.tagLine = c.line;
    } else {
        s.mode = ScanMode::Text;
    }
}

// Line ends in bytes the kernel passes over, after a byte that is no CR.
inline std::uint64_t lineBreaks(const unsigned char* from, const unsigned char* to) {
    std::uint64_t breaks = 0;
    for (const unsigned char* q = from; q < to; ++q)
        breaks += *q == '\r' || (*q == '\n' && (q == from || q[-1] != '\r'));
    return breaks;
}

// Just past the '>' that ends a comment whose "!--" starts at `bang`, after its '<': the first
// one after two '-' (the opening ones count). Null where there is none before `end`.
inline const unsigned char* commentEnd(const unsigned char* bang, const unsigned char* end) {
    if (end - bang < 4 || bang[0] != '!' || bang[1] != '-' || bang[2] != '-') return nullptr;
    for (const unsigned char* q = bang + 3; q < end; ++q) {
        q = static_cast<const unsigned char*>(
            std::memchr(q, '>', static_cast<std::size_t>(end - q)));
        if (!q) return nullptr;
        if (q[-1] == '-' && q[-2] == '-') return q + 1;
    }
    return nullptr;
}

// The byte after "</script" where the text of a script from `text` on ends: the first one
// followed by what ends a name. Null where there is none before `end`.
inline const unsigned char* scriptEnd(const unsigned char* text, const unsigned char* end) {
    static constexpr std::string_view endTag = "</script";
    for (const unsigned char* q = text; end - q > 8; ++q) {
        q = static_cast<const unsigned char*>(
            std::memchr(q, '<', static_cast<std::size_t>(end - q - 8)));
        if (!q) return nullptr;
        std::size_t matched = 1;
        while (matched < endTag.size() && lowerAscii(q[matched]) == endTag[matched]) ++matched;
        const unsigned char after = q[endTag.size()];
        if (matched == endTag.size() &&
            (isBlankByte(after) || after == '\f' || after == '/' || after == '>'))
            return q + endTag.size();
    }
    return nullptr;
}

// The carry where the kernel reads on after markup it passed over, in text or in a tag.
inline void readOn(BlockCarry& c, Bits inTag) {
    c.afterCR = c.event = c.inValue = c.inName = c.lt = c.endLt = c.eq = c.prevSpace = 0;
    c.inTag = inTag;
    c.blockTag = nullptr;
}

// Which of the bytes in `candidates`, themselves no markup, the squeeze glues to a
// non-whitespace byte before them that is no markup either: joined words. After the block's
// first non-whitespace byte the squeeze's state is known (nothing held back, no space written)
// and its rules run over the masks; whitespace that began in an earlier block is followed byte by
// byte.
inline std::uint64_t joinedWords(Bits candidates, const RiskMasks& m, Bits content, Bits plain,
                                 Bits lineBreak, const unsigned char* p, const BlockCarry& c,
                                 const BlockEntry& entry, Bits hidden, RiskBlockState& s) {
    const Bits lineEnd = m.cr | (m.lf & (m.cr << 1));  // a CR, and the LF of a CR LF
    const Bits nonBlank = ~(m.space | lineEnd);
    const Bits innerSpaces = ((m.space + ((nonBlank << 1) & m.space)) ^ m.space) & m.space;
    const Bits afterRun = nonBlank & (innerSpaces << 1);  // a held space is written before it
    // A carry through each run of whitespace that writes nothing reaches the byte after it.
    const Bits silent = m.blank & ~afterRun;
    const Bits glued = (silent + (m.blank & ~(m.blank << 1) & silent)) & content & ~afterRun;
    const Bits afterFirst = 0 - ((content & (0 - content)) << 1);
    Bits joined = candidates & afterFirst & glued & markedBefore(plain, m.blank, 0);
    Gap first{};  // the whitespace before the first candidate, where it began in an earlier block
    if (const Bits early = candidates & ~afterFirst) {
        first = gapBefore(p, 0, entry);
        const unsigned char* at = p + std::countr_zero(early);
        if (!isMarkup(first, c, entry, hidden)) {
            for (const unsigned char* q = first.from; q < at; ++q) first.whitespace.step(*q);
            if (first.whitespace.step(*at)) joined |= early;
        }
    }
    auto& lines = s.risks.joinedWordLines;
    for (Bits listed = joined; listed && lines.size() < PageRisks::kListedLines;
         listed &= listed - 1) {
        const Bits earlier = content & (listed ^ (listed - 1)) >> 1;
        const std::uint64_t line =
            earlier ? c.line + std::popcount(lineBreak & (~Bits{0} >> std::countl_zero(earlier)))
            : first.last ? c.line + std::popcount(lineBreak & (listed ^ (listed - 1)) >> 1) -
                               first.whitespace.line
                         : entry.lastLine;
        if (lines.empty() || lines.back() != line) lines.push_back(line);
    }
    return std::popcount(joined);
}

// Reads whole blocks while the byte after each lies before `end` as well.
template <typename Classify>
const unsigned char* scanBlocks(const unsigned char* p, const unsigned char* end, RiskBlockState& s,
                                Classify classify) {
    BlockEntry entry{p, s, s.lastByte, s.lastZone, s.lastLine};
    BlockCarry c = enterBlocks(s);
    const Bits hidden = s.preDepth ? ~Bits{0} : 0;  // words in a changed <pre> count no more
    std::uint64_t joined = 0;
    for (; end - p > 64; p += 64) {
        const RiskMasks m = classify(p);
        const Bits content = ~m.blank;
        const Bits lineBreak = m.cr | (m.lf & ~((m.cr << 1) | c.afterCR));
        // Whether a line end or a TAB lies between each byte and the non-whitespace byte before
        // it: without one the squeeze writes a space there and glues nothing.
        const Bits events = m.blank & ~m.space;
        const Bits eventBefore = markedBefore(events, m.space, c.event);

        // The markup, as if every '>' ended a tag; the first '>' inside a value stops the block.
        const Bits ltBefore = (m.lt << 1) | c.lt;
        const Bits setTag = ltBefore & (m.letter | m.slash);
        const Bits tag = latch(setTag, m.gt, c.inTag);
        const Bits tagBefore = (tag << 1) | c.inTag;
        const Bits opens = setTag & ~tagBefore;  // the byte after a '<' that opens a tag
        const Bits endLt = ((opens & m.slash) << 1) | c.endLt;
        const Bits nameStart = (opens | endLt) & m.letter;
        // A name runs on to the first byte that ends it; one with '=', a quote or '<' in it is
        // left to the rules, so that names hold none.
        const Bits odd = m.eq | m.dq | m.lt | m.rare;
        const Bits ordinary = ~(m.blank | m.slash | m.gt | odd);
        const Bits name = ((ordinary + (nameStart | c.inName)) ^ ordinary) & ordinary;
        const Bits nameBefore = (name << 1) | c.inName;
        const Bits quotes = m.dq & tagBefore;
        const Bits value = prefixXor(quotes) ^ (0 - c.inValue);
        const Bits valueBefore = (value << 1) | c.inValue;
        const Bits attributes = tagBefore & ~valueBefore;  // bytes read as the tag's own

        // The bytes left to the rules: a comment or a declaration (a rare byte after a '<' in
        // text), "</" without a name, a '>' inside a value, an odd byte in a name; and, seldom
        // seen, a '"' that opens no value and a single-quoted value (a rare byte after '='),
        // both told by the last non-whitespace byte before them.
        const Bits opensValue = quotes & ~valueBefore;
        Bits leave = (ltBefore & m.rare & ~tagBefore) | (endLt & ~m.letter & ~m.gt) |
                     (m.gt & valueBefore) | (nameBefore & ~name & odd);
        if ((opensValue & ~((m.eq << 1) | c.eq)) | (m.rare & attributes)) {
            const Gap gap = gapBefore(p, 0, entry);
            const bool eqBefore = gap.last ? *gap.last == '=' : entry.lastByte == '=';
            const Bits afterEq = markedBefore(m.eq, m.blank, eqBefore);
            leave |= (opensValue & ~afterEq) | (m.rare & attributes & afterEq);
        }

        // A tag whose name may be that of a block is read on to its '>', where the rules take
        // over; one the rest of the chunk does not tell is left to them at its name.
        const Bits closes = m.gt & attributes;
        if (c.blockTag) leave |= closes & (0 - closes);
        if (Bits named = nameStart & m.blockName) {
            for (named &= (leave & (0 - leave)) - 1; named; named &= named - 1) {
                const int at = std::countr_zero(named);
                const bool endTag = (endLt >> at) & 1;
                bool told;
                const ScanElement block =
                    blockNamed(p + at, end, endTag, s.preDepth, c.blockNameLength, told);
                if (!told) {
                    leave |= Bits{1} << at;
                    break;
                }
                if (block == ScanElement::Other) continue;
                c.blockTag = p + at;
                c.block = block;
                c.blockEnds = endTag;
                c.blockTagLine = c.line + std::popcount(lineBreak & ((Bits{1} << at) - 1));
                const Bits close = closes & (~Bits{0} << at);
                leave |= close & (0 - close);
                break;
            }
        }

        // Two glued bytes join words when neither is markup: whitespace changes no zone, so
        // both then lie in text, in one tag or in one value.
        const Bits textMode = ~(tagBefore | opens);  // the bytes read as text
        const auto plainBytes = [&] {
            return content & ~((m.lt & textMode) | m.gt | ((m.eq | m.slash) & attributes) | quotes |
                               (m.slash & opens) | (textMode & hidden));
        };

        // Up to the first byte left to the rules, or the whole block.
        Bits done = ~Bits{0};
        int at = 64;
        if (leave) {
            at = std::countr_zero(leave);
            done = (Bits{1} << at) - 1;
        }
        // A <pre> block changes where its text shows whitespace the squeeze changes (a line
        // end, a TAB, a second space) and then more of its text.
        const Bits textSpace = m.space & textMode;
        const Bits prevSpace = c.prevSpace;
        if (c.watching) {
            c.prevSpace = textSpace >> 63;
            const Bits changes =
                textMode & done &
                ((m.blank & ~m.space) | (textSpace & ((textSpace << 1) | prevSpace)));
            const Bits shows = textMode & content & ~m.lt & done;
            if (c.changePending ? shows : shows & (0 - ((changes & (0 - changes)) << 1))) {
                noteRisk(s.risks.changedBlocks, s.risks.changedBlockLines, s.blockLine);
                s.blockCounted = true;
                c.watching = false;
            }
            c.changePending = c.changePending || changes;
        }
        // Only bytes after a line end or a TAB can be glued, and neither a '>' nor a '<' in text
        // joins words.
        if (const Bits candidates = content & eventBefore & ~(m.gt | (m.lt & ~tagBefore)) & done) {
            const Bits plain = plainBytes();
            joined += joinedWords(candidates & plain, m, content, plain, lineBreak, p, c, entry,
                                  hidden, s);
        }
        c.line += std::popcount(lineBreak & done);
        // A comment, and the text of a script the browser does not run, are passed over here,
        // and the blocks read on after them; the rules take them where they end too late.
        if (at < 64 && ((ltBefore & m.rare & ~tagBefore) >> at) & 1) {
            if (const unsigned char* after = commentEnd(p + at, end); after && end - after > 64) {
                c.line += lineBreaks(p + at, after);
                readOn(c, 0);
                p = after - 64;
                continue;
            }
        } else if (at < 64 && c.blockTag && c.block == ScanElement::Script && !c.blockEnds &&
                   ((closes >> at) & 1)) {
            // What the rules keep of the tag, from the end of the name to the '>'.
            const unsigned char* attributes = c.blockTag + c.blockNameLength;
            const auto length = static_cast<std::size_t>(p + at + 1 - attributes);
            const unsigned char* after = nullptr;
            if (!scriptRunsInline(std::string_view(reinterpret_cast<const char*>(attributes),
                                                   std::min(length, sizeof s.capture)),
                                  length <= sizeof s.capture))
                after = scriptEnd(p + at + 1, end);
            if (after && end - after > 64) {
                // Read on in its end tag, after text the rules take for no zone.
                c.line += lineBreaks(p + at, after);
                entry = {after, ScanWhitespace{false, false, false, false, false, c.line},
                         after[-1], ScanZone::Other, c.line};
                readOn(c, 1);
                p = after - 64;
                continue;
            }
        }
        if (at < 64 || end - p <= 128) {  // the state before byte `at`
            const auto before = [at](Bits after, Bits carried) -> Bits {
                return at == 64 ? after >> 63 : ((after << 1 | carried) >> at) & 1;
            };
            const Bits earlier = content & done;
            const Gap gap = gapBefore(p, earlier, entry);
            const bool lastPlain = earlier ? (plainBytes() >> (63 - std::countl_zero(earlier))) & 1
                                           : !isMarkup(gap, c, entry, hidden);
            c.inTag = before(tag, c.inTag);
            c.inValue = before(value, c.inValue);
            c.inName = before(name, c.inName);
            c.lt = before(m.lt, c.lt);
            c.endLt = at == 64 ? (opens & m.slash) >> 63 : (endLt >> at) & 1;
            c.prevSpace = before(textSpace, prevSpace);
            s.risks.joinedWords += joined;
            leaveBlocks(c, p + at, gap, lastPlain, entry, s);
            return p + at;
        }
        c.afterCR = m.cr >> 63;
        c.inTag = tag >> 63;
        c.inValue = value >> 63;
        c.inName = name >> 63;
        c.lt = m.lt >> 63;
        c.endLt = (opens & m.slash) >> 63;
        c.eq = m.eq >> 63;
        if (events | content) c.event = events > content;
    }
    return p;  // less than a block and a byte: left to the rules
}

}  // namespace
}  // namespace vellork
