// vellork-cli.exe, run under Wine by the cross build: the records it writes, its exit status,
// UTF-8 in and out whatever the code page, and one file under several names.

#include "win32_test_util.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

using namespace vellork::testing;

struct CliRun {
    DWORD status;
    std::string out, err;
};

class CliWin32 : public TempFolderTest {
protected:
    // Runs the tool in the test's folder with the arguments as a Windows program gets them.
    CliRun run(const std::vector<std::string>& args) {
        wchar_t self[MAX_PATH];
        std::wstring cli(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
        cli = cli.substr(0, cli.find_last_of(L'\\') + 1) + wide(VELLORK_CLI_FROM_TESTS);
        std::wstring command = L"\"" + cli + L"\"";
        for (const std::string& arg : args) command += L" \"" + wide(arg) + L"\"";
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        const std::string outPath = folder_ + "\\.out", errPath = folder_ + "\\.err";
        auto capture = [&](const std::string& path) {
            return ::CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                 CREATE_ALWAYS, 0, nullptr);
        };
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = capture(outPath);
        startup.hStdError = capture(errPath);
        PROCESS_INFORMATION child{};
        CliRun result{~DWORD{0}, {}, {}};
        if (::CreateProcessW(cli.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             wide(folder_).c_str(), &startup, &child)) {
            ::WaitForSingleObject(child.hProcess, INFINITE);
            ::GetExitCodeProcess(child.hProcess, &result.status);
            ::CloseHandle(child.hThread);
            ::CloseHandle(child.hProcess);
        }
        ::CloseHandle(startup.hStdOutput);
        ::CloseHandle(startup.hStdError);
        result.out = readFile(outPath);
        result.err = readFile(errPath);
        ::DeleteFileW(longPath(outPath).c_str());
        ::DeleteFileW(longPath(errPath).c_str());
        return result;
    }
};

TEST_F(CliWin32, WritesOneRecordPerFileAndGoesOnAfterAFailure) {
    std::setlocale(LC_ALL, "");  // the tool writes the user's decimal separator
    const std::string point = std::localeconv()->decimal_point;
    writeFile(folder_ + "\\a.html",
              std::string(1000, 'x').replace(0, 200, std::string(200, ' ')) + "\r\n");
    writeFile(folder_ + "\\-x.htm", "a\r\n\r\nb");
    writeFile(folder_ + "\\caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "a  b");
    writeFile(folder_ + "\\notes.txt", "  keep  ");
    const CliRun run1 = run({"a.html", "missing.html", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html",
                             "notes.txt", "--", "-x.htm"});
    EXPECT_EQ(run1.status, 1u);
    EXPECT_EQ(run1.out, "a.html\t1002\t19" + point + "96 %\t802\n" +
                            "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html\t4\t-25 %\t5\n" +
                            "-x.htm\t6\t33" + point + "33 %\t4\n");
    EXPECT_EQ(run1.err,
              "missing.html\tthe file does not exist\n"
              "notes.txt\tnot an .html or .htm page; --any-name compresses it anyway\n");
    EXPECT_EQ(readFile(folder_ + "\\-x.htm"), "ab\r\n");
    EXPECT_EQ(readFile(folder_ + "\\notes.txt"), "  keep  ");

    EXPECT_EQ(run({}).status, 2u);
    EXPECT_EQ(run({"-j", "0", "a.html"}).status, 2u);
}

TEST_F(CliWin32, WalksAFolderInSortedOrderWithEscapedSeparators) {
    ::CreateDirectoryW(longPath(folder_ + "\\site").c_str(), nullptr);
    ::CreateDirectoryW(longPath(folder_ + "\\site\\sub").c_str(), nullptr);
    writeFile(folder_ + "\\site\\b.html", "b");
    writeFile(folder_ + "\\site\\a.HTM", "a");
    writeFile(folder_ + "\\site\\sub\\c.htm", "c");
    writeFile(folder_ + "\\site\\notes.txt", "  keep  ");
    const CliRun walked = run({"-r", "site"});
    EXPECT_EQ(walked.status, 0u) << walked.err;
    EXPECT_EQ(walked.out,
              "site\\\\a.HTM\t1\t-200 %\t3\nsite\\\\b.html\t1\t-200 %\t3\n"
              "site\\\\sub\\\\c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(readFile(folder_ + "\\site\\notes.txt"), "  keep  ");
    const CliRun plain = run({"site"});
    EXPECT_EQ(plain.status, 1u);
    EXPECT_EQ(plain.err, "site\tit is a folder, not a file\n");
}

TEST_F(CliWin32, NeverWorksOnOneFileUnderTwoNamesAtOnce) {
    std::string page, squeezed;
    for (int i = 0; i < 50000; ++i) {
        page += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
        squeezed += "<td>cell " + std::to_string(i) + "</td>";
    }
    writeFile(folder_ + "\\a.html", page);
    std::vector<std::string> args = {"-j", "8", "a.html", "a.html"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "h" + std::to_string(i) + ".html";
        ASSERT_TRUE(::CreateHardLinkW(longPath(folder_ + "\\" + name).c_str(),
                                      longPath(folder_ + "\\a.html").c_str(), nullptr));
        args.push_back(name);
    }
    const CliRun result = run(args);
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(readFile(folder_ + "\\a.html"), squeezed + "\r\n");
    EXPECT_EQ(readFile(folder_ + "\\h3.html"), squeezed + "\r\n");
}

}  // namespace
