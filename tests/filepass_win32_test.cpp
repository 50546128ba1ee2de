// The Windows file pass, run under Wine by the cross build: what it makes of a page, what it
// refuses, and that no failing step and no kill costs the original a byte or leaves a file beside
// it.

#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "win32_test_util.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using vellork::compressFile;
using vellork::FaultPoint;
using vellork::PassOptions;
using vellork::PassResult;
using namespace vellork::testing;

class FilePassWin32 : public TempFolderTest {};

TEST_F(FilePassWin32, SqueezesThePageAndMeasuresBothSizes) {
    std::mt19937 rng(11);
    std::string big;
    while (big.size() < 300000)
        big += "  <li>\titem " + std::to_string(rng() % 1000) + "  </li>\r\n";
    const std::string deep = std::string(60, 'd') + "\\" + std::string(60, 'e') + "\\" +
                             std::string(60, 'f') + "\\" + std::string(60, 'g') + "\\long.html";
    ASSERT_GT(folder_.size() + deep.size(), MAX_PATH);
    const struct {
        std::string name, content;
        std::size_t chunk;
        DWORD attributes;  // set before, and expected after
        bool linked;       // a second name, which keeps the original content
    } cases[] = {
        {"page.html", "  <p>a</p>  \r\n\r\n<b>x</b>", 1 << 18, 0, false},
        {"lf.htm", "a  \n  b\r\n\t c   \r\n", 3, 0, false},
        {"empty.html", "", 1 << 18, 0, false},
        {"blank.html", "\r\n   \r\n\r\n", 1, 0, false},
        {"big.html", big, 4096, 0, false},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "caf\xc3\xa9\r\n \x80\xff ", 2, 0, false},
        {"hidden.html", "<i>  x  </i>\r\n", 1 << 18, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         false},
        {deep, "a\r\nb", 1 << 18, 0, false},
        {"sub/slashes.html", "x \r\n y", 1 << 18, 0, false},
        {"linked.html", "a  \r\n  b", 1 << 18, 0, true},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Each page in a folder of its own, to see that nothing is left beside it.
        std::string folder = folder_ + "\\" + std::to_string(++number), name = c.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        ::CreateDirectoryW(longPath(folder).c_str(), nullptr);
        for (std::size_t at; (at = name.find('\\')) != std::string::npos; name.erase(0, at + 1)) {
            folder += "\\" + name.substr(0, at);
            ::CreateDirectoryW(longPath(folder).c_str(), nullptr);
        }
        const std::string path = folder + "\\" + name;
        writeFile(path, c.content);
        ASSERT_TRUE(!c.attributes || ::SetFileAttributesW(longPath(path).c_str(), c.attributes));
        const std::string other = folder + "\\other.html";
        ASSERT_TRUE(!c.linked ||
                    ::CreateHardLinkW(longPath(other).c_str(), longPath(path).c_str(), nullptr));
        PassOptions options;
        options.chunkSize = c.chunk;
        // The pass is given the name as the user wrote it, separators and all.
        const PassResult result =
            compressFile(folder_ + "\\" + std::to_string(number) + "\\" + c.name, options);
        const std::string expected = vellork::reference::squeeze(c.content);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.sizeBefore, static_cast<std::int64_t>(c.content.size()));
        EXPECT_EQ(result.sizeAfter, static_cast<std::int64_t>(expected.size()));
        EXPECT_EQ(readFile(path), expected);
        EXPECT_EQ(result.note, c.linked ? "the file had 1 other name(s) (hard links), which keep "
                                          "the original content"
                                        : "");
        const std::vector<std::string> beside = c.linked
                                                    ? std::vector<std::string>{name, "other.html"}
                                                    : std::vector<std::string>{name};
        EXPECT_EQ(namesIn(folder), beside);
        EXPECT_EQ(readFile(c.linked ? other : path), c.linked ? c.content : expected);
        EXPECT_EQ(::GetFileAttributesW(longPath(path).c_str()) & c.attributes, c.attributes);
    }
}

