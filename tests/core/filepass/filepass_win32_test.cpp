// The Windows file pass under Wine: what it makes of a page, what it refuses, and that no failing
// step and no kill costs the original a byte or leaves a file beside it.

#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "win32_test_util.h"

#include <map>
#include <utility>

// Every flush the pass asks for comes through here: how much of each file it saved (a folder: 0).
extern "C" BOOL(WINAPI* __imp_FlushFileBuffers)(HANDLE);
static std::vector<std::int64_t> flushed;
static BOOL(WINAPI* const systemFlush)(HANDLE) =
    std::exchange(__imp_FlushFileBuffers, [](HANDLE file) -> BOOL {
        LARGE_INTEGER size{};
        flushed.push_back(::GetFileSizeEx(file, &size) ? size.QuadPart : -1);
        return systemFlush(file);
    });

namespace {

using namespace vellork;
using namespace vellork::testing;
using FilePassWin32 = TempFolderTest;

TEST_F(FilePassWin32, SqueezesThePageUnderItsNameKeepsItsAttributesOrSaysWhyNot) {
    const std::pair<std::string, std::string> cases[] = {
        {"empty.html", ""},
        {"big.html", std::string(300000, 'x') + "  y\r\n"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "caf\xc3\xa9\r\n \x80\xff "},
        {std::string(250, 'd') + ".html", "a\r\nb"},  // past MAX_PATH
    };
    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (int number = 0; const auto& [name, content] : cases) {
        // Alone in a folder but for a second name, to see nothing left beside it; hidden, to see
        // its attributes kept; the name given with a slash, as a user may write it.
        const std::string folder = folder_ + "\\" + std::to_string(++number),
                          path = folder + "\\" + name, other = folder + "\\o.html";
        ASSERT_TRUE(::SetFileAttributesW(longPath(writeFile(path, content)).c_str(), hidden));
        ASSERT_TRUE(::CreateHardLinkW(longPath(other).c_str(), longPath(path).c_str(), nullptr));
        flushed.clear();
        const PassResult result =
            compressFile(folder + "/" + name, {.tick = {}, .chunkSize = 7, .fault = {}});
        const std::string expected = reference::squeeze(content);
        // Only the name given gets the new page; the note says the other one kept the old.
        EXPECT_EQ(
            std::tuple(result.error, result.sizeBefore, result.sizeAfter, readFile(path),
                       readFile(other), namesIn(folder).size(), result.note.find("1 other name"),
                       flushed, ::GetFileAttributesW(longPath(path).c_str()) & hidden),
            std::tuple("", std::int64_t(content.size()), std::int64_t(expected.size()), expected,
                       content, 2u, 13u, std::vector<std::int64_t>{result.sizeAfter, 0}, hidden))
            << name;
    }

    // What it refuses, it leaves as it is and says why.
    const std::string kept = "<p>\r\n  kept  \r\n</p>";
    page("dir.html\\inside.html", kept);
    ::SetFileAttributesW(longPath(page("ro.html", kept)).c_str(), FILE_ATTRIBUTE_READONLY);
    page("late-nul.html", kept + std::string(100, ' ') + '\0' + "x");
    page("utf16.html", "\xff\xfe\x3c\x4e");
    std::ofstream busy(longPath(page("busy.html", kept)), std::ios::app);  // another program's
    const std::vector<std::string> names = namesIn(folder_);
    const std::pair<std::string, std::string> refused[] = {
        {"missing.html", "does not exist"},   {"no\\such.html", "does not exist"},
        {"\xff.html", "not valid UTF-8"},     {"dir.html", "folder"},
        {"ro.html", "the file is read-only"}, {"late-nul.html", kNotATextPage},
        {"utf16.html", kNotATextPage},        {"busy.html", "another program is using the file"},
        {"NUL", "not a regular file"},
    };
    for (const auto& [name, reason] : refused) {
        const std::string path = name == "NUL" ? name : folder_ + "\\" + name, was = readFile(path);
        const std::string error =
            compressFile(path, {.tick = {}, .chunkSize = 1, .fault = {}}).error;
        EXPECT_EQ(std::tuple(error.find(reason) != error.npos, namesIn(folder_), readFile(path)),
                  std::tuple(true, names, was))
            << name << ": " << error;
    }
}

// Whatever fails, whoever writes to the page meanwhile, and even a kill: the page is either the
// original or the new one, whole, and nothing is left beside it.
TEST_F(FilePassWin32, NoFailingStepNoOtherWriterAndNoKillCostsTheOriginalAByte) {
    const std::string content = "<ul>\r\n      <li>one</li>\r\n\t<li>two</li>\r\n</ul>";
    const std::string path = page("page.html", content), squeezed = reference::squeeze(content);
    const std::vector<std::string> alone{"page.html"};
    bool lockedOut = false;  // another program that wants to write the page meanwhile is held off
    const auto writer = [&] { lockedOut = !std::ofstream(longPath(path), std::ios::app); };
    std::map<FaultPoint, int> asked;
    const auto count = [&](FaultPoint point) { return ++asked[point], 0; };
    PassOptions options{.tick = writer, .chunkSize = 8, .fault = count};
    EXPECT_EQ((std::tuple{compressFile(path, options).error, lockedOut, readFile(path)}),
              std::tuple("", true, squeezed));
    ASSERT_EQ(asked.size(), 1u + static_cast<std::size_t>(FaultPoint::SyncFolder));
    for (const auto& [point, times] : asked)
        for (int failing = 1; failing <= times; ++failing) {
            writeFile(path, content);
            int count = 0;
            options.fault = [&](FaultPoint step) {
                return step == point && ++count == failing ? ERROR_DISK_FULL : 0;
            };
            const std::string error = compressFile(path, options).error;
            // A folder that cannot be flushed comes after the swap: the page is whole and new.
            EXPECT_EQ(std::tuple(error.find("the disk is full") != error.npos, readFile(path),
                                 namesIn(folder_)),
                      std::tuple(true, point == FaultPoint::SyncFolder ? squeezed : content, alone))
                << "step " << static_cast<int>(point) << ", time " << failing << ": " << error;
        }
    // The last moment before the swap at which a test can step in: the original is closed.
    options.fault = [&](FaultPoint point) {
        return point == FaultPoint::NameTemp ? (writeFile(path, "new"), 0) : 0;
    };
    EXPECT_EQ((std::tuple{compressFile(path, options).error, readFile(path), namesIn(folder_)}),
              std::tuple(kChangedDuringPass, "new", alone));

    // A child stops dead beside its temporary file, as if the machine went down: the system
    // deletes that file with its last handle, and the original stays.
    const auto [died, out, err] = runChild("filepass_win32_tests.exe", {"--die", path}, folder_);
    EXPECT_EQ((std::tuple{died, readFile(path), namesIn(folder_)}), std::tuple(9, "new", alone));
}

}  // namespace

int main(int argc, char** argv) {
    // The kill test's child: dies with its new page written but not yet kept.
    const auto die = [](FaultPoint point) {
        if (point == FaultPoint::NameTemp) ::TerminateProcess(::GetCurrentProcess(), 9);
        return 0;
    };
    if (argc == 3 && std::string(argv[1]) == "--die")
        return compressFile(argv[2], {.tick = {}, .chunkSize = 4096, .fault = die}).ok;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
