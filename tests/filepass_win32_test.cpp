// The Windows file pass under Wine: what it makes of a page, what it refuses, and that no failing
// step and no kill costs the original a byte or leaves a file beside it.

#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "win32_test_util.h"

#include <map>

// Every flush the pass asks for comes through here: how much of each file it saved (a folder: 0).
extern "C" BOOL(WINAPI* __imp_FlushFileBuffers)(HANDLE);
static BOOL(WINAPI* const systemFlush)(HANDLE) = __imp_FlushFileBuffers;
static std::vector<std::int64_t> flushed;
static BOOL WINAPI watchedFlush(HANDLE file) {
    LARGE_INTEGER size{};
    flushed.push_back(::GetFileSizeEx(file, &size) ? size.QuadPart : -1);
    return systemFlush(file);
}
static const bool watchingFlushes = [] {
    DWORD was = 0;
    return ::VirtualProtect(&__imp_FlushFileBuffers, sizeof(void*), PAGE_READWRITE, &was) &&
           (__imp_FlushFileBuffers = watchedFlush);
}();

namespace {

using namespace vellork;
using namespace vellork::testing;
using FilePassWin32 = TempFolderTest;

TEST_F(FilePassWin32, SqueezesThePageKeepsItsAttributesAndMeasuresBothSizes) {
    const std::pair<std::string, std::string> cases[] = {
        {"empty.html", ""},
        {"big.html", std::string(300000, 'x') + "  y\r\n"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "caf\xc3\xa9\r\n \x80\xff "},
        {std::string(250, 'd') + "\\long.html", "a\r\nb"},  // past MAX_PATH
        {"sub/slashes.html", "x \r\n y"},                   // as the user wrote it
        {"linked.html", "a  \r\n  b"},
    };
    int number = 0;
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        // Each page in a folder of its own, to see that nothing is left beside it; every other
        // one hidden, to see its attributes kept.
        const std::string given = folder_ + "\\" + std::to_string(++number) + "\\" + name;
        std::string path = given;
        std::replace(path.begin(), path.end(), '/', '\\');
        writeFile(path, content);
        const DWORD attributes = number % 2 ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM : 0;
        ASSERT_TRUE(!attributes || ::SetFileAttributesW(longPath(path).c_str(), attributes));
        const bool linked = name == "linked.html";
        const std::string folder = path.substr(0, path.rfind('\\')), other = folder + "\\o.html";
        if (linked) ::CreateHardLinkW(longPath(other).c_str(), longPath(path).c_str(), nullptr);
        const PassOptions options{.tick = {}, .chunkSize = 7, .fault = {}};
        flushed.clear();
        const PassResult result = compressFile(given, options);
        const std::string expected = reference::squeeze(content);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(std::tuple(result.sizeBefore, result.sizeAfter, readFile(path), readFile(other)),
                  std::tuple(std::int64_t(content.size()), std::int64_t(expected.size()), expected,
                             linked ? content : "<missing>"));
        // Only the name given gets the new page; the note says the other one kept the old.
        EXPECT_EQ(std::tuple(namesIn(folder).size(), result.note.find("1 other name"), flushed),
                  std::tuple(1u + linked, linked ? 13 : std::string::npos,
                             std::vector<std::int64_t>{result.sizeAfter, 0}));
        EXPECT_EQ(::GetFileAttributesW(longPath(path).c_str()) & attributes, attributes);
    }
}