TEST_F(FilePassWin32, RefusesWhatItMustNotTouchAndSaysWhy) {
    const std::string kept = "<p>\r\n  kept  \r\n</p>";
    std::vector<HANDLE> open;
    const struct {
        const char* what;
        std::function<std::string()> make;  // gives the path to compress
        std::string reason;
    } cases[] = {
        {"no name", [] { return std::string(); }, "no file name"},
        {"missing", [&] { return folder_ + "\\missing.html"; }, "does not exist"},
        {"missing folder", [&] { return folder_ + "\\no\\such.html"; }, "does not exist"},
        {"not UTF-8", [&] { return folder_ + "\\\xff.html"; }, "not valid UTF-8"},
        {"folder",
         [&] {
             ::CreateDirectoryW(longPath(folder_ + "\\dir.html").c_str(), nullptr);
             return folder_ + "\\dir.html";
         },
         "folder"},
        {"device", [] { return std::string("NUL"); }, "not a regular file"},
        {"read-only",
         [&] {
             const std::string path = page("ro.html", kept);
             ::SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_READONLY);
             return path;
         },
         "the file is read-only"},
        {"NUL byte past the first chunk",
         [&] { return page("late-nul.html", kept + std::string(100, ' ') + '\0' + "x"); },
         vellork::kNotATextPage},
        {"UTF-16 mark", [&] { return page("utf16.html", "\xff\xfe\x3c\x4e"); },
         vellork::kNotATextPage},
        {"UTF-32 mark", [&] { return page("utf32.html", std::string("\0\0\xfe\xff", 4)); },
         vellork::kNotATextPage},
        {"open for writing elsewhere",
         [&] {
             const std::string path = page("busy.html", kept);
             open.push_back(::CreateFileW(longPath(path).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
             return path;
         },
         "another program is using the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.make();
        const std::vector<std::string> names = namesIn(folder_);
        const std::string before = path.empty() || path == "NUL" ? "" : readFile(path);
        PassOptions options;
        options.chunkSize = c.reason == vellork::kNotATextPage ? 1 : 16;
        const PassResult result = compressFile(path, options);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        EXPECT_EQ(namesIn(folder_), names);
        if (!before.empty()) {
            EXPECT_EQ(readFile(path), before);
        }
    }
    for (HANDLE handle : open) ::CloseHandle(handle);
}

TEST_F(FilePassWin32, EveryFailingStepLeavesTheOriginalAndNothingBesideIt) {
    const std::string content =
        "<ul>\r\n" + std::string(6, ' ') + "<li>one</li>\r\n\t<li>two</li>\r\n</ul>";
    const std::string path = page("page.html", content);
    PassOptions options;
    options.chunkSize = 8;
    std::map<FaultPoint, int> seen;
    options.fault = [&](FaultPoint point) { return ++seen[point], 0; };
    ASSERT_TRUE(compressFile(path, options).ok);
    const std::string squeezed = readFile(path);
    for (auto point :
         {FaultPoint::Read, FaultPoint::Write, FaultPoint::CreateTemp, FaultPoint::CopyMetadata,
          FaultPoint::Sync, FaultPoint::NameTemp, FaultPoint::Replace, FaultPoint::SyncFolder}) {
        ASSERT_GT(seen[point], 0) << "step " << static_cast<int>(point) << " never asked";
        for (int failing = 1; failing <= seen[point]; ++failing) {
            SCOPED_TRACE("step " + std::to_string(static_cast<int>(point)) + ", occurrence " +
                         std::to_string(failing));
            writeFile(path, content);
            int count = 0;
            options.fault = [&](FaultPoint asked) {
                return asked == point && ++count == failing ? ERROR_DISK_FULL : 0;
            };
            const PassResult result = compressFile(path, options);
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.error.find("the disk is full"), std::string::npos) << result.error;
            // A folder that cannot be flushed comes after the swap: the page is whole and new.
            EXPECT_EQ(readFile(path), point == FaultPoint::SyncFolder ? squeezed : content);
            EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
        }
    }
}

TEST_F(FilePassWin32, HoldsOffWritersAndNoticesAChangeBeforeTheSwap) {
    const std::string content = "<p>\r\n  a  \r\n</p>";
    const std::string path = page("page.html", content);
    PassOptions options;
    options.chunkSize = 4;
    DWORD lockedOut = 0;
    options.tick = [&] {
        HANDLE writer =
            ::CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        lockedOut = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    };
    // The last moment before the swap at which a test can step in: the original is closed.
    options.fault = [&](FaultPoint point) {
        if (point == FaultPoint::NameTemp) writeFile(path, content + "<b>new</b>");
        return 0;
    };
    const PassResult result = compressFile(path, options);
    EXPECT_EQ(lockedOut, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("changed while it was being compressed"), std::string::npos)
        << result.error;
    EXPECT_EQ(readFile(path), content + "<b>new</b>");
    EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
}

// The child's side of the kill test: compresses a page and stops dead in the middle of writing.
int hangInPass(const std::string& path, const std::string& eventName) {
    HANDLE started = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, wide(eventName).c_str());
    PassOptions options;
    options.chunkSize = 4096;
    options.tick = [&] {
        ::SetEvent(started);
        ::Sleep(INFINITE);
    };
    compressFile(path, options);
    return 1;
}

TEST_F(FilePassWin32, AKilledPassLeavesTheOriginalAndNoTemporaryFile) {
    const std::string content(1 << 20, 'x');
    const std::string path = page("page.html", content);
    const std::string eventName = "vellork-kill-test-" + std::to_string(::GetCurrentProcessId());
    HANDLE started = ::CreateEventW(nullptr, TRUE, FALSE, wide(eventName).c_str());
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --hang-in-pass \"" + wide(path) +
                           L"\" " + wide(eventName);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &child));
    const bool hung = ::WaitForSingleObject(started, 60000) == WAIT_OBJECT_0;
    const std::vector<std::string> during = namesIn(folder_);
    ::TerminateProcess(child.hProcess, 9);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(started);
    ASSERT_TRUE(hung) << "the child never reached the middle of its pass";
    EXPECT_EQ(during.size(), 2u) << "the temporary file should exist while it is written";
    EXPECT_EQ(readFile(path), content);
    EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
}

TEST_F(FilePassWin32, KeepsNamedStreamsWhereTheFileSystemHasThem) {
    const std::string path = page("page.html", "a \r\n b");
    writeFile(path + ":origin", "saved from the web");
    if (namesIn(folder_).size() != 1)
        GTEST_SKIP() << "no named streams here (Wine makes a file called page.html:origin)";
    ASSERT_TRUE(compressFile(path).ok);
    EXPECT_EQ(readFile(path), "a b\r\n");
    EXPECT_EQ(readFile(path + ":origin"), "saved from the web");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--hang-in-pass") return hangInPass(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
