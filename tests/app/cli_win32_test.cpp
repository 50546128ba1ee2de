// vellork-cli.exe under Wine, for what only Windows gives it: UTF-8 arguments and records whatever
// the code page, paths written with the system's backslashes, a walk through open folders, the
// exit status, and hard links.

#include "reference.h"
#include "win32_test_util.h"

namespace {

using namespace vellork::testing;

using CliWin32 = TempFolderTest;
const std::string kCli = VELLORK_CLI_FROM_TESTS;

TEST_F(CliWin32, UnicodeNamesEscapedSeparatorsTheExitStatusAndOneFileUnderManyNames) {
    // A walk enters no link or junction, and no folder the system would open as another: under
    // Wine "sub." opens as "sub", whose page must be neither squeezed twice nor told done twice.
    const std::string name = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", away = "  away  ";
    page(name, "a  b");
    page("site\\sub\\c.htm", "c");
    page("site\\b.HTML", "b");
    page("site\\notes.txt", "  keep  ");
    page("elsewhere\\e.html", away);
    ASSERT_TRUE(onLinux({"mkdir", folder_ + "\\site\\sub."}) &&
                onLinux({"ln", "-s", folder_ + "\\elsewhere", folder_ + "\\site\\link"}));
    EXPECT_EQ(runChild(kCli, {"-r", name, "missing.html", "site"}, folder_),
              ChildRun(1,
                       name + "\t4\t-25 %\t5\nsite\\b.HTML\t1\t-200 %\t3\n" +
                           "site\\sub\\c.htm\t1\t-200 %\t3\n",
                       "site\\link\tskipped: a symbolic link or junction inside a folder is not "
                       "followed\nsite\\sub.\tthe folder could not be entered: this system does "
                       "not open it by its exact name, or a link took its place\n"
                       "missing.html\tthe file does not exist\n"));
    EXPECT_EQ(readFile(folder_ + "\\elsewhere\\e.html"), away);
    EXPECT_EQ(std::get<0>(runChild(kCli, {}, folder_)), 2);

    // Two workers on one file would each swap in their own copy: files are told by their index.
    std::string content;
    for (int i = 0; i < 200000; ++i) content += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
    const std::string original = page("a.html", content);
    std::vector<std::string> args = {"-j", "8", "a.html", "A.HTML"};
    for (int i = 1; i <= 6; ++i) {
        args.push_back(folder_ + "\\h" + std::to_string(i) + ".html");  // spelt out in full
        ASSERT_TRUE(::CreateHardLinkW(wide(args.back()).c_str(), wide(original).c_str(), nullptr));
    }
    const auto [status, out, err] = runChild(kCli, args, folder_);
    const std::string squeezed = vellork::reference::squeeze(content);
    EXPECT_TRUE(status == 0 && readFile(original) + readFile(args.back()) == squeezed + squeezed)
        << err;
}

}  // namespace
