#include "risks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellork {

namespace {

constexpr unsigned char kTab = 9, kLF = 10, kCR = 13, kSpace = 32;

bool isBlank(unsigned char c) {
    return c == kSpace || c == kTab || c == kLF || c == kCR;
}
bool isLineEnd(unsigned char c) {
    return c == kLF || c == kCR;
}
bool isAsciiLetter(unsigned char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}
bool isDigit(unsigned char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}
unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c | 0x20 : c;
}
// Bytes above ASCII are taken for letters: they are parts of names in every script's encoding.
bool isScriptWord(unsigned char c) {
    return isAsciiLetter(c) || isDigit(c) || c == '_' || c == '$' || c >= 0x80;
}
bool isStyleWord(unsigned char c) {
    return isAsciiLetter(c) || isDigit(c) || c == '_' || c == '-' || c >= 0x80;
}
// What may follow a tag's name: the name is whole.
bool endsName(unsigned char c) {
    return isBlank(c) || c == '\f' || c == '/' || c == '>';
}

void note(std::uint64_t& count, std::vector<std::uint64_t>& lines, std::uint64_t line) {
    ++count;
    if (lines.size() < PageRisks::kListedLines && (lines.empty() || lines.back() != line))
        lines.push_back(line);
}

// 64 bytes of a chunk from `base` on, as one bit per byte for each byte that may end a run of
// bytes that cannot matter. Bits past the chunk's end are set in `past`, so that every search
// stops there.
struct Window {
    const unsigned char* base = nullptr;
    std::uint64_t lt, gt, dq, sq, space, dash, control, past;

    void load(const unsigned char* at, const unsigned char* end) {
        unsigned char copy[64];
        const unsigned char* bytes = at;
        past = 0;
        if (end - at < 64) {  // the chunk's tail: a copy, with bytes that stop nothing after it
            std::memset(copy, 'a', sizeof copy);
            std::memcpy(copy, at, static_cast<std::size_t>(end - at));
            bytes = copy;
            past = ~std::uint64_t{0} << (end - at);
        }
        base = at;
        lt = gt = dq = sq = space = dash = control = 0;
#if defined(__SSE2__)
        for (int k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
            const auto bits = [&](__m128i hit) {
                return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                       << (16 * k);
            };
            const auto equal = [&](char c) { return bits(_mm_cmpeq_epi8(x, _mm_set1_epi8(c))); };
            const __m128i fromTab = _mm_sub_epi8(x, _mm_set1_epi8(9));  // 0 to 4: TAB to CR
            control |= bits(_mm_cmpeq_epi8(_mm_min_epu8(fromTab, _mm_set1_epi8(4)), fromTab));
            lt |= equal('<');
            gt |= equal('>');
            dq |= equal('"');
            sq |= equal('\'');
            space |= equal(' ');
            dash |= equal('-');
        }
#else
        for (int k = 0; k < 64; ++k) {
            const std::uint64_t bit = std::uint64_t{1} << k;
            const unsigned char c = bytes[k];
            control |= static_cast<unsigned char>(c - 9) <= 4 ? bit : 0;
            lt |= c == '<' ? bit : 0;
            gt |= c == '>' ? bit : 0;
            dq |= c == '"' ? bit : 0;
            sq |= c == '\'' ? bit : 0;
            space |= c == ' ' ? bit : 0;
            dash |= c == '-' ? bit : 0;
        }
#endif
    }

    // The first byte from p on whose bit is set in `stops`, a TAB, an LF, a VT, an FF or a CR,
    // or `end`; `stops` picks from this window's masks.
    template <typename Stops>
    const unsigned char* find(const unsigned char* p, const unsigned char* end, Stops stops) {
        if (p >= end) return end;
        if (!base || p < base || p - base >= 64) load(p, end);
        for (;;) {
            const std::uint64_t hits =
                (stops(*this) | control | past) & (~std::uint64_t{0} << (p - base));
            if (hits) return std::min(base + std::countr_zero(hits), end);
            load(base + 64, end);
            p = base;
        }
    }
};

