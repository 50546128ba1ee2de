#include "filepass.h"
#include "foldersyncs.h"
#include "pagecheck.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

// The pass's syncs and renames as the system gets them (the test is linked with --wrap): "F" and
// the inode for a file's fsync, "D" and the inode for a folder's, "R" for a rename.
namespace {
std::mutex traced;
std::string trace;
void record(char kind, int fd) {
    struct stat status {};
    if (fd >= 0) ::fstat(fd, &status);
    std::lock_guard lock(traced);
    trace += kind + (fd >= 0 ? std::to_string(status.st_ino) : "") + " ";
}
}  // namespace
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
    struct stat status {};
    record(::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) ? 'D' : 'F', fd);
    return __real_fsync(fd);
}
extern "C" int __real_renameat(int, const char*, int, const char*);
extern "C" int __wrap_renameat(int from, const char* a, int to, const char* b) {
    record('R', -1);
    return __real_renameat(from, a, to, b);
}

namespace {

using namespace vellork;
using namespace vellork::testing;

const std::string kPage = "<html>\r\n  <body>\t<p>a   b</p>  \r\n\r\n</body>\r\n</html>\r\n";
const std::string kSqueezed = "<html><body><p>a b</p></body></html>\r\n";

// A page of `lines` lines with indentation, tabs and space runs.
std::string bigPage(std::size_t lines) {
    std::string page;
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < lines; ++i)
        page += std::string(rng() % 8, ' ') + "<td>\tcell   " + std::to_string(i) + "</td>  \r\n";
    return page;
}

// The walked-file pass below the folder `root`, opened for it.
PassResult compressBelow(const std::string& root, const std::string& relative,
                         const PassOptions& options = {}) {
    const int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    PassResult result = compressFileBelow(folder, relative, options);
    ::close(folder);
    return result;
}

// Starts `pass` on a thread of its own as a pool does: counted as under way before it starts.
void startGrouped(FolderSyncs& syncs, std::vector<std::thread>& passes,
                  std::function<void()> pass) {
    syncs.begin();
    passes.emplace_back([&syncs, pass = std::move(pass)] {
        pass();
        syncs.end();
    });
}

unsigned perms(const std::string& path) {
    return unsigned(std::filesystem::status(path).permissions());
}

std::string inode(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return std::to_string(status.st_ino);
}

// A small file system of its own, made in an image file and mounted on `dir` until the result
// goes (mounting needs root); null when it cannot be had here. The commands see $img and $dir.
std::shared_ptr<const TempDir> mounted(const TempDir& dir, const std::string& make,
                                       const std::string& mount) {
    const std::string vars = "img='" + dir.path() + ".img' dir='" + dir.path() + "'; ";
    if (::geteuid() != 0 || shell(vars + make + " && " + mount)) {
        shell(vars + "rm -f \"$img\"");
        return nullptr;
    }
    return {&dir, [=](const TempDir*) { shell(vars + "umount \"$dir\"; rm -f \"$img\""); }};
}

// Sets each case up on a new page `a.html` in `dir` with the system's own tools, and checks
// that what `report` tells of it is the same after a pass. Returns how many cases could be set
// up on this system and as this user.
int keptThroughAPass(const TempDir& dir, const std::vector<std::string>& cases,
                     const std::string& report) {
    const TempDir scratch;
    const std::string in = "cd '" + dir.path() + "' && ";
    auto told = [&] {
        shell(in + "{ " + report + "; } >'" + scratch.file("report") + "'");
        return readFile(scratch.file("report"));
    };
    int kept = 0;
    for (const std::string& setup : cases) {
        shell(in + "rm -f a.html && setfacl -b -k .");
        const std::string page = dir.write("a.html", kPage);
        if (shell(in + setup) != 0) continue;
        const std::string before = told();
        EXPECT_EQ(compressFile(page).error, "") << setup;
        EXPECT_EQ(readFile(page) + told(), kSqueezed + before) << setup;
        ++kept;
    }
    return kept;
}

