#include "filepass.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace {

using vellork::compressFile;
using vellork::PassOptions;
using vellork::testing::readFile;
using vellork::testing::statOf;
using vellork::testing::TempDir;

const std::string kPage = "<html>\r\n  <body>\t<p>a   b</p>  \r\n\r\n</body>\r\n</html>\r\n";
const std::string kSqueezed = "<html><body><p>a b</p></body></html>\r\n";

bool isRoot() {
    return ::geteuid() == 0;
}

// Runs `body` in a child process and returns its exit code (or 128 + signal).
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A page of `lines` lines with indentation, tabs and space runs.
std::string bigPage(std::size_t lines) {
    std::string page;
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < lines; ++i)
        page += std::string(rng() % 8, ' ') + "<td>\tcell   " + std::to_string(i) + "</td>  \r\n";
    return page;
}

TEST(FilePass, RewritesThePageAndMeasuresBothSizes) {
    TempDir dir;
    const std::string page = dir.write("a.html", kPage);
    ::chmod(page.c_str(), 0640);
    const auto result = compressFile(page);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readFile(page), kSqueezed);
    EXPECT_EQ(result.sizeBefore, static_cast<std::int64_t>(kPage.size()));
    EXPECT_EQ(result.sizeAfter, static_cast<std::int64_t>(kSqueezed.size()));
    EXPECT_EQ(statOf(page).st_mode & 07777, 0640u);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.html"});  // no temporary file left

    // A second pass leaves the file as it is.
    const auto again = compressFile(page);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(readFile(page), kSqueezed);
    EXPECT_EQ(again.sizeBefore, again.sizeAfter);

    const std::string empty = dir.write("empty.html", "");
    const auto emptyResult = compressFile(empty);
    ASSERT_TRUE(emptyResult.ok);
    EXPECT_EQ(emptyResult.sizeBefore, 0);
    EXPECT_EQ(emptyResult.sizeAfter, 2);
    EXPECT_EQ(readFile(empty), "\r\n");
}

TEST(FilePass, KeepsModeOwnerAndGroup) {
    TempDir dir;
    // The new file starts out with the umask applied: modes it strips must come back, and so
    // must setuid, which a change of owner clears.
    const mode_t umaskBefore = ::umask(022);
    for (const mode_t mode : {0751u, 0666u, 04755u}) {
        const std::string page = dir.write("a.html", kPage);
        ::chmod(page.c_str(), mode);
        if (isRoot()) {
            ASSERT_EQ(::chown(page.c_str(), 12345, 23456), 0);
            ::chmod(page.c_str(), mode);
        }
        ASSERT_TRUE(compressFile(page).ok);
        const auto st = statOf(page);
        EXPECT_EQ(st.st_mode & 07777, mode);
        if (isRoot()) {
            EXPECT_EQ(st.st_uid, 12345u);
            EXPECT_EQ(st.st_gid, 23456u);
        }
    }
    ::umask(umaskBefore);
}

TEST(FilePass, RefusesWhatIsNotAWritableRegularFileAndChangesNothing) {
    TempDir dir;
    const std::string missing = dir.file("missing.html");
    auto result = compressFile(missing);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "the file does not exist");
    EXPECT_FALSE(std::filesystem::exists(missing));  // nothing created

    std::filesystem::create_directory(dir.file("folder.html"));
    result = compressFile(dir.file("folder.html"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "it is a folder, not a file");

    // A FIFO with no writer would block a plain open forever.
    ASSERT_EQ(::mkfifo(dir.file("pipe.html").c_str(), 0644), 0);
    result = compressFile(dir.file("pipe.html"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("not a regular file"), std::string::npos);

    result = compressFile("/dev/zero");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("not a regular file"), std::string::npos);

    // Read-only is honoured even by root, who could write it anyway.
    const std::string readOnly = dir.write("ro.html", kPage);
    ::chmod(readOnly.c_str(), 0444);
    result = compressFile(readOnly);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "the file is read-only");
    EXPECT_EQ(result.sizeBefore, static_cast<std::int64_t>(kPage.size()));
    EXPECT_EQ(readFile(readOnly), kPage);

    ASSERT_EQ(::symlink(dir.file("gone.html").c_str(), dir.file("dangling.html").c_str()), 0);
    result = compressFile(dir.file("dangling.html"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("does not exist"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone.html")));

    EXPECT_FALSE(compressFile("").ok);
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"dangling.html", "folder.html", "pipe.html", "ro.html"}));
}

TEST(FilePass, ASymbolicLinkStaysALinkAndItsTargetIsRewritten) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.write("real/page.html", kPage);
    ASSERT_EQ(::symlink("real/page.html", dir.file("link.html").c_str()), 0);
    const auto result = compressFile(dir.file("link.html"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.html")));
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("link.html")), "real/page.html");
    EXPECT_EQ(readFile(target), kSqueezed);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"link.html", "real"}));
}