// Whether a <script> tag, from after its name to its '>', makes a script the browser runs
// from the page itself: no src, and no type, a JavaScript type or module. `whole` is false
// when the tag was too long to keep; it is then left alone.
bool runsInline(std::string_view tag, bool whole) {
    std::string type;
    bool typed = false;
    for (std::size_t i = 0; i < tag.size() && tag[i] != '>';) {
        if (isBlank(tag[i]) || tag[i] == '/' || tag[i] == '\f') {
            ++i;
            continue;
        }
        std::string name;
        for (; i < tag.size() && !endsName(tag[i]) && tag[i] != '='; ++i) name += lower(tag[i]);
        while (i < tag.size() && isBlank(tag[i])) ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            for (++i; i < tag.size() && isBlank(tag[i]);) ++i;
            const char quote = i < tag.size() && (tag[i] == '"' || tag[i] == '\'') ? tag[i] : 0;
            for (i += quote != 0; i < tag.size(); ++i) {
                if (quote ? tag[i] == quote : isBlank(tag[i]) || tag[i] == '>') break;
                value += lower(tag[i]);
            }
            i += quote != 0;
        }
        if (name == "src") return false;
        if (name == "type" && !typed) type = value, typed = true;
    }
    if (!whole) return false;
    type = type.substr(0, type.find(';'));
    const auto first = type.find_first_not_of(" \t\r\n"), last = type.find_last_not_of(" \t\r\n");
    type = first == std::string::npos ? "" : type.substr(first, last - first + 1);
    if (type.empty() || type == "module") return true;
    for (const char* script : {"javascript", "ecmascript", "jscript", "livescript"})
        if (type.find(script) != std::string::npos) return true;
    return false;
}

// Reads an inline script just far enough to tell whether joining its lines changes what it
// does. Fed every byte of the script; `glued` marks a byte that the squeeze writes right after
// the previous non-whitespace byte although whitespace lay between them.
class ScriptReader {
public:
    void feed(unsigned char c, bool glued);
    bool broken() const { return broken_; }

private:
    enum class In : std::uint8_t {
        Code,
        Held,
        LineComment,
        BlockComment,
        Single,
        Double,
        Template,
        Regex,
        RegexClass
    };
    enum class Nest : std::uint8_t { Paren, HeadParen, Bracket, Brace, TemplateExpr };

    void code(unsigned char c, bool glued);
    void token(unsigned char c);
    void startToken();
    void endWord();
    void held(unsigned char c, bool glued);
    void lineBreak() {
        sawBreak_ = true;
        lineStart_ = true;
    }
    void endValue() {
        in_ = In::Code;
        valueEnded_ = true;
        regexAllowed_ = false;
    }
    Nest pop() { return depth_ ? nest_[--depth_] : Nest::Brace; }
    bool atStatementLevel() const { return depth_ == 0 || nest_[depth_ - 1] == Nest::Brace; }

    In in_ = In::Code;
    bool broken_ = false;
    bool valueEnded_ = false;    // the last token can end a statement
    bool regexAllowed_ = true;   // a '/' now starts a regular expression, not a division
    bool sawBreak_ = false;      // a line break since the last token
    bool lineStart_ = true;      // no token yet on this line
    bool commentEnded_ = false;  // a line comment ended at a line break, and no code since
    bool headKeyword_ = false;   // the last token was if, for, while or with
    bool escaped_ = false, starSeen_ = false, dollarSeen_ = false;
    unsigned char prevCode_ = 0;  // the last non-whitespace byte, when it was code
    bool inWord_ = false;
    std::uint8_t wordLength_ = 0;
    char word_[11] = {};  // enough of a name to tell a keyword
    unsigned char held_[8] = {};
    std::uint8_t heldLength_ = 0;
    std::uint8_t depth_ = 0;
    Nest nest_[64] = {};
};

