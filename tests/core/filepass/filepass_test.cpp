#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <set>

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
    TempDir dir, scratch;
    // Each set up with the system's own tools; what the tools report must not change. Modes the
    // umask would strip, and write bits held by others than the owner, come first.
    const std::string cases[] = {
        "chmod 0666 a.html",
        "chmod 0464 a.html",
        "chmod 0046 a.html",
        "chown 12345:23456 a.html && chmod 0750 a.html",
        "setfacl -m u:65534:rw-,g::r--,m::rw- a.html",      // the mask wider than the group
        "chmod 600 a.html && setfacl -d -m u:65534:rw- .",  // the folder's default not taken up
        "setfattr -n user.origin -v export a.html",
        "setfattr -n trusted.note -v 0x0100 a.html",
        "chattr +dA a.html",
    };
    const std::string in = "cd '" + dir.path() + "' && ";
    auto report = [&] {
        shell(in +
              "{ stat -c '%a %u %g' a.html; getfattr -h -d -m - -e hex a.html; lsattr a.html "
              "| tr -cd dA; } >'" +
              scratch.file("report") + "'");
        return readFile(scratch.file("report"));
    };
    const mode_t umaskBefore = ::umask(022);
    int kept = 0;
    for (const std::string& setup : cases) {
        shell(in + "rm -f a.html && setfacl -b -k .");  // each case on a new page
        const std::string page = dir.write("a.html", kPage);
        if (shell(in + setup) != 0) continue;  // not possible on this system or as this user
        const std::string before = report();
        EXPECT_EQ(compressFile(page).error, "") << setup;
        EXPECT_EQ(readFile(page) + report(), kSqueezed + before) << setup;
        ++kept;
    }
    ::umask(umaskBefore);
    EXPECT_GE(kept, ::geteuid() == 0 ? 9 : 6);
    // A symbolic link named by the user stays a link; its target gets the new content.
    shell(in + "mkdir real && ln -s real/p.html link.html");
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

TEST(FilePass, AFailureAtAnyStepLosesNothingSaysWhyAndKeepsTheDurableOrder) {
    TempDir dir;
    const std::string content = bigPage(2000), squeezed = reference::squeeze(content);
    auto page = [&] {
        dir.write("a.html", content);
        ::chmod(dir.file("a.html").c_str(), 0666);  // a mode the new file must be given
        ::setxattr(dir.file("a.html").c_str(), "user.kept", "1", 1, 0);
        return dir.file("a.html");
    };
    // The durable steps in order: the data on disk before the rename, the folder after it.
    std::string steps;
    PassOptions watched;
    watched.fault = [&](FaultPoint at) {
        const char step = "rwcmsnRf"[static_cast<int>(at)];
        if (steps.empty() || steps.back() != step) steps += step;
        return 0;
    };
    ASSERT_TRUE(compressFile(page(), watched).ok);
    EXPECT_EQ(steps, "crwmsnRf");

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
    };
    for (const auto& [point, error, reason] : faults) {
        // Fail the first, second, ... time the pass reaches this step, until it no longer does.
        for (int failAt = 0;; ++failAt) {
            const std::string path = page();
            int reached = 0;
            PassOptions options;
            options.chunkSize = 4096;
            options.fault = [&](FaultPoint at) {
                return at == point && reached++ == failAt ? error : 0;
            };
            const PassResult r = compressFile(path, options);
            const std::string where = reason + " #" + std::to_string(failAt);
            if (reached <= failAt) {  // not reached that often: no fault, and it was reached
                ASSERT_TRUE(r.ok && failAt > 0) << where << ": " << r.error;
                break;
            }
            // Only a failed folder sync comes after the rename: then the page is the result.
            ASSERT_EQ(
                std::tuple(r.ok, failAt ? reason : r.error, readFile(path),
                           unsigned(std::filesystem::status(path).permissions()), dir.names()),
                std::tuple(false, reason, point == FaultPoint::SyncFolder ? squeezed : content,
                           0666u, std::vector<std::string>{"a.html"}))
                << where;
        }
    }
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
    shell("cd '" + dir.path() +
          "' && mkdir -p site/sub out && cp a.html site/sub/p.html && cp a.html out/p.html && ln "
          "-s ../out site/gone");
    EXPECT_EQ(compressBelow(dir.file("site"), "gone/p.html").error,
              "the folder gone on its way is no longer a folder (a symbolic link or a file took "
              "its place)");
    const PassOptions swap = actingAt(FaultPoint::Sync, 0, [&] {
        shell("cd '" + dir.path() + "/site' && mv sub moved && ln -s ../out sub");
    });
    EXPECT_TRUE(compressBelow(dir.file("site"), "sub/p.html", swap).ok);
    EXPECT_EQ(readFile(dir.file("out/p.html")) + readFile(dir.file("site/moved/p.html")),
              content + reference::squeeze(content));
}