TEST_F(FilePassWin32, RefusesWhatItMustNotTouchAndSaysWhy) {
    const std::string kept = "<p>\r\n  kept  \r\n</p>";
    ::CreateDirectoryW(longPath(folder_ + "\\dir.html").c_str(), nullptr);
    ::SetFileAttributesW(longPath(page("ro.html", kept)).c_str(), FILE_ATTRIBUTE_READONLY);
    page("late-nul.html", kept + std::string(100, ' ') + '\0' + "x");
    page("utf16.html", "\xff\xfe\x3c\x4e");
    HANDLE busy =
        ::CreateFileW(longPath(page("busy.html", kept)).c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::vector<std::string> names = namesIn(folder_);
    const std::pair<std::string, std::string> cases[] = {
        {"missing.html", "does not exist"},   {"no\\such.html", "does not exist"},
        {"\xff.html", "not valid UTF-8"},     {"dir.html", "folder"},
        {"ro.html", "the file is read-only"}, {"late-nul.html", kNotATextPage},
        {"utf16.html", kNotATextPage},        {"busy.html", "another program is using the file"},
        {"NUL", "not a regular file"},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        const std::string path = name == "NUL" ? name : folder_ + "\\" + name,
                          before = readFile(path);
        const PassResult result = compressFile(path, {.tick = {}, .chunkSize = 1, .fault = {}});
        EXPECT_NE(result.error.find(reason), std::string::npos) << result.error;
        EXPECT_EQ(namesIn(folder_), names);
        EXPECT_EQ(readFile(path), before);
    }
    ::CloseHandle(busy);
}

// Whatever fails, and whoever writes to the page meanwhile, the page is either the original or
// the new one, whole, and nothing is left beside it.
TEST_F(FilePassWin32, NoFailingStepAndNoOtherWriterCostsTheOriginalAByte) {
    const std::string content = "<ul>\r\n      <li>one</li>\r\n\t<li>two</li>\r\n</ul>";
    const std::string path = page("page.html", content), changed = content + "<b>new</b>";
    PassOptions options{.tick = {}, .chunkSize = 8, .fault = {}};
    DWORD lockedOut = 0;
    options.tick = [&] {
        HANDLE writer =
            ::CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        lockedOut = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : (::CloseHandle(writer), 0);
    };
    std::map<FaultPoint, int> seen;
    options.fault = [&](FaultPoint point) { return ++seen[point], 0; };
    ASSERT_TRUE(compressFile(path, options).ok);
    EXPECT_EQ(lockedOut, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::string squeezed = readFile(path);
    for (int step = 0; step <= static_cast<int>(FaultPoint::SyncFolder); ++step) {
        const auto point = static_cast<FaultPoint>(step);
        ASSERT_GT(seen[point], 0) << "step " << step << " never asked";
        for (int failing = 1; failing <= seen[point]; ++failing) {
            SCOPED_TRACE("step " + std::to_string(step) + ", time " + std::to_string(failing));
            writeFile(path, content);
            int count = 0;
            options.fault = [&](FaultPoint asked) {
                return asked == point && ++count == failing ? ERROR_DISK_FULL : 0;
            };
            EXPECT_NE(compressFile(path, options).error.find("the disk is full"),
                      std::string::npos);
            // A folder that cannot be flushed comes after the swap: the page is whole and new.
            EXPECT_EQ(readFile(path), point == FaultPoint::SyncFolder ? squeezed : content);
            EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
        }
    }
    // The last moment before the swap at which a test can step in: the original is closed.
    options.fault = [&](FaultPoint point) {
        if (point == FaultPoint::NameTemp) writeFile(path, changed);
        return 0;
    };
    EXPECT_NE(compressFile(path, options).error.find("changed while it was being compressed"),
              std::string::npos);
    EXPECT_EQ(readFile(path), changed);
    EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
}

TEST_F(FilePassWin32, AKilledPassLeavesTheOriginalAndNoTemporaryFile) {
    const std::string content(1 << 20, 'x'), path = page("page.html", content);
    std::size_t during = 0;
    runChild("filepass_win32_tests.exe", {"--hang", path}, folder_, [&](HANDLE child) {
        while ((during = namesIn(folder_).size()) < 2 && ::WaitForSingleObject(child, 10)) continue;
        ::TerminateProcess(child, 9);
    });
    EXPECT_EQ(during, 2u) << "the child should have been killed with its temporary file";
    EXPECT_EQ(readFile(path), content);
    EXPECT_EQ(namesIn(folder_), std::vector<std::string>{"page.html"});
}

}  // namespace

int main(int argc, char** argv) {
    // The kill test's child: stops dead in the middle of its pass, as if the machine went down.
    const PassOptions hang{.tick = [] { ::Sleep(INFINITE); }, .chunkSize = 4096, .fault = {}};
    if (argc == 3 && std::string(argv[1]) == "--hang") return compressFile(argv[2], hang).ok;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