void ScriptReader::feed(unsigned char c, bool glued) {
    if (in_ == In::Code) return code(c, glued);
    if (in_ == In::Held) return held(c, glued);
    if (!isBlank(c)) prevCode_ = 0;
    switch (in_) {
        case In::LineComment:
            if (isLineEnd(c)) {
                in_ = In::Code;
                commentEnded_ = true;
                lineBreak();
            }
            return;
        case In::BlockComment:
            if (starSeen_ && c == '/') in_ = In::Code;
            starSeen_ = c == '*';
            if (isLineEnd(c)) lineBreak();
            return;
        case In::Single:
        case In::Double:
            if (escaped_) {
                escaped_ = c == kCR;  // a backslash before CR LF carries the string on
            } else if (c == '\\') {
                escaped_ = true;
            } else if (c == (in_ == In::Single ? '\'' : '"')) {
                endValue();
            } else if (isLineEnd(c)) {  // unclosed: the string ends with its line
                in_ = In::Code;
                lineBreak();
            }
            return;
        case In::Template:
            if (escaped_) {
                escaped_ = false;
                return;
            }
            if (c == '\\') {
                escaped_ = true;
            } else if (c == '`') {
                endValue();
            } else if (c == '{' && dollarSeen_) {
                if (depth_ == sizeof nest_) return;  // too deep to follow: read as text
                nest_[depth_++] = Nest::TemplateExpr;
                in_ = In::Code;
                valueEnded_ = false;
                regexAllowed_ = true;
            }
            dollarSeen_ = c == '$';
            return;
        case In::Regex:
        case In::RegexClass:
            if (escaped_) {
                escaped_ = false;
            } else if (c == '\\') {
                escaped_ = true;
            } else if (isLineEnd(c)) {  // unclosed
                in_ = In::Code;
                lineBreak();
            } else if (in_ == In::RegexClass) {
                if (c == ']') in_ = In::Regex;
            } else if (c == '[') {
                in_ = In::RegexClass;
            } else if (c == '/') {
                endValue();
            }
            return;
        default:
            return;
    }
}

void ScriptReader::code(unsigned char c, bool glued) {
    if (isScriptWord(c)) {
        if (!inWord_) {
            if (glued && isScriptWord(prevCode_)) broken_ = true;  // two names run together
            if (sawBreak_ && valueEnded_ && atStatementLevel()) broken_ = true;  // needs its break
            startToken();
            inWord_ = true;
            wordLength_ = 0;
        }
        if (wordLength_ < sizeof word_) word_[wordLength_] = static_cast<char>(c);
        if (wordLength_ <= sizeof word_) ++wordLength_;
        prevCode_ = c;
        return;
    }
    endWord();
    if (isBlank(c)) {
        if (isLineEnd(c)) lineBreak();
        return;
    }
    // Bytes that may open more than they seem: a comment, a regular expression, the end tag.
    if (c == '/' || c == '<' || (c == '-' && lineStart_)) {
        in_ = In::Held;
        held_[0] = c;
        heldLength_ = 1;
        return;
    }
    token(c);
}

void ScriptReader::startToken() {
    if (commentEnded_) broken_ = true;  // joined, the comment runs on over this code
    sawBreak_ = false;
    lineStart_ = false;
    headKeyword_ = false;
}

// A punctuator, or the opening of a string or a template literal.
void ScriptReader::token(unsigned char c) {
    const bool head = headKeyword_;
    startToken();
    prevCode_ = c;
    valueEnded_ = false;
    regexAllowed_ = true;
    switch (c) {
        case '\'':
            in_ = In::Single;
            escaped_ = false;
            break;
        case '"':
            in_ = In::Double;
            escaped_ = false;
            break;
        case '`':
            in_ = In::Template;
            escaped_ = dollarSeen_ = false;
            break;
        case '(':
        case '[':
        case '{':
            if (depth_ == sizeof nest_) return;  // too deep to follow: the levels stay open
            nest_[depth_++] = c == '('   ? (head ? Nest::HeadParen : Nest::Paren)
                              : c == '[' ? Nest::Bracket
                                         : Nest::Brace;
            break;
        case ')':
            valueEnded_ = pop() != Nest::HeadParen;
            regexAllowed_ = !valueEnded_;
            break;
        case ']':
            pop();
            valueEnded_ = true;
            regexAllowed_ = false;
            break;
        case '}':
            if (pop() == Nest::TemplateExpr) in_ = In::Template;
            break;
    }
    if (in_ != In::Code) prevCode_ = 0;
}