TEST(FilePass, AHardLinkedFileIsRewrittenInPlaceForEveryName) {
    TempDir dir, backups;
    const std::string page = dir.write("a.html", kPage);
    ASSERT_EQ(::link(page.c_str(), dir.file("b.html").c_str()), 0);
    const ino_t inode = statOf(page).st_ino;
    PassOptions options;
    options.backupFolder = backups.path();
    const auto result = compressFile(page, options);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(statOf(page).st_ino, inode);
    EXPECT_EQ(readFile(dir.file("b.html")), kSqueezed);
    EXPECT_EQ(result.sizeAfter, static_cast<std::int64_t>(kSqueezed.size()));
    EXPECT_TRUE(backups.names().empty());  // the safety copy is gone after success

    // Without a place for the safety copy the file is not touched.
    const std::string other = dir.write("c.html", kPage);
    ASSERT_EQ(::link(other.c_str(), dir.file("d.html").c_str()), 0);
    options.backupFolder = dir.file("no-such-folder");
    const auto refused = compressFile(other, options);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("no safety copy"), std::string::npos) << refused.error;
    EXPECT_EQ(readFile(other), kPage);
}

TEST(FilePass, AFailureAtAnyStepLosesNothingAndSaysWhy) {
    using vellork::FaultPoint;
    const FaultPoint points[] = {FaultPoint::Read,       FaultPoint::Write,
                                 FaultPoint::CreateTemp, FaultPoint::CopyMetadata,
                                 FaultPoint::Sync,       FaultPoint::NameTemp,
                                 FaultPoint::Replace,    FaultPoint::SyncFolder};
    int injectedFaults = 0;
    const mode_t umaskBefore = ::umask(022);
    // Both ways of rewriting: through a temporary file, and in place for a hard-linked file.
    for (bool hardLinked : {false, true}) {
        TempDir dir, backups;
        const std::string content = bigPage(2000);
        const std::string squeezed = vellork::reference::squeeze(content);
        for (FaultPoint point : points) {
            // Fail the first, second, ... time the pass reaches this step, until it no longer does.
            for (int failAt = 0;; ++failAt) {
                const std::string page = dir.write("a.html", content);
                ::chmod(page.c_str(), 0666);  // a mode the new file must be given explicitly
                if (hardLinked) {
                    std::filesystem::remove(dir.file("b.html"));
                    ASSERT_EQ(::link(page.c_str(), dir.file("b.html").c_str()), 0);
                }
                const auto namesBefore = dir.names();
                PassOptions options;
                options.chunkSize = 4096;
                options.backupFolder = backups.path();
                int reached = 0;
                options.fault = [&](FaultPoint at) {
                    return at == point && reached++ == failAt ? ENOSPC : 0;
                };
                const auto result = compressFile(page, options);
                if (reached <= failAt) {  // the step was not reached that often: no fault
                    ASSERT_TRUE(result.ok) << result.error;
                    ASSERT_EQ(readFile(page), squeezed);
                    break;
                }
                ++injectedFaults;
                const std::string where = "fault " + std::to_string(static_cast<int>(point)) +
                                          " #" + std::to_string(failAt) +
                                          (hardLinked ? " in place" : " through a temporary file");
                ASSERT_EQ(dir.names(), namesBefore) << where;
                ASSERT_TRUE(backups.names().empty()) << where;
                if (result.ok) {  // a way around the failed step (a named temporary file)
                    ASSERT_EQ(readFile(page), squeezed) << where;
                    continue;
                }
                ASSERT_NE(result.error.find("the disk is full"), std::string::npos)
                    << where << ": " << result.error;
                const std::string now = readFile(page);
                if (point == FaultPoint::SyncFolder)  // after the rename: the whole new page
                    ASSERT_EQ(now, squeezed) << where;
                else
                    ASSERT_EQ(now, content) << where;
                ASSERT_LT(failAt, 1000);
            }
        }
    }
    ::umask(umaskBefore);
    EXPECT_GT(injectedFaults, 40);
    RecordProperty("injected_faults", injectedFaults);
}

TEST(FilePass, AFileSizeLimitIsAFullDiskThatLosesNothing) {
    TempDir dir;
    const std::string content = bigPage(20000);
    const std::string page = dir.write("a.html", content);
    // The squeezed page is far larger than the limit: the write runs into it halfway.
    const int code = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto result = compressFile(page);
        return !result.ok && result.error.find("allowed file size") != std::string::npos ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(page), content);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.html"});
}

