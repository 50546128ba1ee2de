#include "squeeze_test_util.h"

#include <gtest/gtest.h>

namespace {

using vellork::testing::riskSummary;
using vellork::testing::scanCut;

// Pages with each kind of risk and without, and the summary of what the scanner finds in each:
// each kind of risk with its count and listed lines, then how the page ends.
const std::vector<std::pair<std::string, std::string>>& cases() {
    const std::string filler(70, 'w');  // more than a block: the fast paths run after a cut
    static const std::vector<std::pair<std::string, std::string>> all = {
        // Words glued where the squeeze removes a line end, a TAB or a lone LF without a space.
        {"a\r\ndocument", "joined 1 [1]"},
        {"a\rb\nc", "joined 2 [1 2]"},
        {"a  \r\n  b", "joined 1 [1]"},  // the trim takes the spaces
        {"a \n b", "safe"},              // a lone LF is inside its line: the spaces stay
        {"a\tb\t\tc", "joined 2 [1]"},
        {"a \t b, a\t b, a \tb", "safe"},
        {"x\r\n\r\n  \r\ny\nz\r\n" + filler + "\r\n\t\r" + filler, "joined 4 [1 4 5 6]"},
        {"a\rb\rc\rd\re\rf\rg", "joined 6 [1 2 3 4 5]"},
        {"<p>a</p>\r\n<p>b</p>\r\nc\r\n<b>d</b>", "safe"},  // markup on either side
        {"a >\r\nb < c\r\nd", "joined 1 [2]"},
        {"<!-- a\r\nb " + filler + " -- > --->c\r\nd", "joined 1 [2]"},
        {"<!---->a\r\nb<!-->c\r\nd" + filler, "joined 2 [1 2]"},
        {"<?-- a\r\nb >c\r\nd<!x\r\ny>--> e\r\nf", "joined 3 [2 3 4]"},  // "<?--" opens no comment
        // Tags: parts of one tag run together, but not at '=', a closing quote, '/' or '>'.
        {"<Z\r\nhref=x>", "joined 1 [1]"},
        {"<a class=\"a\r\nb\" href='" + filler + "\r\n'>", "joined 1 [1]"},
        {"<a href=x\r\ntitle=y><!DOCTYPE html\r\nPUBLIC>", "joined 2 [1 2]"},
        {"<a href\r\n=\r\n\"x\"\r\ntitle='y'\r\n/><br\r\n/>", "safe"},
        // Odd tags: a '>' or '<' in a value, quotes and '=' in names, a quote that opens no
        // value, names like those of blocks, "</" without a name.
        {"<a title=\"x>y\r\nz\" b\r\n=\">\"\r\nc><a href = \"x\r\n<y\">", "joined 2 [1 4]"},
        {"<a=b\r\nc><a\"b\r\nc><a<b\r\nc><a b\"c\r\nd\">", "joined 4 [1 2 3 4]"},
        {"<abcd=\"x\r\n\"z>", "joined 1 [1]"},
        {"<pre\fclass=c>x\r\ny</pre>a\fb\r\nc<a\fb\r\nc>", "joined 2 [2 3] blocks 1 [1]"},
        {"<strong\r\nclass=x><tex\r\nx><textareas>a\r\nb</textareas>", "joined 3 [1 2 3]"},
        {"a </ b\r\nc> d\r\ne", "joined 1 [2]"},
        // <style>: CSS words run together, outside comments.
        {"<STYLE>p{border:1px\r\nsolid}\r\n</style>", "joined 1 [1]"},
        {"<style>/* a\r\nb */p{}\r\ndiv,\r\na{}</style\r\n>", "safe"},
        // <pre> and <textarea>: whitespace the squeeze changes, then more of their text.
        {"<pre>x\r\ny</pre>", "blocks 1 [1]"},
        {"<PRE class=c>x  y</pre>", "blocks 1 [1]"},
        {"<pre>x\ty</pre>", "blocks 1 [1]"},
        {"<pre>\r\nx y\r\n</pre><pre>\nx </pre><textarea>\rx</textarea>", "safe"},
        {"<pre>\r\n\r\nx</pre>", "blocks 1 [1]"},
        {"<pre>a\r\n<b\r\nclass=x>c</b></pre>", "joined 1 [2] blocks 1 [1]"},
        {"<pre><b\r\nclass=x>c</b></pre>", "joined 1 [1]"},
        {"a\r\n<pre>x\r\ny\r\nz<pre>p\r\nq</pre>r</pre>\r\n<pre>\r\nu\tv</pre>", "blocks 2 [2 6]"},
        {"<textarea>a\r\n</b>c</textarea>", "blocks 1 [1]"},
        {"<textarea>a\r\n</textarea\r\n>", "safe"},
        {"</pre>a\r\nb", "joined 1 [1]"},  // inside a <pre> when read after one
        {"<pre>x\r\ny</pre>a\r\nb <b>c\r\nd</b> e\r\nf g\r\nh", "joined 4 [2 3 4 5] blocks 1 [1]"},
        {"<!-- <pre>x\r\ny</pre> -->", "safe"},
        // Scripts: a line comment that swallows the code after it.
        {"x\r\n<script>\r\n// c\r\nfoo()</script>", "scripts 1 [2]"},
        {"<script>foo() // c\r\n// d\r\n/* e */\r\n</script>", "safe"},
        {"<script>s = \"// x\" + '// y';\r\nr = /\\/\\/[/]/;\r\n/* // */\r\nt = `// "
         "${a}`;\r\nfoo();</script>",
         "safe"},
        {"<script><!--\r\nfoo();\r\n//--></script>", "scripts 1 [1]"},
        {"<script>// a\r\n  --> b\r\n</script>", "safe"},
        {"<script>// a\r\n--x</script>", "scripts 1 [1]"},
        {"<script>a < b\r\n// c\r\n</script>", "safe"},
        {"<script>// c\r\na < b</script>", "scripts 1 [1]"},
        {"<script>// c\r\n</scripts>\r\nx()</script>", "scripts 1 [1]"},
        // Statements that need their line break, and names run together.
        {"<script>a = b\r\nc = d</script>", "scripts 1 [1]"},
        {"<script>foo()\r\nbar()</script>", "scripts 1 [1]"},
        {"<script>x = [1]\r\n/* c\r\n*/ y = 'a'\r\nz = 2</script>", "scripts 1 [1]"},
        {"<script>return\tx</script><script>r = /a/\r\ng()</script>", "scripts 2 [1]"},
        {"<script>a = b;\r\nif (x)\r\nfoo();\r\nwhile (y)\r\n{ z = y +\r\n1 }\r\nq()</script>",
         "safe"},
        {"<script>f(a\r\n, b, c \n in d); x = [a,\r\nb]; o = {\r\na: 1\r\n}\r\nnew\r\n(x)</script>",
         "safe"},
        {"<script>t = `a\r\nb`\r\nc()</script>", "scripts 1 [1]"},
        // Only scripts the browser runs from the page: no src, a JavaScript type or module.
        {"<script src=a.js>a()\r\nb()</script><script type='application/ld+json'>a\r\nb</script>",
         "safe"},
        {"<script type=\"text/template\">a\r\nb</script><script type=text/plain>a\r\nb</script>",
         "safe"},
        {"<script src=x>a</scrip>b\r\nc</scripts>d\r\ne</SCRIPT >f\r\ng", "joined 1 [3]"},
        {"<script type=module>a\r\nb</script><script TYPE=\"text/javascript\">a\r\nb</script>",
         "scripts 2 [1 2]"},
        {"<script>s = '</script>\r\n<p>a\r\nb</p>", "joined 1 [2]"},
        {"<script>// c\r\nfoo()", "scripts 1 [1]"},  // the page ends inside the script
        // How the page ends.
        {"x\r\n", "safe, ends CR LF"},
        {"x\n", "safe, ends LF"},
        {"x\r", "safe, ends CR"},
        {"", "safe"},
    };
    return all;
}

// Each page scanned byte by byte (the rules alone), cut in two at each of its bytes and whole,
// by one scanner reused from page to page, so that what a chunk or a page leaves behind shows.
TEST(RiskScanner, FindsWhatTheSqueezeChangesBeyondWhitespace) {
    vellork::RiskScanner scanner;
    for (const auto& [page, expected] : cases()) {
        std::vector<std::size_t> everyByte;  // the byte by byte rules alone, no run passed over
        for (std::size_t cut = 1; cut < page.size(); ++cut) everyByte.push_back(cut);
        ASSERT_EQ(riskSummary(scanCut(scanner, page, everyByte)), expected)
            << ::testing::PrintToString(page) << " byte by byte";
        for (std::size_t cut = 0; cut <= page.size(); ++cut)
            ASSERT_EQ(riskSummary(scanCut(scanner, page, {cut})), expected)
                << ::testing::PrintToString(page) << " cut at " << cut;
    }
}

// Each page again inside a longer one, so that the kernels read it: after text, inside a tag, a
// value and a <pre> that has changed, shifted across the 64-byte blocks, with more than a block
// after it. Every kernel must report what the rules report byte by byte, whole and cut in two at
// each byte of the page.
TEST(RiskScanner, KernelsReportWhatTheRulesReport) {
    const std::string after(70, 'w');
    const auto kernels = vellork::testing::everyScanKernel();
    vellork::RiskScanner rules;
    for (const auto& [page, expected] : cases())
        for (const char* context : {"", "<a title=\"", "<a ", "<pre>x\n  y "})
            for (std::size_t shift = 0; shift < 64; ++shift) {
                const std::string before = context + std::string(shift, 'w');
                const std::string longer = before + page + after;
                std::vector<std::size_t> everyByte;
                for (std::size_t cut = 1; cut < longer.size(); ++cut) everyByte.push_back(cut);
                const std::string reported = riskSummary(scanCut(rules, longer, everyByte));
                for (const auto& [name, kernel] : kernels) {
                    vellork::RiskScanner scanner(kernel);
                    ASSERT_EQ(riskSummary(scanCut(scanner, longer, {})), reported)
                        << name << ": " << ::testing::PrintToString(longer);
                    for (std::size_t cut = before.size(); cut <= before.size() + page.size(); ++cut)
                        ASSERT_EQ(riskSummary(scanCut(scanner, longer, {cut})), reported)
                            << name << ": " << ::testing::PrintToString(longer) << " cut at "
                            << cut;
                }
            }
}

}  // namespace