void ScriptReader::endWord() {
    if (!inWord_) return;
    inWord_ = false;
    const std::string_view word(word_, wordLength_ <= sizeof word_ ? wordLength_ : 0);
    valueEnded_ = true;
    regexAllowed_ = false;
    for (std::string_view head : {"if", "for", "while", "with"})
        if (word == head) headKeyword_ = true;
    // Keywords after which an expression must follow: a statement does not end here.
    for (std::string_view more :
         {"if",     "for",   "while",   "with",       "else",  "do",    "typeof", "void",
          "delete", "new",   "in",      "instanceof", "of",    "case",  "var",    "let",
          "const",  "throw", "extends", "yield",      "await", "return"})
        if (word == more) valueEnded_ = false, regexAllowed_ = true;
    // A line break after return ends the statement: joined, the next line becomes its value.
    if (word == "return") valueEnded_ = true;
}

void ScriptReader::held(unsigned char c, bool glued) {
    if (held_[0] == '/') {
        if (c == '/' || c == '*') {
            in_ = c == '/' ? In::LineComment : In::BlockComment;
            starSeen_ = false;
            prevCode_ = 0;
            return;
        }
        in_ = In::Code;
        if (regexAllowed_) {
            startToken();
            in_ = In::Regex;
            escaped_ = false;
            prevCode_ = 0;
        } else {
            token('/');
        }
        return feed(c, glued);
    }
    // "<!--", and "-->" at the start of a line, open a comment to the end of the line, as
    // "//" does; "</script" ends the script, whatever the reader thought of it.
    const std::string_view pattern = held_[0] == '-'                           ? "-->"
                                     : (heldLength_ > 1 ? held_[1] : c) == '/' ? "</script"
                                                                               : "<!--";
    if (heldLength_ < pattern.size() && lower(c) == pattern[heldLength_]) {
        held_[heldLength_++] = c;
        if (heldLength_ == pattern.size() && pattern[1] != '/') {
            in_ = In::LineComment;
            prevCode_ = 0;
        }
        return;
    }
    if (heldLength_ == pattern.size() && endsName(c)) return;  // the script ends here
    // An operator after all: read it and what was held after it.
    unsigned char replay[sizeof held_];
    const std::uint8_t n = heldLength_;
    std::memcpy(replay, held_, n);
    in_ = In::Code;
    token(replay[0]);
    for (std::uint8_t i = 1; i < n; ++i) feed(replay[i], false);
    feed(c, glued);
}

// Reads a <style> block just far enough to see two CSS words run together outside comments.
class StyleReader {
public:
    // True when c is the second of two words the squeeze runs together.
    bool feed(unsigned char c, bool glued) {
        if (comment_) {
            if (star_ && c == '/') comment_ = false, prev_ = 0;
            star_ = c == '*';
            return false;
        }
        if (isBlank(c)) return false;
        if (slash_ && c == '*') {
            comment_ = true;
            star_ = slash_ = false;
            return false;
        }
        slash_ = c == '/';
        const bool joined = glued && isStyleWord(prev_) && isStyleWord(c);
        prev_ = c;
        return joined;
    }

private:
    bool comment_ = false, star_ = false, slash_ = false;
    unsigned char prev_ = 0;
};

}  // namespace

bool PageRisks::atRisk() const {
    return joinedWords || changedBlocks || brokenScripts;
}

struct RiskScanner::State {
    // Where a non-whitespace byte lies, as far as gluing goes: two bytes glued count only when
    // both lie in text, both in the same tag outside values, or both in one attribute value.
    enum class Zone : std::uint8_t { None, Text, Tag, Value, Markup, Other };
    enum class Mode : std::uint8_t {
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
    enum class Element : std::uint8_t { Other, Pre, Textarea, Script, Style };