// Options whose seam does `act` the `nth` time (from 0) the pass reaches `point`.
PassOptions actingAt(FaultPoint point, int nth, std::function<void()> act) {
    PassOptions options;
    options.chunkSize = 4096;
    options.fault = [=, reached = 0](FaultPoint at) mutable {
        if (at == point && reached++ == nth) act();
        return 0;
    };
    return options;
}

TEST(FilePass, KeepsEveryPieceOfMetadataAndWhereALinkPoints) {
    TempDir dir;
    // What the tools report must not change. Modes the umask would strip, and write bits held
    // by others than the owner, come first.
    const mode_t umaskBefore = ::umask(022);
    EXPECT_GE(keptThroughAPass(dir,
                               {
                                   "chmod 0666 a.html",
                                   "chmod 0464 a.html",
                                   "chmod 0046 a.html",
                                   "chown 12345:23456 a.html && chmod 0750 a.html",
                                   // the mask wider than the group
                                   "setfacl -m u:65534:rw-,g::r--,m::rw- a.html",
                                   // the folder's default not taken up
                                   "chmod 600 a.html && setfacl -d -m u:65534:rw- .",
                                   "setfattr -n user.origin -v export a.html",
                                   "setfattr -n trusted.note -v 0x0100 a.html",
                                   "chattr +dA a.html",
                               },
                               "stat -c '%a %u %g' a.html; getfattr -h -d -m - -e hex a.html; "
                               "lsattr a.html | tr -cd dA"),
              ::geteuid() == 0 ? 9 : 6);
    ::umask(umaskBefore);
    // A symbolic link named by the user stays a link; its target gets the new content.
    shell("cd '" + dir.path() + "' && mkdir real && ln -s real/p.html link.html");
    dir.write("real/p.html", kPage);
    EXPECT_EQ(compressFile(dir.file("link.html")).error, "");
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("link.html")), "real/p.html");
    EXPECT_EQ(readFile(dir.file("real/p.html")), kSqueezed);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.html", "link.html", "real"}));
    // 3 GB, past what a 32-bit size holds: measured whole, and refused at its first NUL byte.
    ASSERT_EQ(::truncate(dir.write("huge.html", "").c_str(), 3'000'000'000), 0);
    const PassResult sparse = compressFile(dir.file("huge.html"));
    EXPECT_EQ(std::tuple(sparse.sizeBefore, sparse.error),
              std::tuple(3'000'000'000, kNotATextPage));
}

// On a real XFS: the project ID (its quota) and the extent-size hint.
TEST(FilePass, KeepsTheProjectAndTheExtentSizeHintOnXfs) {
    const TempDir dir;
    const auto xfs = mounted(dir, "truncate -s 300M \"$img\" && mkfs.xfs -q \"$img\"",
                             "mount -o loop \"$img\" \"$dir\"");
    if (!xfs) GTEST_SKIP() << "no XFS here (it needs root and a loop device)";
    EXPECT_EQ(keptThroughAPass(dir,
                               {"xfs_io -c 'chproj 43' a.html",
                                // A hint is given to an empty file only.
                                "mv a.html b && xfs_io -f -c 'extsize 1m' a.html && cat b >a.html"},
                               "xfs_io -r -c lsproj -c extsize a.html"),
              2);
}

// Each refused before anything is written: every file in the folder stays as it was, and
// nothing is synced.
TEST(FilePass, RefusesWhatItMustNotTouchBeforeWritingAnything) {
    const bool root = ::geteuid() == 0;
    struct Case {
        std::string setup, name, reason;
        bool pageNamesOnly = false;
    };
    const Case cases[] = {
        {"chmod 4755 a.html", "a.html",
         "it is set-user-ID, a right that new content would not keep"},
        {"chmod 2775 a.html", "a.html",
         "it is set-group-ID, a right that new content would not keep"},
        {"setfattr -n security.capability -v 0x0000000200040000000000000000000000000000 a.html",
         "a.html",
         "it has file capabilities (security.capability), which new content would not keep"},
        // The last byte of the first 4096-byte chunk.
        {"head -c 4095 a.html >b.html && printf '\\0y' >>b.html", "b.html", kNotATextPage},
        // The file reached is judged, not the link named.
        {"printf x >notes.txt && ln -s notes.txt n.html", "n.html", kNotAPageName, true},
        {"ln -s /etc/passwd p.html", "p.html", kNotAPageName, true},
        // As root, a link is followed only where no one else could have planted it.
        {"ln -s a.html l.html && chown -h 65534 l.html", "l.html",
         "it is a symbolic link of another user (user 65534), which is not followed when running "
         "as root"},
        {"mkdir -m 775 g && chown 65534 g && ln -s ../a.html g/l.html && chown -h 65534 g/l.html",
         "g/l.html",
         "it is a symbolic link in a folder that others may write to, which is not followed when "
         "running as root"},
    };
    int tried = 0;
    for (const Case& c : cases) {
        const TempDir dir;
        dir.write("a.html", bigPage(300));
        if (shell("cd '" + dir.path() + "' && " + c.setup) != 0) continue;
        const auto before = contents(dir.path());
        PassOptions options;
        options.chunkSize = 4096;
        options.pageNamesOnly = c.pageNamesOnly;
        trace.clear();
        EXPECT_EQ(compressFile(dir.file(c.name), options).error, c.reason) << c.setup;
        EXPECT_EQ(contents(dir.path()), before) << c.setup;
        EXPECT_EQ(trace, "") << c.setup;
        ++tried;
    }
    EXPECT_EQ(tried, root ? 8 : 5);
}

TEST(FilePass, AFailureAtAnyStepLosesNothingSaysWhyAndKeepsTheDurableOrder) {
    TempDir dir;
    const std::string content = bigPage(2000), squeezed = reference::squeeze(content);
    auto page = [&] {
        dir.write("a.html", content);
        ::chmod(dir.file("a.html").c_str(), 0666);  // a mode the new file must be given
        ::setxattr(dir.file("a.html").c_str(), "user.kept", "1", 1, 0);
        return dir.file("a.html");
    };
    // The new page's data really reaches the disk before the rename, and the folder after it.
    trace.clear();
    ASSERT_TRUE(compressFile(page()).ok);
    EXPECT_EQ(trace, "F" + inode(dir.file("a.html")) + " R D" + inode(dir.path()) + " ");
    // Three pages at once, meeting before their renames: each one's data is on disk before the
    // renames, and one sync of their folder follows all three. They also meet before their data
    // syncs, which wait for the slower pages to be written (so that a journal commits all three
    // at once).
    FolderSyncs syncs;
    std::atomic<int> atRename = 0, writing = 0, written = 0, writtenAtFirstSync = -1;
    PassOptions together;
    together.folderSyncs = &syncs;
    together.fault = [&](FaultPoint at) {
        if (at == FaultPoint::Write) {
            if (writing++ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ++written;
        }
        int none = -1;
        if (at == FaultPoint::Sync) writtenAtFirstSync.compare_exchange_strong(none, written);
        for (atRename += at == FaultPoint::Replace; at == FaultPoint::Replace && atRename < 3;)
            std::this_thread::yield();
        return 0;
    };
    trace.clear();
    std::vector<std::thread> passes;
    for (const char* name : {"p.html", "q.html", "r.html"})
        startGrouped(syncs, passes, [&, path = dir.write(name, content)] {
            EXPECT_TRUE(compressFile(path, together).ok);
        });
    for (std::thread& pass : passes) pass.join();
    std::string kinds;
    for (std::size_t at = 0; at < trace.size(); at = trace.find(' ', at) + 1) kinds += trace[at];
    EXPECT_EQ(std::pair(kinds + trace.substr(trace.rfind('D')), writtenAtFirstSync.load()),
              std::pair("FFFRRRDD" + inode(dir.path()) + " ", 3));
    for (const char* name : {"p.html", "q.html", "r.html"}) std::filesystem::remove(dir.file(name));
    // A check run reads every byte, in order, and writes and syncs nothing.
    std::string inspected;
    PassOptions check;
    check.chunkSize = 4096;
    check.dryRun = true;
    check.inspect = [&](const char* data, std::size_t n) { inspected.append(data, n); };
    trace.clear();
    const PassResult checked = compressFile(page(), check);
    EXPECT_EQ(std::tuple(checked.ok, checked.sizeAfter, inspected, readFile(dir.file("a.html")),
                         trace, dir.names()),
              std::tuple(true, std::int64_t(squeezed.size()), content, content, std::string(),
                         std::vector<std::string>{"a.html"}));

    // Each step fails, the first, second, ... time the pass reaches it, until it no longer
    // does; in place, with a backup, and into an output folder. Only the last folder sync comes
    // after the rename (or the move into the output folder): then the new page stands.
    const std::tuple<FaultPoint, int, std::string> faults[] = {
        {FaultPoint::Read, EACCES, "could not read the file: permission denied"},
        {FaultPoint::Write, ENOSPC, "could not write the compressed page: the disk is full"},
        {FaultPoint::CreateTemp, EDQUOT,
         "could not create a temporary file in the folder: the disk quota is used up"},
        {FaultPoint::CopyMetadata, ENOTSUP,
         "its permissions cannot be given to the new page: the file system does not support it"},
        {FaultPoint::Sync, EIO,
         "could not save the compressed page to disk: the disk reported an input/output error"},
        {FaultPoint::NameTemp, ENOSPC, "could not name the temporary file: the disk is full"},
        {FaultPoint::Replace, EROFS,
         "could not replace the original with the compressed page: the disk is read-only"},
        {FaultPoint::SyncFolder, EIO,
         "the page was replaced, but the folder could not be saved to disk: the disk reported an "
         "input/output error"},
        {FaultPoint::Backup, EIO,
         "could not make its backup a.html.orig: the disk reported an input/output error"},
    };
    // Nor does any failure make a check write: it stops at its read or never meets the step.
    for (const auto& [point, error, reason] : faults) {
        int reached = 0;
        check.fault = [&, point = point, error = error](FaultPoint at) {
            return at == point && reached++ == 0 ? error : 0;
        };
        const PassResult r = compressFile(page(), check);
        EXPECT_EQ(std::tuple(r.ok, reached, readFile(dir.file("a.html")), dir.names()),
                  std::tuple(point != FaultPoint::Read, point == FaultPoint::Read ? 1 : 0, content,
                             std::vector<std::string>{"a.html"}))
            << reason;
    }
    std::filesystem::create_directory(dir.file("out"));
    const int out = ::open(dir.file("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string way : {"in place", "backup", "output"}) {
        for (const auto& [point, error, reason] : faults) {
            if (point == FaultPoint::Backup && way != "backup") continue;
            for (int failAt = 0;; ++failAt) {
                const std::string path = page(), where = way + ": " + reason;
                int reached = 0;
                PassOptions options;
                options.chunkSize = 4096;
                options.fault = [&](FaultPoint at) {
                    return at == point && reached++ == failAt ? error : 0;
                };
                options.backupSuffix = way == "backup" ? ".orig" : "";
                options.outputFolder = way == "output" ? out : -1;
                options.outputName = "a.html";
                const PassResult r = compressFile(path, options);
                if (reached <= failAt) {  // not reached that often: no fault, and it was reached
                    ASSERT_TRUE(r.ok && failAt > 0) << where << " #" << failAt << ": " << r.error;
                    std::filesystem::remove(way == "output" ? dir.file("out/a.html")
                                                            : dir.file("a.html.orig"));
                    break;
                }
                // With a backup, the folder is synced once for the backup and once at the end.
                const bool placed =
                    point == FaultPoint::SyncFolder && (way != "backup" || failAt == 1);
                std::vector<std::string> names = {"a.html", "out"};
                if (way == "backup" && placed) names.insert(names.begin() + 1, "a.html.orig");
                auto state = [&](const std::string& file) {
                    const std::string text = readFile(file);
                    return text == content    ? 'o'
                           : text == squeezed ? 'S'
                           : text.empty()     ? '-'
                                              : '?';
                };
                const std::string said =
                    r.error.substr(std::min(r.error.find(':'), r.error.size()));
                ASSERT_EQ(std::tuple(r.ok, said, state(path), perms(path), dir.names(),
                                     state(dir.file("out/a.html"))),
                          std::tuple(false, reason.substr(reason.find(':')),
                                     placed && way != "output" ? 'S' : 'o', 0666u, names,
                                     placed && way == "output" ? 'S' : '-'))
                    << where << " #" << failAt << ": " << r.error;
                std::filesystem::remove(dir.file("out/a.html"));
                std::filesystem::remove(dir.file("a.html.orig"));
            }
        }
    }
    ::close(out);
    // Where the file system keeps no second names, the backup is a copy, metadata and all.
    PassOptions copying;
    copying.backupSuffix = ".orig";
    copying.fault = [](FaultPoint at) { return at == FaultPoint::Backup ? EPERM : 0; };
    const std::string path = page();
    ASSERT_TRUE(compressFile(path, copying).ok);
    char kept[2] = {};
    EXPECT_EQ(std::tuple(readFile(path) == squeezed, readFile(path + ".orig") == content,
                         inode(path + ".orig") != inode(path), perms(path + ".orig"),
                         ::getxattr((path + ".orig").c_str(), "user.kept", kept, 1)),
              std::tuple(true, true, true, 0666u, ssize_t(1)));
}

TEST(FilePass, AChangeByAnotherProgramIsCaughtUntilTheRename) {
    TempDir dir;
    const std::string content = bigPage(3000), page = dir.file("a.html");
    // At the nth time the pass reaches a step, a shell command changes the page.
    const std::tuple<FaultPoint, int, std::string> cases[] = {
        {FaultPoint::Read, 1, "printf late >>a.html"},
        {FaultPoint::Sync, 0,
         "t=$(stat -c %y a.html) && printf X | dd of=a.html conv=notrunc "
         "&& touch -d \"$t\" a.html"},  // same size, time set back
        {FaultPoint::Sync, 0, "printf new >b && mv b a.html"},
        {FaultPoint::Sync, 0, "chmod 600 a.html"},
    };
    for (const auto& [when, nth, change] : cases) {
        dir.write("a.html", content);
        std::string expected;
        const PassOptions options = actingAt(when, nth, [&] {
            shell("cd '" + dir.path() + "' && " + change);
            expected = readFile(page);
        });
        EXPECT_EQ(compressFile(page, options).error, kChangedDuringPass) << change;
        EXPECT_EQ(std::pair(readFile(page), dir.names()),
                  std::pair(expected, std::vector<std::string>{"a.html"}))
            << change;
    }
    // A folder of a walked tree that is a link by the time its file's turn comes is refused;
    // one swapped for a link once the pass holds it cannot lead the rewrite out of the tree.
    // A page that became a link is refused too, and a window's row reached again refuses a
    // path that now runs through a link.
    shell("cd '" + dir.path() +
          "' && mkdir -p site/sub out && cp a.html site/sub/p.html && cp a.html out/p.html && ln "
          "-s ../out site/gone && ln -s ../../out/p.html site/sub/l.html");
    EXPECT_EQ(compressBelow(dir.file("site"), "gone/p.html").error,
              "the folder gone on its way is no longer a folder (a symbolic link or a file took "
              "its place)");
    EXPECT_EQ(compressBelow(dir.file("site"), "sub/l.html").error,
              "it is a symbolic link inside a folder, which is not followed");
    const std::string added = resolvedPath(dir.file("site/sub/p.html"));
    const PassOptions swap = actingAt(FaultPoint::Sync, 0, [&] {
        shell("cd '" + dir.path() + "/site' && mv sub moved && ln -s ../out sub");
    });
    EXPECT_TRUE(compressBelow(dir.file("site"), "sub/p.html", swap).ok);
    EXPECT_EQ(compressResolved(added).error,
              "a folder on its path was replaced by a link after it was added");
    EXPECT_EQ(readFile(dir.file("out/p.html")) + readFile(dir.file("site/moved/p.html")),
              content + reference::squeeze(content));
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("site/moved/l.html")), "../../out/p.html");
}

// The sweep removes only what a killed pass provably left: a file of the exact name form with
// one name, not the page in hand, held by no running pass and marked as this program's own.
// As root, and as a user who is not.
TEST(FilePass, TheSweepRemovesOnlyWhatAKilledPassProvablyLeft) {
    std::vector<uid_t> users{::geteuid()};
    if (users[0] == 0) users.push_back(65534);
    for (const uid_t user : users) {
        const TempDir dir;
        ASSERT_EQ(::chown(dir.path().c_str(), user, user), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(1);
            for (const char* name : {"1", "2", "3", "4"}) {
                const std::string file =
                    dir.write(".vellork-000000000" + std::string(name) + ".tmp",
                              name[0] == '4' ? kPage : "<half");
                ::setxattr(file.c_str(), "user.vellork.temp", "1", 1, 0);
            }
            for (const char* name :
                 {".vellork-notes", ".vellork-notes.tmp", ".vellork-000000000u.tmp"})
                dir.write(name, "mine");  // a user's own, and one of the form but not marked
            // A user's own copy of a leftover keeps the mark, but not the name form.
            ::setxattr(dir.file(".vellork-notes.tmp").c_str(), "user.vellork.temp", "1", 1, 0);
            ::link(dir.file(".vellork-0000000003.tmp").c_str(), dir.file("twin").c_str());
            const int running = ::open(dir.file(".vellork-0000000002.tmp").c_str(), O_RDONLY);
            ::flock(running, LOCK_EX);
            // The page in hand may have such a name too, given with --any-name.
            const PassResult pass = compressFile(dir.file(".vellork-0000000004.tmp"));
            std::string told = pass.error + "|";
            for (const std::string& name : pass.removed) told += name + " ";
            for (const std::string& name : dir.names()) told += "|" + name;
            dir.write("told", told + "|" + readFile(dir.file(".vellork-0000000004.tmp")));
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(
            readFile(dir.file("told")),
            "|.vellork-0000000001.tmp |.vellork-0000000002.tmp|.vellork-0000000003.tmp|"
            ".vellork-0000000004.tmp|.vellork-000000000u.tmp|.vellork-notes|.vellork-notes.tmp|"
            "twin|" +
                kSqueezed)
            << "as user " << user;
    }
}

// On a small exFAT file system of its own: whole-second times, no unnamed files, no extended
// attributes, names looked up in any case.
TEST(FilePass, CoarseTimesAFullDiskAndNoUnnamedFilesOnExfat) {
    const TempDir dir;
    const auto exfat = mounted(dir, "truncate -s 16M \"$img\" && mkfs.exfat \"$img\"",
                               "d=$(losetup -f --show \"$img\") && mount.exfat-fuse $d \"$dir\" && "
                               "losetup -d $d");
    if (!exfat) GTEST_SKIP() << "no exFAT here (it needs root and a loop device)";
    // Named temporary files of killed passes go with the next pass in the folder, when they
    // are the user's own and no running pass still holds them.
    dir.write(".vellork-killed0000.tmp", "<half");
    const int held = ::open(dir.write(".vellork-running000.tmp", "<half").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // A name given in another case keeps the name as it is stored.
    dir.write("Index.html", kPage);
    const PassResult pass = compressFile(dir.file("INDEX.HTML"));
    EXPECT_EQ(std::tuple(pass.error, pass.removed, readFile(dir.file("Index.html"))),
              std::tuple("", std::vector<std::string>{".vellork-killed0000.tmp"}, kSqueezed));
    // One byte changed within the same second leaves the size and the whole-second times; a
    // tail added is not lost either.
    const std::string content = bigPage(3000), page = dir.write("a.html", content);
    const PassOptions options = actingAt(FaultPoint::Sync, 0, [&] {
        std::fstream(page, std::ios::in | std::ios::out | std::ios::binary).put('X');
    });
    EXPECT_EQ(compressFile(page, options).error, kChangedDuringPass);
    const PassOptions growing = actingAt(FaultPoint::Sync, 0, [&] {
        std::ofstream(page, std::ios::app | std::ios::binary) << "tail";
    });
    EXPECT_EQ(compressFile(page, growing).error, kChangedDuringPass);
    EXPECT_TRUE(readFile(page) == "X" + content.substr(1) + "tail");
    ::close(held);
    // A real full disk: the new page finds no room beside the old one.
    const std::string full = dir.write("full.html", std::string(9'000'000, 'x'));
    EXPECT_EQ(compressFile(full).error, "could not write the compressed page: the disk is full");
    EXPECT_TRUE(readFile(full) == std::string(9'000'000, 'x'));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".vellork-running000.tmp", "Index.html",
                                                     "a.html", "full.html"}));
}

TEST(FilePass, AnInterruptedRunLeavesEveryPageWholeOrCompressed) {
    // A child compresses three pages (one hard-linked) and is killed at each step of its
    // passes in turn; it tells how many steps there are by its exit status. The pages go one
    // after the other, and then at once on three threads that share their folder's syncs.
    TempDir dir;
    const std::string content = bigPage(4000), squeezed = reference::squeeze(content);
    const char* const names[] = {"a.html", "b.html", "c.html"};
    auto runChild = [&](int stopAt, int signal, bool grouped) {
        for (const char* name : names) dir.write(name, content);
        shell("cd '" + dir.path() + "' && ln -f b.html b2.html");
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::atomic<int> steps = 0;
            FolderSyncs syncs;
            PassOptions options;
            options.chunkSize = 16384;
            options.fault = [&](FaultPoint) { return steps++ == stopAt ? ::raise(signal) : 0; };
            options.folderSyncs = grouped ? &syncs : nullptr;
            std::vector<std::thread> passes;
            for (const char* name : names) {
                if (!grouped) compressFile(dir.file(name), options);
                if (grouped)
                    startGrouped(syncs, passes,
                                 [&, name] { compressFile(dir.file(name), options); });
            }
            for (std::thread& pass : passes) pass.join();
            ::_exit(steps);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    };
    for (const bool grouped : {false, true}) {
        const int steps = runChild(-1, SIGKILL, grouped);
        ASSERT_GT(steps, 30);
        std::map<std::string, std::int64_t> leftovers;  // of the run before, and when made
        for (int stopAt = 0; stopAt <= steps; ++stopAt) {
            const int signal = stopAt % 3 == 0 ? SIGKILL : stopAt % 3 == 1 ? SIGTERM : SIGINT;
            // A group may sync its folder once for several pages: fewer steps, never more.
            const int status = runChild(stopAt, signal, grouped);
            ASSERT_TRUE(status == -signal || (status >= 0 && status <= steps && stopAt >= status))
                << status << " at step " << stopAt;
            // A kill between naming the finished file and the rename leaves a complete copy of
            // the result beside the untouched page, one per pass in hand; the next run's passes
            // remove it (a new one may take its inode, and so its name, but not its time).
            auto all = contents(dir.path());
            std::map<std::string, std::int64_t> left;
            for (; all.begin()->first.rfind(kTempPrefix, 0) == 0; all.erase(all.begin())) {
                struct stat status {};
                ::stat(dir.file(all.begin()->first).c_str(), &status);
                const auto made =
                    std::int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec;
                const auto before = leftovers.find(all.begin()->first);
                ASSERT_TRUE(all.begin()->second == squeezed &&
                            (before == leftovers.end() || before->second != made))
                    << all.begin()->first << " at step " << stopAt;
                left.emplace(all.begin()->first, made);
            }
            ASSERT_LE(left.size(), grouped ? 3u : 1u) << "at step " << stopAt;
            leftovers = std::move(left);
            // a, b, b2 and c: one after the other, done pages, then at most the one in hand,
            // then untouched ones; at once, each whole. The other name of b keeps the original.
            std::string states;
            for (const auto& [name, text] : all)
                states += text == squeezed ? 'S' : text == content ? 'o' : '?';
            const bool whole =
                grouped ? states.find('?') == std::string::npos && states.size() == 4 &&
                              states[2] == 'o'
                        : std::string(" oooo Sooo SSoo SSoS ").find(" " + states + " ") !=
                              std::string::npos;
            ASSERT_TRUE(whole) << states << " at step " << stopAt << (grouped ? " at once" : "");
        }
    }
}

}  // namespace