TEST(FilePass, HugeAndOddPagesStreamThroughBoundedMemory) {
    TempDir dir;
    // Peak memory of a child process that compresses `page`, in MB above its start; or -1.
    auto peakGrowthMb = [](const std::string& page) {
        return inChild([&] {
            rusage before{}, after{};
            ::getrusage(RUSAGE_SELF, &before);
            if (!compressFile(page).ok) return 255;
            ::getrusage(RUSAGE_SELF, &after);
            return static_cast<int>(
                std::min<long>(254, (after.ru_maxrss - before.ru_maxrss) / 1024));
        });
    };

    // 100 MB in one line with no line end at all.
    const std::string unit = "<b>x</b>   \t ";
    const std::size_t units = 100'000'000 / unit.size();
    {
        std::ofstream out(dir.file("line.html"), std::ios::binary);
        for (std::size_t i = 0; i < units; ++i) out << unit;
    }
    EXPECT_LT(peakGrowthMb(dir.file("line.html")), 32);
    EXPECT_EQ(std::filesystem::file_size(dir.file("line.html")), units * 9 + 2);
    std::ifstream line(dir.file("line.html"), std::ios::binary);
    std::string head(27, '\0');
    line.read(head.data(), 27);
    EXPECT_EQ(head, "<b>x</b> <b>x</b> <b>x</b> ");
    std::filesystem::remove(dir.file("line.html"));

    // 3 GB, past what a 32-bit size can hold: a sparse file of NUL bytes, which pass as they are.
    const std::int64_t huge = 3'000'000'000;
    {
        const std::string page = dir.write("huge.html", "");
        ASSERT_EQ(::truncate(page.c_str(), huge), 0);
    }
    const auto before = vellork::testing::statOf(dir.file("huge.html")).st_size;
    EXPECT_LT(peakGrowthMb(dir.file("huge.html")), 32);
    EXPECT_EQ(before, huge);
    EXPECT_EQ(vellork::testing::statOf(dir.file("huge.html")).st_size, huge + 2);
    std::filesystem::remove(dir.file("huge.html"));

    const std::string blank = dir.write("blank.html", "\r\n  \r\n\r\n   ");
    const auto result = compressFile(blank);
    EXPECT_EQ(result.sizeBefore, 11);
    EXPECT_EQ(result.sizeAfter, 2);
    EXPECT_EQ(readFile(blank), "\r\n");
}

TEST(FilePass, AFileThatChangesDuringThePassIsLeftAsItIsNow) {
    TempDir dir;
    const std::string page = dir.write("a.html", bigPage(3000));
    PassOptions options;
    options.chunkSize = 4096;
    bool appended = false;
    options.tick = [&] {
        if (!appended) {
            std::ofstream(page, std::ios::app) << "<p>late</p>";
            appended = true;
        }
    };
    const auto result = compressFile(page, options);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("changed while"), std::string::npos) << result.error;
    EXPECT_EQ(readFile(page), bigPage(3000) + "<p>late</p>");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.html"});
}

TEST(FilePass, AKilledPassLeavesEitherTheOriginalOrTheWholeResult) {
    // A child compresses three large pages one after the other and is killed at a random
    // moment; many runs, so that the kill lands in every stage of a pass.
    TempDir dir;
    const std::string content = bigPage(60000);
    const std::string squeezed = vellork::reference::squeeze(content);
    const std::vector<std::string> names = {"a.html", "b.html", "c.html"};
    std::mt19937 rng(42);
    int untouched = 0, complete = 0, namedLeftovers = 0;
    for (int run = 0; run < 30; ++run) {
        for (const auto& name : names) dir.write(name, content);
        const pid_t pid = ::fork();
        if (pid == 0) {
            PassOptions options;
            options.chunkSize = 16384;
            options.tick = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
            for (const auto& name : names) compressFile(dir.file(name), options);
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 120000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        bool laterMayBeDone = true;
        for (const auto& name : names) {
            const std::string now = readFile(dir.file(name));
            ASSERT_TRUE(now == content || now == squeezed) << "run " << run << ", " << name;
            ASSERT_TRUE(laterMayBeDone || now == content) << "run " << run << ": out of order";
            laterMayBeDone = now == squeezed;
            (now == content ? untouched : complete)++;
        }
        // The one instant that leaves something: between naming the finished temporary file
        // and renaming it over the original (two calls apart) the original is still whole,
        // and a complete copy of the result stays beside it.
        for (const auto& name : dir.names()) {
            if (std::find(names.begin(), names.end(), name) != names.end()) continue;
            ASSERT_EQ(name.rfind(vellork::kTempPrefix, 0), 0u) << "run " << run << ": " << name;
            ASSERT_EQ(readFile(dir.file(name)), squeezed) << "run " << run << ": " << name;
            std::filesystem::remove(dir.file(name));
            ++namedLeftovers;
        }
    }
    EXPECT_GT(untouched, 0);
    EXPECT_GT(complete, 0);
    RecordProperty("kill_runs", 30);
    RecordProperty("named_leftovers", namedLeftovers);
}

TEST(FilePass, AFileInAFolderThatMayNotBeWrittenIsRewrittenInPlace) {
    if (!isRoot()) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir, backups;
    const std::string page = dir.write("a.html", kPage);
    const uid_t nobody = 65534;
    ASSERT_EQ(::chown(page.c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(backups.path().c_str(), 0777), 0);
    const int code = inChild([&] {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) return 2;
        PassOptions options;
        options.backupFolder = backups.path();
        const auto result = compressFile(page, options);
        return result.ok ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(page), kSqueezed);
    EXPECT_EQ(statOf(page).st_uid, nobody);
    EXPECT_TRUE(backups.names().empty());
}

}  // namespace
