// The Windows file pass under Wine: what it makes of a page, how it reaches it, what it refuses,
// and that no failing step, no other writer and no kill costs the original a byte or leaves a
// file beside it that the next pass does not remove.

#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "win32_test_util.h"

#include <sddl.h>

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

// A file's owner, group and permissions in the system's text form, asked by its path.
std::string security(const std::string& path) {
    DWORD need = 0;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::GetFileSecurityW(longPath(path).c_str(), what, nullptr, 0, &need);
    std::vector<char> descriptor(need);
    wchar_t* text = nullptr;
    if (!need ||
        !::GetFileSecurityW(longPath(path).c_str(), what, descriptor.data(), need, &need) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                                what, &text, nullptr))
        return "<none>";
    const std::string shown = utf8(text);
    ::LocalFree(text);
    return shown;
}

// Where a name leads: the last part of the path of the file it opens.
std::string leadsTo(const std::string& path) {
    const HANDLE file = ::CreateFileW(longPath(path).c_str(), 0, 7, nullptr, OPEN_EXISTING, 0, 0);
    std::wstring final(1024, L'\0');
    final.resize(::GetFinalPathNameByHandleW(file, final.data(), 1024, 0));
    ::CloseHandle(file);
    return utf8(final.substr(final.find_last_of(L'\\') + 1));
}

// What the command line asks for by default: pages only.
PassOptions pagesInChunksOf(std::size_t chunkSize) {
    PassOptions options;
    options.chunkSize = chunkSize;
    options.pageNamesOnly = true;
    return options;
}

TEST_F(FilePassWin32, SqueezesThePageUnderItsNameKeepsItsAttributesOrSaysWhyNot) {
    const std::pair<std::string, std::string> cases[] = {
        {"empty.html", ""},
        {"big.html", std::string(300000, 'x') + "  y\r\n"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "caf\xc3\xa9\r\n \x80\xff "},
        {std::string(250, 'd') + ".html", "a\r\nb"},  // past MAX_PATH
    };
    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    PSECURITY_DESCRIPTOR everyoneWrites = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;FA;;;WD)", SDDL_REVISION_1, &everyoneWrites, nullptr));
    for (int number = 0; const auto& [name, content] : cases) {
        // Alone in a folder but for a second name, to see nothing left beside it; hidden, and
        // with permissions a new file would not get, to see both kept; the name given with a
        // slash, as a user may write it.
        const std::string folder = folder_ + "\\" + std::to_string(++number),
                          path = folder + "\\" + name, other = folder + "\\o.html";
        ASSERT_TRUE(::SetFileAttributesW(longPath(writeFile(path, content)).c_str(), hidden));
        ASSERT_TRUE(
            ::SetFileSecurityW(longPath(path).c_str(), DACL_SECURITY_INFORMATION, everyoneWrites));
        ASSERT_TRUE(::CreateHardLinkW(longPath(other).c_str(), longPath(path).c_str(), nullptr));
        const std::string permissions = security(path);
        flushed.clear();
        const PassResult result = compressFile(folder + "/" + name, pagesInChunksOf(7));
        const std::string expected = reference::squeeze(content);
        // Only the name given gets the new page; the note says the other one kept the old.
        EXPECT_EQ(std::tuple(result.error, result.sizeBefore, result.sizeAfter, readFile(path),
                             readFile(other), namesIn(folder).size(),
                             result.note.find("1 other name"), flushed,
                             ::GetFileAttributesW(longPath(path).c_str()) & hidden, security(path)),
                  std::tuple("", std::int64_t(content.size()), std::int64_t(expected.size()),
                             expected, content, 2u, 13u,
                             std::vector<std::int64_t>{result.sizeAfter, 0}, hidden, permissions))
            << name;
    }
    ::LocalFree(everyoneWrites);

    // A link the user names leads to the file that gets the new page, in its own folder, and
    // stays a link; beside a name that differs only in case, the very page named is replaced.
    // A check run reads and squeezes the page, and writes nothing at all.
    const std::string kept = "<p>\r\n  kept  \r\n</p>", squeezed = reference::squeeze(kept);
    page("home.html", kept), page("far\\away.html", kept), page("a.html", "other");
    ASSERT_TRUE(onLinux({"ln", "-s", "home.html", folder_ + "\\index.html"}) &&
                onLinux({"ln", "-s", folder_ + "\\far\\away.html", folder_ + "\\near.html"}) &&
                onLinux({"cp", folder_ + "\\a.html", folder_ + "\\A.html"}));
    page("A.html", kept);
    std::string inspected;
    PassOptions checkRun = pagesInChunksOf(3);
    checkRun.dryRun = true;
    checkRun.inspect = [&](const char* data, std::size_t n) { inspected.append(data, n); };
    flushed.clear();
    const PassResult check = compressFile(folder_ + "\\index.html", checkRun);
    EXPECT_EQ(std::tuple(check.ok, check.sizeAfter, inspected, readFile(folder_ + "\\home.html"),
                         flushed.size()),
              std::tuple(true, std::int64_t(squeezed.size()), kept, kept, 0u));
    for (const auto& [name, target] :
         {std::pair{"index.html", "home.html"}, {"near.html", "away.html"}, {"A.html", "A.html"}}) {
        const std::string path = folder_ + "\\" + name, error = compressFile(path).error;
        EXPECT_EQ(std::tuple(error, readFile(path), leadsTo(path)),
                  std::tuple("", squeezed, target));
    }

    // What it refuses, it leaves as it is and says why.
    page("dir.html\\inside.html", kept);
    ::SetFileAttributesW(longPath(page("ro.html", kept)).c_str(), FILE_ATTRIBUTE_READONLY);
    page("late-nul.html", kept + std::string(100, ' ') + '\0' + "x");
    page("utf16.html", "\xff\xfe\x3c\x4e");
    page("notes.txt", kept);
    ASSERT_TRUE(onLinux({"ln", "-s", "notes.txt", folder_ + "\\notes.html"}));
    std::ofstream busy(longPath(page("busy.html", kept)), std::ios::app);  // another program's
    const std::vector<std::string> names = namesIn(folder_);
    const std::pair<std::string, std::string> refused[] = {
        {"missing.html", "does not exist"},    {"no\\such.html", "does not exist"},
        {"\xff.html", "not valid UTF-8"},      {"dir.html", "folder"},
        {"ro.html", "the file is read-only"},  {"late-nul.html", kNotATextPage},
        {"utf16.html", kNotATextPage},         {"busy.html", "another program is using the file"},
        {"notes.html", kNotAPageName},         {"NUL", "a reserved device name"},
        {"con.htm", "a reserved device name"}, {"nul.html", "a reserved device name"},
    };
    for (const auto& [name, reason] : refused) {
        const std::string path = name == "NUL" ? name : folder_ + "\\" + name, was = readFile(path);
        const std::string error = compressFile(path, pagesInChunksOf(1)).error;
        EXPECT_EQ(std::tuple(error.find(reason) != error.npos, namesIn(folder_), readFile(path)),
                  std::tuple(true, names, was))
            << name << ": " << error;
    }
    EXPECT_EQ(readFile(folder_ + "\\a.html"), "other");
}