    void step(unsigned char c);
    Zone markup(unsigned char c, bool glued);
    const unsigned char* skip(const unsigned char* p, const unsigned char* end);
    void endOfTag();
    void blockByte(unsigned char c);
    void startBlock() {
        inBlock = true;
        blockCounted = changePending = prevSpace = false;
        fresh = 1;
        blockLine = tagLine;
    }
    void endScript() {
        if (scriptRuns && script.broken())
            note(risks.brokenScripts, risks.brokenScriptLines, scriptLine);
        scriptRuns = false;
    }

    PageRisks risks;
    std::uint64_t size = 0;
    Window window;                      // over the chunk being fed
    unsigned char lastTwo[2] = {0, 0};  // the page's last two bytes, for its line end

    // The squeeze's own state, as the squeezer keeps it, and whitespace since the last
    // non-whitespace byte.
    bool lineStart = true, spacePending = false, lastWasSpace = false, afterCR = false;
    bool gap = false;
    std::uint64_t line = 1;
    // The last non-whitespace byte, where it lay and on which line.
    unsigned char lastByte = 0;
    Zone lastZone = Zone::None;
    std::uint64_t lastLine = 1;

    Mode mode = Mode::Text;
    Element element = Element::Other;  // of the tag being read
    bool endTag = false;
    std::uint8_t nameLength = 0;
    char name[9] = {};
    std::uint64_t tagLine = 1;  // where the tag being read starts
    unsigned char quote = 0;
    std::uint8_t dashes = 0;  // '-' seen in a row in a comment
    // A <script> tag's attributes, kept to tell whether it runs.
    bool capturing = false;
    std::uint16_t captured = 0;
    char capture[512] = {};

    // Raw text: a <script>, <style> or <textarea> block, up to its end tag.
    Element raw = Element::Other;
    std::uint8_t rawMatch = 0;  // bytes of the end tag matched
    ScriptReader script;
    bool scriptRuns = false;
    std::uint64_t scriptLine = 0;
    StyleReader style;