// On a small exFAT file system of its own: whole-second times, no unnamed files.
TEST(FilePass, CoarseTimesAFullDiskAndNoUnnamedFilesOnExfat) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    const TempDir scratch, dir;
    const std::string image = "'" + scratch.file("fs.img") + "'";
    if (shell("truncate -s 16M " + image + " && mkfs.exfat " + image +
              " && d=$(losetup -f --show " + image + ") && mount.exfat-fuse $d '" + dir.path() +
              "' && losetup -d $d"))
        GTEST_SKIP() << "could not mount exFAT here";
    const std::shared_ptr<void> unmount(nullptr,
                                        [&](void*) { shell("umount '" + dir.path() + "'"); });
    // Named temporary files of killed passes go with the next pass in the folder, unless a
    // running pass still holds them.
    dir.write(".vellork-killed0000.tmp", "<half");
    const int held = ::open(dir.write(".vellork-running000.tmp", "<half").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // One byte changed within the same second leaves the size and the whole-second times.
    const std::string content = bigPage(3000), page = dir.write("a.html", content);
    const PassOptions options = actingAt(FaultPoint::Sync, 0, [&] {
        std::fstream(page, std::ios::in | std::ios::out | std::ios::binary).put('X');
    });
    EXPECT_EQ(compressFile(page, options).error, kChangedDuringPass);
    EXPECT_EQ(compressFile(page).error, "");
    EXPECT_EQ(readFile(page), reference::squeeze("X" + content.substr(1)));
    ::close(held);
    // A real full disk: the new page finds no room beside the old one.
    const std::string full = dir.write("full.html", std::string(9'000'000, 'x'));
    EXPECT_EQ(compressFile(full).error, "could not write the compressed page: the disk is full");
    EXPECT_TRUE(readFile(full) == std::string(9'000'000, 'x'));
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{".vellork-running000.tmp", "a.html", "full.html"}));
}

TEST(FilePass, AnInterruptedRunLeavesEveryPageWholeOrCompressed) {
    // A child compresses three pages (one hard-linked) and is killed at each step of its
    // passes in turn; it tells how many steps there are by its exit status.
    TempDir dir;
    const std::string content = bigPage(4000), squeezed = reference::squeeze(content);
    const char* const names[] = {"a.html", "b.html", "c.html"};
    auto runChild = [&](int stopAt, int signal) {
        for (const char* name : names) dir.write(name, content);
        shell("cd '" + dir.path() + "' && ln -f b.html b2.html");
        const pid_t pid = ::fork();
        if (pid == 0) {
            int steps = 0;
            PassOptions options;
            options.chunkSize = 16384;
            options.fault = [&](FaultPoint) { return steps++ == stopAt ? ::raise(signal) : 0; };
            for (const char* name : names) compressFile(dir.file(name), options);
            ::_exit(steps);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    };
    const int steps = runChild(-1, SIGKILL);
    ASSERT_GT(steps, 30);
    std::set<std::string> leftovers;
    for (int stopAt = 0; stopAt <= steps; ++stopAt) {
        const int signal = stopAt % 3 == 0 ? SIGKILL : stopAt % 3 == 1 ? SIGTERM : SIGINT;
        ASSERT_EQ(runChild(stopAt, signal), stopAt < steps ? -signal : steps);
        // A kill between naming the finished file and the rename leaves a complete copy of the
        // result beside the untouched page, once; the next run's first pass removes it.
        auto all = contents(dir.path());
        if (const auto first = all.begin(); first->first.rfind(kTempPrefix, 0) == 0) {
            ASSERT_TRUE(first->second == squeezed && leftovers.insert(first->first).second)
                << first->first << " at step " << stopAt;
            all.erase(first);
        }
        // a, b, b2 and c: done pages, then at most the one in hand, then untouched ones; the
        // other name of b keeps the original.
        std::string states;
        for (const auto& [name, text] : all)
            states += text == squeezed ? 'S' : text == content ? 'o' : '?';
        ASSERT_NE(std::string(" oooo Sooo SSoo SSoS ").find(" " + states + " "), std::string::npos)
            << states << " at step " << stopAt;
    }
}

}  // namespace