// Below a folder opened once, and for a row's path resolved when it was added, nothing on the way
// is followed: a folder swapped for a link, a link inside, a name the system does not open as it
// is (a trailing dot, under Wine). Nothing outside is touched.
TEST_F(FilePassWin32, ReachesPagesBelowAnOpenFolderWithoutFollowingAnything) {
    const std::string kept = "<p>\r\n  kept  \r\n</p>", tree = folder_ + "\\tree";
    page("tree\\sub\\p.html", kept), page("tree\\dot\\p.html", kept), page("out\\p.html", kept);
    const std::string resolved = resolvedPath(tree + "\\sub\\p.html");
    const HANDLE root = ::CreateFileW(longPath(tree).c_str(), GENERIC_READ | GENERIC_WRITE, 7,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_TRUE(onLinux({"mv", tree + "\\sub", tree + "\\old"}) &&
                onLinux({"ln", "-s", folder_ + "\\out", tree + "\\sub"}) &&
                onLinux({"ln", "-s", "../out/p.html", tree + "\\link.html"}) &&
                onLinux({"mkdir", tree + "\\dot."}));
    const std::pair<std::string, std::string> refused[] = {
        {"sub\\p.html", "on its way is no longer a folder"},
        {"dot.\\p.html", "on its way is no longer a folder"},
        {"link.html", "a symbolic link or junction inside a folder, which is not followed"},
        {"old\\none.html", "does not exist"},
    };
    for (const auto& [relative, reason] : refused) {
        const std::string error = compressFileBelow(root, relative).error;
        EXPECT_NE(error.find(reason), error.npos) << relative << ": " << error;
    }
    const std::string error = compressResolved(resolved).error;
    EXPECT_NE(error.find("a folder on its path was replaced by a link after it was added"),
              error.npos)
        << error;
    const std::string below = compressFileBelow(root, "old\\p.html").error;
    EXPECT_EQ(std::tuple(below, readFile(tree + "\\old\\p.html"),
                         readFile(folder_ + "\\out\\p.html"), readFile(tree + "\\dot\\p.html")),
              std::tuple("", reference::squeeze(kept), kept, kept));
    ::CloseHandle(root);
}

// Whatever fails, whoever writes to the page meanwhile, and even a kill: the page is either the
// original or the new one, whole, and nothing is left beside it for long.
TEST_F(FilePassWin32, NoFailingStepNoOtherWriterAndNoKillCostsTheOriginalAByte) {
    const std::string content = "<ul>\r\n      <li>one</li>\r\n\t<li>two</li>\r\n</ul>";
    const std::string path = page("page.html", content), squeezed = reference::squeeze(content);
    const std::vector<std::string> alone{"page.html"};
    bool lockedOut = false;  // another program that wants to write the page meanwhile is held off
    const auto writer = [&] { lockedOut = !std::ofstream(longPath(path), std::ios::app); };
    std::map<FaultPoint, int> asked;
    const auto count = [&](FaultPoint point) { return ++asked[point], 0; };
    PassOptions options = pagesInChunksOf(8);
    options.tick = writer, options.fault = count;
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

    // The last moment before the swap at which a test can step in: the page is let go. A writer
    // that keeps its length and sets its last write back (on a page whose times can be trusted),
    // and one that changes its length and sets it back too (as FAT would show it), are both seen.
    for (const std::string& written : {std::string(content.size(), '-'), std::string("new")}) {
        writeFile(path, content);
        ::Sleep(200);
        options.fault = [&](FaultPoint point) {
            if (point != FaultPoint::NameTemp) return 0;
            FILETIME lastWrite{};
            const HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                              0, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD put = 0;
            ::GetFileTime(file, nullptr, nullptr, &lastWrite);
            ::WriteFile(file, written.data(), static_cast<DWORD>(written.size()), &put, nullptr);
            ::SetEndOfFile(file);
            ::SetFileTime(file, nullptr, nullptr, &lastWrite);
            return ::CloseHandle(file), 0;
        };
        EXPECT_EQ((std::tuple{compressFile(path, options).error, readFile(path), namesIn(folder_)}),
                  std::tuple(kChangedDuringPass, written, alone));
    }

    // A child stops dead, as if the machine went down. Before its new page is kept, the system
    // deletes that file with its last handle; after, it stays beside the untouched page until the
    // next pass in the folder proves it a leftover and removes it, and only it: not a user's file
    // of a like name, not one that someone holds open, not a second name of another file.
    const std::string killed = page("kill\\page.html", content), folder = folder_ + "\\kill";
    for (const char* moment : {"keep", "rename"}) {
        const auto [died, out, err] =
            runChild("filepass_win32_tests.exe", {"--die", moment, killed}, folder);
        EXPECT_EQ((std::tuple{died, readFile(killed), namesIn(folder).size()}),
                  std::tuple(9, content, moment[0] == 'k' ? 1u : 2u));
    }
    const std::vector<std::string> left = namesIn(folder);
    const std::string mine = page("kill\\mine.txt", "mine");
    page("kill\\.vellork-notes.tmp", "mine");
    const HANDLE held = ::CreateFileW(longPath(page("kill\\.vellork-0123456789.tmp", "")).c_str(),
                                      GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(::CreateHardLinkW(longPath(folder + "\\.vellork-abcdefghij.tmp").c_str(),
                                  longPath(mine).c_str(), nullptr));
    const std::vector<std::string> kept = namesIn(folder);
    const PassResult next = compressFile(killed);
    EXPECT_EQ(std::tuple(next.error, next.removed, readFile(killed), namesIn(folder).size()),
              std::tuple("", std::vector{left[0]}, squeezed, kept.size() - 1))
        << left[0];
    ::CloseHandle(held);
}

}  // namespace

int main(int argc, char** argv) {
    // The kill test's child: dies with its new page written, before it is kept or renamed.
    if (argc == 4 && std::string(argv[1]) == "--die") {
        const FaultPoint moment = argv[2][0] == 'k' ? FaultPoint::NameTemp : FaultPoint::Replace;
        const auto die = [&](FaultPoint point) {
            if (point == moment) ::TerminateProcess(::GetCurrentProcess(), 9);
            return 0;
        };
        PassOptions options;
        options.fault = die;
        return compressFile(argv[3], options).ok;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
