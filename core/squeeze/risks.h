#pragma once

// What the squeeze does to a page beyond whitespace, told before the page is squeezed: the
// squeeze joins lines with nothing between them, so words on both sides of a line end run
// together, preformatted text loses its layout and a script can lose its meaning.
//
// The scanner reads the page as HTML, just enough to know where a byte lies (text, a tag,
// a comment, a <pre>, <textarea>, <script> or <style> block), and follows the squeeze's own
// rules for where a space survives. Names of tags are read in any case. It reports:
//
// - joinedWords: two visible bytes with whitespace between them that the squeeze writes with
//   nothing between them: text outside tags on both sides of a removed line end, TAB or lone
//   LF ("a" CR LF "document" becomes "adocument"). A '>' before the gap or a '<' after it is
//   markup and glues nothing; the text of <!-- --> comments is not visible. Also counted here:
//   two parts of one tag run together (`<a` LF `href` becomes `<ahref`, `class="a` LF `b"`
//   becomes `class="ab"`): the tag changes meaning, which a reader wants to know about just
//   as much; an '=' or '>' beside the gap, a '/' after it and a closing quote before it are
//   left out, since the tag reads the same without the whitespace. In a <style> block, two
//   CSS words run together (`1px` LF `solid`), outside CSS comments.
// - changedBlocks: <pre> and <textarea> blocks whose visible content changes: a line end, a
//   TAB or a run of spaces in their text, followed by more of their text (whitespace at the
//   end of a block, and the line end right after the opening tag, show nothing). Words
//   joined inside such a block are part of the block's change and are not counted again.
// - brokenScripts: inline scripts that the join breaks (no src attribute, and no type or a
//   JavaScript one or module: any other type, JSON or a template, is data the browser does not
//   run). Broken are: a line comment (`//`, or `<!--` and a line-leading `-->`, which browsers
//   read as one) with code after it on a later line; two names or numbers run together
//   (`return` LF `x`, `a` TAB `b`); a line that ends a statement without a semicolon (after a
//   name, a number, a string, a regular expression, `)` or `]`) followed by a line that starts
//   with a name. That last rule leaves alone lines that end in an operator, `;`, `,`, `{` or
//   `}` or the head of if/for/while/with, and lines inside parentheses or brackets. Strings,
//   template literals, regular expressions and /* */ comments are read as such; their content is
//   not judged.
// - lastLineEnd: how the page ends now.
//
// Line numbers are 1-based and count line ends as an editor does (LF, CR LF and a lone CR each
// end a line). A joined word is reported on the line where its first part ends; a block or a
// script on the line where its opening tag starts.

#include "squeezer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vellork {

struct RiskBlockState;

// What squeezing a page would change beyond whitespace, found while streaming the page.
struct PageRisks {
    static constexpr std::size_t kListedLines = 5;  // line numbers kept per kind
    std::uint64_t joinedWords = 0;  // places where text outside tags would be glued together
    std::vector<std::uint64_t> joinedWordLines;  // the first few, 1-based line numbers
    std::uint64_t changedBlocks = 0;  // <pre> and <textarea> blocks whose content would change
    std::vector<std::uint64_t> changedBlockLines;  // the line each such block starts on
    std::uint64_t brokenScripts = 0;               // inline <script> blocks the join would break
    std::vector<std::uint64_t> brokenScriptLines;  // the line each such script starts on
    enum class LineEnd { CrLf, Lf, Cr, None };
    LineEnd lastLineEnd = LineEnd::CrLf;  // how the page ends now; it comes back ending in CR LF
    bool atRisk() const;                  // words joined, a block changed or a script broken
};

// Streams a page and tells what its squeeze would change beyond whitespace. The result does
// not depend on how the page is cut into chunks; memory stays flat in the page's size.
class RiskScanner {
public:
    // Reads whole blocks with the instructions of the given squeeze path (AVX2 for both wider
    // paths) where this processor has them, otherwise with the ones every processor has; the
    // report is the same.
    explicit RiskScanner(SqueezePath path = defaultSqueezePath());
    // Reads them with the given kernel, whatever the processor: for the tests, which also run
    // a portable build of a kernel this processor may lack the instructions for.
    using BlockKernel = const unsigned char* (*)(const unsigned char* p, const unsigned char* end,
                                                 RiskBlockState& state);
    explicit RiskScanner(BlockKernel kernel);
    RiskScanner(const RiskScanner& other);
    RiskScanner& operator=(const RiskScanner& other);
    ~RiskScanner();

    void feed(const char* data, std::size_t n);
    PageRisks finish();  // then ready for a new page

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vellork
