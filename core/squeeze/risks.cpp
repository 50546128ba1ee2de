#include "risks.h"

#include "risks_paths.h"

#include <cstring>
#include <string>
#include <string_view>

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

}  // namespace

// Whether a <script> tag, from after its name to its '>', makes a script the browser runs
// from the page itself: no src, and no type, a JavaScript type or module. `whole` is false
// when the tag was too long to keep; it is then left alone.
bool scriptRunsInline(std::string_view tag, bool whole) {
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

namespace {

// Reads an inline script just far enough to tell whether joining its lines changes what it
// does. Fed every byte of the script; `glued` marks a byte that the squeeze writes right after
// the previous non-whitespace byte although whitespace lay between them.
class ScriptReader {
public:
    void feed(unsigned char c, bool glued);
    bool broken() const { return broken_; }

    // The bytes that matter next inside a comment or a string, which it reads no other byte
    // of; none elsewhere, where every byte matters.
    std::string_view matters() const {
        switch (in_) {
            case In::LineComment:
                return "\r\n";
            case In::BlockComment:  // after a '*', a '/' ends it
                return starSeen_ ? "" : "*";
            case In::Single:
            case In::Double:
                return escaped_ ? "" : in_ == In::Single ? "'\\\r\n" : "\"\\\r\n";
            default:
                return "";
        }
    }
    // What passing over other bytes leaves behind.
    void passed(bool nonBlank, bool lineEnd) {
        if (nonBlank) prevCode_ = 0;
        starSeen_ = false;
        if (lineEnd && in_ == In::BlockComment) lineBreak();
    }

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

struct RiskScanner::State : RiskBlockState {
    using Zone = ScanZone;
    using Mode = ScanMode;
    using Element = ScanElement;

    explicit State(RiskBlockKernel blocks) : kernel(blocks) {}

    void step(unsigned char c);
    Zone markup(unsigned char c, bool glued);
    bool passes() const;
    const unsigned char* pass(const unsigned char* p, const unsigned char* end);
    void passOver(const unsigned char* from, const unsigned char* to, Zone zone);
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
            noteRisk(risks.brokenScripts, risks.brokenScriptLines, scriptLine);
        scriptRuns = false;
    }

    RiskBlockKernel kernel;
    std::uint64_t size = 0;
    unsigned char lastTwo[2] = {0, 0};  // the page's last two bytes, for its line end

    std::uint8_t dashes = 0;  // '-' seen in a row in a comment

    // Raw text: a <script>, <style> or <textarea> block, up to its end tag.
    Element raw = Element::Other;
    std::uint8_t rawMatch = 0;  // bytes of the end tag matched
    ScriptReader script;
    bool scriptRuns = false;
    std::uint64_t scriptLine = 0;
    StyleReader style;

    // A <pre> or <textarea> block.
    bool inBlock = false;
};

void RiskScanner::State::step(unsigned char c) {
    const bool glued = ScanWhitespace::step(c);
    const Zone zone = markup(c, glued);
    if (isBlank(c)) return;
    if (glued && zone == lastZone &&
        (zone == Zone::Text || zone == Zone::Tag || zone == Zone::Value))
        noteRisk(risks.joinedWords, risks.joinedWordLines, lastLine);
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
                    noteRisk(risks.joinedWords, risks.joinedWordLines, lastLine);
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
            scriptRuns = scriptRunsInline(
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
        noteRisk(risks.changedBlocks, risks.changedBlockLines, blockLine);
    }
}

RiskScanner::RiskScanner(SqueezePath path) : RiskScanner(riskKernelFor(path)) {}
RiskScanner::RiskScanner(RiskBlockKernel kernel) : state_(std::make_unique<State>(kernel)) {}
RiskScanner::RiskScanner(const RiskScanner& other)
    : state_(std::make_unique<State>(*other.state_)) {}
RiskScanner& RiskScanner::operator=(const RiskScanner& other) {
    *state_ = *other.state_;
    return *this;
}
RiskScanner::~RiskScanner() = default;

// Whether bytes from here on matter only as whitespace and for the line count: inside a comment,
// in the text of a script away from its end tag, where it is not read (one the browser does not
// run, one already broken) or where the reader reads only a few bytes (a comment or a string).
bool RiskScanner::State::passes() const {
    return mode == Mode::Comment || (mode == Mode::Raw && raw == Element::Script && rawMatch == 0 &&
                                     (!scriptRuns || script.broken() || !script.matters().empty()));
}

// Passes over such bytes, up to the first that may matter: a '>' in a comment, a '<' in the
// text of a script, or one the script's reader reads.
const unsigned char* RiskScanner::State::pass(const unsigned char* p, const unsigned char* end) {
    const bool comment = mode == Mode::Comment,
               reading = !comment && scriptRuns && !script.broken();
    const std::string_view stops = comment ? ">" : reading ? script.matters() : "";
    bool stop[256] = {};
    stop[static_cast<unsigned char>(comment ? '>' : '<')] = true;
    for (const char c : stops) stop[static_cast<unsigned char>(c)] = true;
    const unsigned char* to = p;
    bool nonBlank = false, lineEnd = false;
    for (; to < end && !stop[*to]; ++to) {
        nonBlank = nonBlank || !isBlank(*to);
        lineEnd = lineEnd || isLineEnd(*to);
    }
    if (comment) {  // the '-' right before it, as the comment counts them
        std::uint8_t run = 0;
        while (run < 2 && to - run > p && to[-1 - run] == '-') ++run;
        dashes = to - run > p ? run : std::min<std::uint8_t>(2, dashes + run);
    }
    if (reading && to > p) script.passed(nonBlank, lineEnd);
    passOver(p, to, comment ? Zone::Markup : Zone::Other);
    return to;
}

void RiskScanner::State::passOver(const unsigned char* from, const unsigned char* to, Zone zone) {
    const unsigned char* last = to;  // just past the last non-whitespace byte
    while (last > from && isBlank(last[-1])) --last;
    if (last > from) {
        for (const unsigned char* q = from; q < last; ++q)
            line += *q == kCR || (*q == kLF && !(q > from ? q[-1] == kCR : afterCR));
        static_cast<ScanWhitespace&>(*this) = {false, false, false, false, false, line};
        lastByte = last[-1];
        lastZone = zone;
        lastLine = line;
    }
    for (const unsigned char* q = last; q < to; ++q) ScanWhitespace::step(*q);
}

void RiskScanner::feed(const char* data, std::size_t n) {
    State& s = *state_;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + n;
    // Where more than a block is left, the kernel reads whole blocks for as long as it can, and
    // bytes that cannot matter are passed over; the rules take the bytes left, at least one,
    // until either may run again. Fed a byte at a time, the rules read every byte.
    const auto fastMayRun = [&] { return end - p > 64 && (s.kernelMayRun() || s.passes()); };
    while (p < end) {
        if (end - p > 64 && s.kernelMayRun()) {
            p = s.kernel(p, end, s);
        } else if (end - p > 64 && s.passes()) {
            p = s.pass(p, end);
        }
        if (p == end) break;
        do s.step(*p++);
        while (p < end && !fastMayRun());
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
    s = State(s.kernel);
    return risks;
}

}  // namespace vellork