    // A <pre> or <textarea> block.
    std::uint32_t preDepth = 0;
    bool inBlock = false, blockCounted = false, changePending = false, prevSpace = false;
    std::uint8_t fresh = 0;  // 1 right after the opening tag, 2 after a CR there
    std::uint64_t blockLine = 0;
};

void RiskScanner::State::step(unsigned char c) {
    bool glued = false;
    switch (c) {  // the squeeze's rules, as the squeezer applies them
        case kSpace:
            if (!lineStart) spacePending = true;
            afterCR = false;
            gap = true;
            break;
        case kCR:
            ++line;
            lineStart = true;
            spacePending = false;
            afterCR = true;
            gap = true;
            break;
        case kLF:
            gap = true;
            if (afterCR) {
                afterCR = false;
                break;
            }
            ++line;
            [[fallthrough]];
        case kTab:  // written as nothing, yet line content for the trim
            if (spacePending) lastWasSpace = true;
            spacePending = lineStart = afterCR = false;
            gap = true;
            break;
        default:
            glued = gap && !lastWasSpace && !spacePending;
            gap = spacePending = lineStart = afterCR = lastWasSpace = false;
    }
    const Zone zone = markup(c, glued);
    if (isBlank(c)) return;
    if (glued && zone == lastZone &&
        (zone == Zone::Text || zone == Zone::Tag || zone == Zone::Value))
        note(risks.joinedWords, risks.joinedWordLines, lastLine);
    lastByte = c;
    lastZone = zone;
    lastLine = line;
}

RiskScanner::State::Zone RiskScanner::State::markup(unsigned char c, bool glued) {
    for (;;) {
        switch (mode) {
            case Mode::Text:
                if (preDepth) blockByte(c);
                if (c == '<') {
                    mode = Mode::Lt;
                    tagLine = line;
                    return Zone::Markup;
                }
                return c == '>' ? Zone::Markup : preDepth ? Zone::Other : Zone::Text;
            case Mode::Lt:  // a tag, an end tag, a comment, a declaration, or text after all
                if (isAsciiLetter(c) || c == '/') {
                    mode = c == '/' ? Mode::EndLt : Mode::Name;
                    endTag = c == '/';
                    nameLength = 0;
                    if (endTag) return Zone::Markup;
                    continue;
                }
                if (c == '!' || c == '?') {
                    mode = c == '!' ? Mode::Bang : Mode::Bogus;
                    return Zone::Markup;
                }
                mode = Mode::Text;
                continue;
            case Mode::EndLt:
                if (isAsciiLetter(c)) {
                    mode = Mode::Name;
                    continue;
                }
                mode = c == '>' ? Mode::Text : Mode::Bogus;
                return Zone::Markup;
            case Mode::Bang:
                if (c == '-') {
                    mode = Mode::BangDash;
                    return Zone::Markup;
                }
                element = Element::Other;  // <!DOCTYPE and its like: read as a tag
                mode = Mode::Tag;
                continue;
            case Mode::BangDash:
                mode = c == '-' ? Mode::Comment : Mode::Bogus;
                dashes = 2;  // "<!-->" is a whole comment already
                if (c == '-') return Zone::Markup;
                continue;
            case Mode::Comment:
                if (c == '>' && dashes >= 2) mode = Mode::Text;
                dashes = c == '-' ? (dashes < 2 ? dashes + 1 : 2) : 0;
                return Zone::Markup;
            case Mode::Bogus:
                if (c == '>') mode = Mode::Text;
                return Zone::Markup;
            case Mode::Name:
                if (!endsName(c)) {
                    if (nameLength < sizeof name) name[nameLength] = static_cast<char>(lower(c));
                    if (nameLength <= sizeof name) ++nameLength;
                    return Zone::Tag;
                }
                {
                    const std::string_view tagName(name,
                                                   nameLength <= sizeof name ? nameLength : 0);
                    element = tagName == "pre"        ? Element::Pre
                              : tagName == "textarea" ? Element::Textarea
                              : tagName == "script"   ? Element::Script
                              : tagName == "style"    ? Element::Style
                                                      : Element::Other;
                }
                capturing = element == Element::Script && !endTag;
                captured = 0;
                mode = Mode::Tag;
                continue;
            case Mode::Tag:
            case Mode::Value:
                if (capturing) {
                    if (captured < sizeof capture) capture[captured] = static_cast<char>(c);
                    if (captured <= sizeof capture) ++captured;
                }
                if (mode == Mode::Value) {
                    if (c != quote) return Zone::Value;
                    mode = Mode::Tag;
                    return Zone::Markup;
                }
                if (c == '>') {
                    endOfTag();
                    return Zone::Markup;
                }
                if ((c == '"' || c == '\'') && lastByte == '=') {
                    quote = c;
                    mode = Mode::Value;
                    return Zone::Markup;
                }
                return c == '=' || c == '/' ? Zone::Markup : Zone::Tag;
            case Mode::Raw: {
                // The end tag ends the block, whatever the text around it is in its language.
                const std::string_view end = raw == Element::Script  ? "</script"
                                             : raw == Element::Style ? "</style"
                                                                     : "</textarea";
                if (rawMatch == end.size() && endsName(c)) {
                    if (raw == Element::Script) endScript();
                    if (raw == Element::Textarea && !preDepth) inBlock = false;
                    mode = Mode::Tag;
                    element = raw;
                    endTag = true;
                    capturing = false;
                    continue;
                }
                rawMatch =
                    rawMatch < end.size() && lower(c) == end[rawMatch] ? rawMatch + 1 : c == '<';
                if (raw == Element::Script && scriptRuns) script.feed(c, glued);
                if (raw == Element::Style && style.feed(c, glued))
                    note(risks.joinedWords, risks.joinedWordLines, lastLine);
                if (raw == Element::Textarea && (isBlank(c) || rawMatch == 0)) blockByte(c);
                return Zone::Other;
            }
        }
    }
}

void RiskScanner::State::endOfTag() {
    mode = Mode::Text;
    if (endTag) {
        if (element == Element::Pre && preDepth && --preDepth == 0) inBlock = false;
        return;
    }
    switch (element) {
        case Element::Pre:
            if (preDepth++ == 0 && !inBlock) startBlock();
            return;
        case Element::Textarea:
            if (!inBlock) startBlock();
            break;
        case Element::Script:
            capturing = false;
            scriptRuns = runsInline(
                std::string_view(capture, captured < sizeof capture ? captured : sizeof capture),
                captured <= sizeof capture);
            script = ScriptReader();
            scriptLine = tagLine;
            break;
        case Element::Style:
            style = StyleReader();
            break;
        case Element::Other:
            return;
    }
    mode = Mode::Raw;
    raw = element;
    rawMatch = 0;
}

// A byte of the text of a <pre> or <textarea> block: whitespace the squeeze changes, then
// more text, change what the block shows.
void RiskScanner::State::blockByte(unsigned char c) {
    if (fresh) {  // browsers drop a line end right after the opening tag
        const std::uint8_t was = fresh;
        fresh = was == 1 && c == kCR ? 2 : 0;
        if ((was == 1 && isLineEnd(c)) || (was == 2 && c == kLF)) return;
    }
    if (isBlank(c)) {
        if (c != kSpace || prevSpace) changePending = true;
        prevSpace = c == kSpace;
        return;
    }
    prevSpace = false;
    if (changePending && !blockCounted && c != '<') {
        blockCounted = true;
        note(risks.changedBlocks, risks.changedBlockLines, blockLine);
    }
}

// Whether the slow path must read a tag of this name: one that opens a block, or ends a <pre>.
bool namesBlock(const unsigned char* name, std::size_t length, bool endTag) {
    char lowered[8];
    if (length != 3 && (endTag || (length != 5 && length != 6 && length != 8))) return false;
    for (std::size_t i = 0; i < length; ++i) lowered[i] = static_cast<char>(lower(name[i]));
    const std::string_view n(lowered, length);
    return n == "pre" || n == "textarea" || n == "script" || n == "style";
}

// Past the bytes that cannot matter, as the byte by byte rules would read them: text up to a
// tag, the names of ordinary tags, attributes and their quoted values, runs of single spaces.
// It stops before anything else (a line end, a TAB, a comment, a block's tag, the chunk's end)
// and backs off to the last non-whitespace byte, so the slow path takes over from there. Only
// where the next non-whitespace byte is not glued: the squeeze's state after the bytes passed
// over is then the one after any written byte.
const unsigned char* RiskScanner::State::skip(const unsigned char* p, const unsigned char* end) {
    if (gap && !spacePending && !lastWasSpace) return p;
    if (capturing) return p;
    const unsigned char* const start = p;
    const unsigned char* eventEnd = p;  // just past the last byte that changed the mode
    Zone eventZone = Zone::None;        // that byte's zone
    for (;;) {
        const unsigned char* s;
        if (mode == Mode::Text) {
            // In a block, text and single spaces pass only while they change nothing.
            if (preDepth && (fresh || (changePending && !blockCounted))) break;
            s = preDepth ? window.find(p, end, [](Window& w) { return w.lt | w.space; })
                         : window.find(p, end, [](Window& w) { return w.lt; });
            if (s < end && *s == kSpace) {  // a single space changes nothing
                p = s;
                if ((s > start ? s[-1] == kSpace : prevSpace) || end - s < 2 || isBlank(s[1]))
                    break;
                p = s + 1;
                continue;
            }
            p = s;
            if (s == end || *s != '<' || end - s < 3) break;
            const bool close = s[1] == '/';
            const unsigned char* const name = s + 1 + close;
            if (!isAsciiLetter(*name)) break;
            const unsigned char* n = name;
            while (n < end && !endsName(*n)) ++n;
            if (n == end || namesBlock(name, static_cast<std::size_t>(n - name), close)) break;
            mode = Mode::Tag;
            element = Element::Other;
            endTag = close;
            p = eventEnd = n;
            eventZone = Zone::Tag;
        } else if (mode == Mode::Tag) {
            s = window.find(p, end, [](Window& w) { return w.gt | w.dq | w.sq; });
            p = s;
            if (s == end || static_cast<unsigned char>(*s - 9) <= 4) break;
            eventEnd = p = s + 1;
            eventZone = Zone::Markup;
            if (*s == '>') {
                if (element != Element::Other) {  // a block's tag ends on the slow path
                    p = s;
                    break;
                }
                mode = Mode::Text;
                continue;
            }
            const unsigned char* b = s;
            while (b > start && b[-1] == kSpace) --b;
            if ((b > start ? b[-1] : lastByte) == '=') {
                mode = Mode::Value;
                quote = *s;
            } else {
                eventZone = Zone::Tag;  // a quote out of place, part of the tag
            }
        } else if (mode == Mode::Value || mode == Mode::Bogus) {
            const unsigned char close = mode == Mode::Value ? quote : '>';
            s = window.find(p, end, [&](Window& w) {
                return close == '>' ? w.gt : close == '"' ? w.dq : w.sq;
            });
            p = s;
            if (s == end || *s != close) break;
            mode = mode == Mode::Value ? Mode::Tag : Mode::Text;
            eventEnd = p = s + 1;
            eventZone = Zone::Markup;
        } else if (mode == Mode::Comment) {
            p = window.find(p, end, [](Window& w) { return w.dash | w.gt; });
            break;
        } else {
            break;
        }
    }
    while (p > start && p[-1] == kSpace) --p;
    if (p == start) return p;
    lastByte = p[-1];
    lastLine = line;
    if (p == eventEnd) {
        lastZone = eventZone;
    } else if (mode == Mode::Text) {
        lastZone = lastByte == '>' ? Zone::Markup : preDepth ? Zone::Other : Zone::Text;
    } else if (mode == Mode::Tag) {
        lastZone = lastByte == '=' || lastByte == '/' ? Zone::Markup : Zone::Tag;
    } else {
        lastZone = mode == Mode::Value ? Zone::Value : Zone::Markup;
    }
    dashes = 0;
    prevSpace = false;
    gap = spacePending = lineStart = afterCR = lastWasSpace = false;
    return p;
}

RiskScanner::RiskScanner() : state_(std::make_unique<State>()) {}
RiskScanner::RiskScanner(const RiskScanner& other)
    : state_(std::make_unique<State>(*other.state_)) {}
RiskScanner& RiskScanner::operator=(const RiskScanner& other) {
    *state_ = *other.state_;
    return *this;
}
RiskScanner::~RiskScanner() = default;

void RiskScanner::feed(const char* data, std::size_t n) {
    State& s = *state_;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + n;
    s.window.base = nullptr;
    while (p < end) {
        s.step(*p++);
        if (p < end) p = s.skip(p, end);
    }
    if (n >= 2) {
        std::memcpy(s.lastTwo, end - 2, 2);
    } else if (n == 1) {
        s.lastTwo[0] = s.lastTwo[1];
        s.lastTwo[1] = end[-1];
    }
    s.size += n;
}

PageRisks RiskScanner::finish() {
    State& s = *state_;
    if (s.mode == State::Mode::Raw && s.raw == State::Element::Script) s.endScript();
    PageRisks risks = std::move(s.risks);
    using LineEnd = PageRisks::LineEnd;
    const bool lf = s.size > 0 && s.lastTwo[1] == kLF, cr = s.size > 0 && s.lastTwo[1] == kCR;
    risks.lastLineEnd = lf && s.size > 1 && s.lastTwo[0] == kCR ? LineEnd::CrLf
                        : lf                                    ? LineEnd::Lf
                        : cr                                    ? LineEnd::Cr
                                                                : LineEnd::None;
    s = State();
    return risks;
}

}  // namespace vellork
