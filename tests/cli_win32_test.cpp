// vellork-cli.exe under Wine, for what only Windows gives it: UTF-8 arguments and records whatever
// the code page, backslashes in the names a walk finds, the exit status, and hard links.

#include "reference.h"
#include "win32_test_util.h"

namespace {

using namespace vellork::testing;

using CliWin32 = TempFolderTest;
const std::string kCli = VELLORK_CLI_FROM_TESTS;

TEST_F(CliWin32, UnicodeNamesEscapedSeparatorsAndTheExitStatus) {
    const std::string name = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html";
    page(name, "a  b");
    page("site\\sub\\c.htm", "c");
    page("site\\b.HTML", "b");
    page("site\\notes.txt", "  keep  ");
    const ChildRun failed = runChild(kCli, {"-r", name, "missing.html", "site"}, folder_);
    EXPECT_EQ(failed.status, 1u);
    EXPECT_EQ(failed.out, name + "\t4\t-25 %\t5\nsite\\\\b.HTML\t1\t-200 %\t3\n" +
                              "site\\\\sub\\\\c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(failed.err, "missing.html\tthe file does not exist\n");
    EXPECT_EQ(readFile(folder_ + "\\" + name), "a b\r\n");
    EXPECT_EQ(readFile(folder_ + "\\site\\notes.txt"), "  keep  ");
    EXPECT_EQ(runChild(kCli, {"-r", "site"}, folder_).status, 0u);
    EXPECT_EQ(runChild(kCli, {}, folder_).status, 2u);
}

// Two workers on one file would each swap in their own copy: names are told apart by file index.
TEST_F(CliWin32, NeverWorksOnOneFileUnderTwoNamesAtOnce) {
    std::string content;
    for (int i = 0; i < 200000; ++i) content += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
    const std::string squeezed = vellork::reference::squeeze(content);
    const std::string original = page("a.html", content);
    std::vector<std::string> args = {"-j", "8", "a.html", "A.HTML"};
    for (const std::string name :
         {"h1.html", "h2.html", "h3.html", "h4.html", "h5.html", "h6.html"}) {
        ASSERT_TRUE(::CreateHardLinkW(longPath(folder_ + "\\" + name).c_str(),
                                      longPath(original).c_str(), nullptr));
        args.push_back(name);
    }
    const ChildRun result = runChild(kCli, args, folder_);
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_TRUE(readFile(original) == squeezed && readFile(folder_ + "\\h6.html") == squeezed);
}

}  // namespace
