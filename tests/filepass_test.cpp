#include "filepass.h"
#include "pagecheck.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>
#include <random>

namespace {

using vellork::compressFile;
using vellork::compressFileBelow;
using vellork::FaultPoint;
using vellork::PassOptions;
using vellork::PassResult;
using vellork::testing::readFile;
using vellork::testing::statOf;
using vellork::testing::TempDir;

const std::string kPage = "<html>\r\n  <body>\t<p>a   b</p>  \r\n\r\n</body>\r\n</html>\r\n";
const std::string kSqueezed = "<html><body><p>a b</p></body></html>\r\n";
constexpr uid_t kNobody = 65534;

bool isRoot() {
    return ::geteuid() == 0;
}

// A page of `lines` lines with indentation, tabs and space runs.
std::string bigPage(std::size_t lines) {
    std::string page;
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < lines; ++i)
        page += std::string(rng() % 8, ' ') + "<td>\tcell   " + std::to_string(i) + "</td>  \r\n";
    return page;
}

// Runs `pass` in a child process, as user and group `uid` when given, and returns its result.
PassResult inChild(const std::function<PassResult()>& pass, uid_t uid = 0) {
    int channel[2];
    if (::pipe(channel) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        PassResult result;
        if (uid != 0 && (::setgroups(0, nullptr), ::setgid(uid) != 0 || ::setuid(uid) != 0))
            result.error = "could not become the other user";
        else
            result = pass();
        const std::string text = (result.ok ? "1" : "0") + result.error;
        (void)!::write(channel[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(channel[0]);
    ::waitpid(pid, nullptr, 0);
    PassResult result;
    result.ok = text.rfind('1', 0) == 0;
    result.error = text.empty() ? "the child died" : text.substr(1);
    return result;
}

// Everything of a file that the pass must keep.
struct Metadata {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    long flags;
    std::map<std::string, std::string> attributes;
    bool operator==(const Metadata&) const = default;
};
Metadata metadataOf(const std::string& path) {
    const struct stat st = statOf(path);
    Metadata m{st.st_mode & 07777, st.st_uid, st.st_gid, 0, {}};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &m.flags) != 0) m.flags = 0;
    m.flags &= FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL | FS_COMPR_FL | FS_NOCOW_FL | FS_SECRM_FL;
    char names[4096];
    const ssize_t n = fd >= 0 ? ::flistxattr(fd, names, sizeof names) : -1;
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t v = ::fgetxattr(fd, names + at, value, sizeof value);
        m.attributes[names + at] = std::string(value, v > 0 ? static_cast<std::size_t>(v) : 0);
    }
    if (fd >= 0) ::close(fd);
    return m;
}

bool setFlags(const std::string& path, long flags) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    long now = 0;
    const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &now) == 0 &&
                    (now |= flags, ::ioctl(fd, FS_IOC_SETFLAGS, &now) == 0);
    if (fd >= 0) ::close(fd);
    return ok;
}

int shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// A small file system of its own, mounted for one test; `reason` says why there is none.
class Mount {
public:
    Mount(const std::string& type, const std::string& sizeOrImage) {
        if (!isRoot()) {
            reason_ = "mounting needs root";
            return;
        }
        std::string command =
            type == "tmpfs"
                ? "mount -t tmpfs -o size=" + sizeOrImage + " tmpfs '" + at_.path() + "'"
                : "truncate -s 16M '" + image_.file("fs.img") + "' && mkfs.exfat '" +
                      image_.file("fs.img") + "' && d=$(losetup -f --show '" +
                      image_.file("fs.img") + "') && mount.exfat-fuse \"$d\" '" + at_.path() +
                      "' && losetup -d \"$d\"";
        if (shell(command) != 0) reason_ = "could not mount " + type + " here";
    }
    ~Mount() {
        if (reason_.empty()) shell("umount '" + at_.path() + "'");
    }
    const std::string& skipReason() const { return reason_; }
    const TempDir& dir() const { return at_; }

private:
    TempDir image_, at_;
    std::string reason_;
};

TEST(FilePass, CompressesEveryKindOfPageThroughOneRoute) {
    TempDir dir;
    const mode_t umaskBefore = ::umask(022);
    // Modes the umask would strip, write bits held by others than the owner only, set-user-ID.
    for (const mode_t mode : {0640u, 0666u, 0464u, 0046u, 04755u}) {
        const std::string page = dir.write("a.html", kPage);
        ::chmod(page.c_str(), mode);
        const PassResult result = compressFile(page);
        ASSERT_TRUE(result.ok) << std::oct << mode << ": " << result.error;
        EXPECT_EQ(readFile(page), kSqueezed);
        EXPECT_EQ(result.sizeBefore, static_cast<std::int64_t>(kPage.size()));
        EXPECT_EQ(result.sizeAfter, static_cast<std::int64_t>(kSqueezed.size()));
        EXPECT_EQ(statOf(page).st_mode & 07777, mode);
        EXPECT_EQ(result.note, "");
    }
    ::umask(umaskBefore);
    EXPECT_EQ(compressFile(dir.file("a.html")).sizeAfter, 38);  // a second pass changes nothing
    EXPECT_EQ(readFile(dir.file("a.html")), kSqueezed);

    for (const std::string& blank : {"", "\r\n  \r\n\r\n   "}) {
        const PassResult result = compressFile(dir.write("blank.html", blank));
        EXPECT_EQ(result.sizeBefore, static_cast<std::int64_t>(blank.size()));
        EXPECT_EQ(result.sizeAfter, 2);
        EXPECT_EQ(readFile(dir.file("blank.html")), "\r\n");
    }

    // A symbolic link named by the user stays a link; its target gets the new content.
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.write("real/page.html", kPage);
    ASSERT_EQ(::symlink("real/page.html", dir.file("link.html").c_str()), 0);
    ASSERT_TRUE(compressFile(dir.file("link.html")).ok);
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("link.html")), "real/page.html");
    EXPECT_EQ(readFile(target), kSqueezed);

    // A hard-linked page: the name given gets the new page, the other names keep the
    // original, and the user is told.
    const std::string linked = dir.write("h.html", kPage);
    ASSERT_EQ(::link(linked.c_str(), dir.file("h2.html").c_str()), 0);
    const PassResult hard = compressFile(linked);
    ASSERT_TRUE(hard.ok) << hard.error;
    EXPECT_EQ(readFile(linked), kSqueezed);
    EXPECT_EQ(readFile(dir.file("h2.html")), kPage);
    EXPECT_EQ(hard.note,
              "the file had 1 other name(s) (hard links), which keep the original content");

    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.html", "blank.html", "h.html", "h2.html",
                                                     "link.html", "real"}));
}

TEST(FilePass, RefusesWhatItMustNotTouchAndSaysWhy) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("site/sub"));
    std::filesystem::create_directories(dir.file("outside"));
    dir.write("outside/secret.html", kPage);
    dir.write("site/sub/page.html", kPage);
    std::filesystem::create_directory_symlink("../outside", dir.file("site/swapped"));
    std::filesystem::create_symlink("../outside/secret.html", dir.file("site/planted.html"));
    ::chmod(dir.path().c_str(), 0755);  // another user may come in
    std::filesystem::create_directory(dir.file("closed"));
    std::filesystem::create_directory(dir.file("open"));
    ::chmod(dir.file("open").c_str(), 0777);

    struct Case {
        std::string name;
        std::function<std::string()> make;  // the path to compress; the setup done
        std::string reason;
        uid_t as = 0;            // another user to run as (root only)
        std::string below = {};  // a path below site/ to compress as a folder walk does
    };
    auto file = [&](const std::string& name, const std::string& content, mode_t mode = 0644) {
        return [&dir, name, content, mode] {
            const std::string path = dir.write(name, content);
            ::chmod(path.c_str(), mode);
            return path;
        };
    };
    auto flagged = [&](const std::string& name, const std::string& flagOn, long flag) {
        return [&dir, name, flagOn, flag] {
            const std::string path = dir.write(name, kPage);
            return setFlags(dir.file(flagOn), flag) ? path : std::string();
        };
    };
    const std::string nul = std::string(100000, 'x') + '\0' + "tail";
    const std::vector<Case> cases = {
        {"missing", [&] { return dir.file("missing.html"); }, "the file does not exist"},
        {"folder", [&] { return dir.file("site"); }, "it is a folder, not a file"},
        {"pipe",
         [&] {
             ::mkfifo(dir.file("pipe.html").c_str(), 0644);
             return dir.file("pipe.html");
         },
         "it is a pipe, not a file"},
        {"socket",
         [&] {
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::strncpy(address.sun_path, dir.file("sock.html").c_str(),
                          sizeof address.sun_path - 1);
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
             ::close(s);
             return dir.file("sock.html");
         },
         "it is a socket, not a file"},
        {"device", [] { return std::string("/dev/zero"); }, "it is a device, not a file"},
        {"dangling link",
         [&] {
             ::symlink("gone.html", dir.file("dangling.html").c_str());
             return dir.file("dangling.html");
         },
         "the symbolic link points to a file that does not exist"},
        {"read-only", file("ro.html", kPage, 0444), "the file is read-only"},
        {"NUL far in", file("nul.html", nul), vellork::kNotATextPage},
        {"UTF-16 BE", file("wide.html", "\xFE\xFF\x4E\x2D\x65\x87"), vellork::kNotATextPage},
        {"UTF-16 LE", file("wide2.html", "\xFF\xFE<\0p\0"), vellork::kNotATextPage},
        {"UTF-32 BE", file("wide4.html", std::string("\0\0\xFE\xFF", 4)), vellork::kNotATextPage},
        {"immutable", flagged("i.html", "i.html", FS_IMMUTABLE_FL),
         "the file is immutable (chattr +i)"},
        {"append-only", flagged("a.html", "a.html", FS_APPEND_FL),
         "the file is append-only (chattr +a)"},
        {"append-only folder", flagged("site/sub/f.html", "site/sub", FS_APPEND_FL),
         "its folder is append-only (chattr +a), so the page cannot be replaced"},
        {"link below a folder", [&] { return dir.file("outside/secret.html"); },
         "it is a symbolic link inside a folder, which is not followed", 0, "planted.html"},
        {"folder turned link", [&] { return dir.file("outside/secret.html"); },
         "the folder swapped on its way is no longer a folder (a symbolic link or a file took its "
         "place)",
         0, "swapped/secret.html"},
        {"closed folder",
         [&] {
             const std::string path = dir.write("closed/c.html", kPage);
             ::chown(path.c_str(), kNobody, kNobody);
             return path;
         },
         "its folder may not be written in, so the page cannot be replaced safely", kNobody},
        {"another user's page", file("open/root.html", kPage, 0666),
         "it belongs to another user (user 0), and a new page could not be given that owner",
         kNobody},
        {"a group the user is not in",
         [&] {
             const std::string path = dir.write("open/g.html", kPage);
             ::chown(path.c_str(), kNobody, 0);
             return path;
         },
         "its group (0) cannot be kept by a new page: permission denied", kNobody},
    };
    int skipped = 0;
    for (const Case& c : cases) {
        if (c.as != 0 && !isRoot()) {
            ++skipped;
            continue;
        }
        const std::string path = c.make();
        if (path.empty()) {
            ++skipped;  // the file system cannot set that flag
            continue;
        }
        // Only regular files are read back: a pipe would block, a device never end.
        auto content = [&] {
            std::error_code ec;
            return std::filesystem::is_regular_file(path, ec) ? readFile(path) : std::string();
        };
        const std::string before = content();
        const auto namesBefore = dir.names();
        auto pass = [&] {
            return c.below.empty() ? compressFile(path)
                                   : compressFileBelow(dir.file("site"), c.below);
        };
        const PassResult result = c.as ? inChild(pass, c.as) : pass();
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.error, c.reason) << c.name;
        EXPECT_EQ(content(), before) << c.name;
        EXPECT_EQ(dir.names(), namesBefore) << c.name;
    }
    for (const char* name : {"i.html", "a.html", "site/sub"}) {
        const int fd = ::open(dir.file(name).c_str(), O_RDONLY | O_NONBLOCK);
        long none = 0;
        if (fd >= 0) ::ioctl(fd, FS_IOC_SETFLAGS, &none), ::close(fd);
    }
    EXPECT_EQ(readFile(dir.file("outside/secret.html")), kPage);
    EXPECT_EQ(compressFile(dir.file("nul.html")).sizeBefore, 100005);
    RecordProperty("skipped_cases", skipped);
}

TEST(FilePass, KeepsEveryPieceOfMetadata) {
    TempDir dir;
    const bool root = isRoot();
    // A valid file capability: cap_net_bind_service, permitted.
    const std::string capability(
        "\x00\x00\x00\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 20);
    struct Case {
        std::string name;
        std::function<bool(const std::string&)> set;  // false: this system cannot set it
        bool needsRoot = false;
    };
    auto attribute = [](const std::string& name, const std::string& value) {
        return [name, value](const std::string& path) {
            return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
        };
    };
    const std::vector<Case> cases = {
        {"owner, group and set-user-ID",
         [](const std::string& p) {
             return ::chown(p.c_str(), 12345, 23456) == 0 && ::chmod(p.c_str(), 06750) == 0;
         },
         true},
        {"ACL whose mask is wider than the group's bits",
         [](const std::string& p) {
             return shell("setfacl -m u:65534:rw-,g::r--,m::rw- '" + p + "'") == 0;
         }},
        {"no ACL in a folder with a default ACL",
         [&](const std::string& p) {
             return ::chmod(p.c_str(), 0600) == 0 &&
                    shell("setfacl -d -m u:65534:rw- '" + dir.path() + "'") == 0;
         }},
        {"user attribute", attribute("user.origin", "site export")},
        {"trusted attribute", attribute("trusted.note", std::string("\x01\x00", 2)), true},
        {"file capability", attribute("security.capability", capability), true},
        {"no-dump and no-atime flags",
         [](const std::string& p) { return setFlags(p, FS_NODUMP_FL | FS_NOATIME_FL); }},
    };
    int skipped = 0;
    for (const Case& c : cases) {
        shell("setfacl -b -k '" + dir.path() + "'");
        const std::string page = dir.write("a.html", kPage);
        if ((c.needsRoot && !root) || !c.set(page)) {
            ++skipped;
            continue;
        }
        const Metadata before = metadataOf(page);
        const PassResult result = compressFile(page);
        ASSERT_TRUE(result.ok) << c.name << ": " << result.error;
        EXPECT_EQ(readFile(page), kSqueezed) << c.name;
        EXPECT_TRUE(metadataOf(page) == before) << c.name;
        std::filesystem::remove(page);
    }
    EXPECT_LT(skipped, 3) << "too few of the metadata cases could be set up here";
    RecordProperty("skipped_cases", skipped);
}

TEST(FilePass, AFailureAtAnyStepLosesNothingSaysWhyAndKeepsTheDurableOrder) {
    TempDir dir;
    const std::string content = bigPage(2000);
    const std::string squeezed = vellork::reference::squeeze(content);
    const mode_t umaskBefore = ::umask(022);
    auto page = [&] {
        const std::string path = dir.write("a.html", content);
        ::chmod(path.c_str(), 0666);  // a mode the new file must be given explicitly
        ::setxattr(path.c_str(), "user.kept", "1", 1, 0);
        return path;
    };

    // The durable steps in order: the data on disk before the rename, the folder after it.
    std::vector<FaultPoint> steps;
    PassOptions watched;
    watched.chunkSize = 4096;
    watched.fault = [&](FaultPoint at) {
        steps.push_back(at);
        return 0;
    };
    ASSERT_TRUE(compressFile(page(), watched).ok);
    const auto first = [&](FaultPoint p) {
        return std::find(steps.begin(), steps.end(), p) - steps.begin();
    };
    const auto last = [&](FaultPoint p) {
        return std::find(steps.rbegin(), steps.rend(), p).base() - steps.begin() - 1;
    };
    EXPECT_LT(last(FaultPoint::Write), first(FaultPoint::Sync));
    EXPECT_LT(last(FaultPoint::CopyMetadata), first(FaultPoint::Sync));
    EXPECT_LT(last(FaultPoint::Sync), first(FaultPoint::Replace));
    EXPECT_LT(first(FaultPoint::Replace), first(FaultPoint::SyncFolder));
    EXPECT_EQ(std::count(steps.begin(), steps.end(), FaultPoint::Sync), 1);
    EXPECT_EQ(steps.back(), FaultPoint::SyncFolder);

    const struct {
        FaultPoint point;
        int error;
        std::string reason;
    } faults[] = {
        {FaultPoint::Read, EIO, "could not read the file: the disk reported an input/output error"},
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
    int injected = 0;
    for (const auto& f : faults) {
        const int injectedBefore = injected;
        // Fail the first, second, ... time the pass reaches this step, until it no longer does.
        for (int failAt = 0;; ++failAt) {
            const std::string path = page();
            PassOptions options;
            options.chunkSize = 4096;
            int reached = 0;
            options.fault = [&](FaultPoint at) {
                return at == f.point && reached++ == failAt ? f.error : 0;
            };
            const PassResult result = compressFile(path, options);
            if (reached <= failAt) {  // the step was not reached that often: no fault
                ASSERT_TRUE(result.ok) << result.error;
                ASSERT_EQ(readFile(path), squeezed);
                break;
            }
            ++injected;
            const std::string where = "fault " + std::to_string(static_cast<int>(f.point)) + " #" +
                                      std::to_string(failAt);
            ASSERT_EQ(dir.names(), std::vector<std::string>{"a.html"}) << where;
            ASSERT_FALSE(result.ok) << where;
            if (f.point != FaultPoint::CopyMetadata || failAt == 0)
                ASSERT_EQ(result.error, f.reason) << where;
            // Only a failed folder sync comes after the rename: then the page is the whole result.
            ASSERT_EQ(readFile(path), f.point == FaultPoint::SyncFolder ? squeezed : content)
                << where;
            ASSERT_EQ(statOf(path).st_mode & 07777, 0666u) << where;
            ASSERT_LT(failAt, 1000);
        }
        EXPECT_GT(injected, injectedBefore) << "never reached: " << static_cast<int>(f.point);
    }
    ::umask(umaskBefore);
    EXPECT_GT(injected, 30);
    RecordProperty("injected_faults", injected);
}

TEST(FilePass, AFullDiskOrAFileSizeLimitLosesNothing) {
    TempDir dir;
    const std::string content = bigPage(20000);
    const std::string page = dir.write("a.html", content);
    // The squeezed page is far larger than the limit: the write runs into it halfway.
    const PassResult limited = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return compressFile(page);
    });
    EXPECT_EQ(limited.error,
              "could not write the compressed page: the file would exceed the allowed file size");
    EXPECT_EQ(readFile(page), content);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.html"});

    const Mount small("tmpfs", "1m");
    if (!small.skipReason().empty()) GTEST_SKIP() << small.skipReason();
    const std::string full = small.dir().write("a.html", std::string(700000, 'x'));
    const PassResult result = compressFile(full);
    EXPECT_EQ(result.error, "could not write the compressed page: the disk is full");
    EXPECT_EQ(readFile(full), std::string(700000, 'x'));
    EXPECT_EQ(small.dir().names(), std::vector<std::string>{"a.html"});
}

TEST(FilePass, HugePagesStreamThroughBoundedMemory) {
    TempDir dir;
    // 100 MB in one line with no line end at all.
    const std::string unit = "<b>x</b>   \t ";
    const std::size_t units = 100'000'000 / unit.size();
    {
        std::ofstream out(dir.file("line.html"), std::ios::binary);
        for (std::size_t i = 0; i < units; ++i) out << unit;
    }
    const PassResult grown = inChild([&] {
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        PassResult result = compressFile(dir.file("line.html"));
        ::getrusage(RUSAGE_SELF, &after);
        result.error = std::to_string((after.ru_maxrss - before.ru_maxrss) / 1024);
        return result;
    });
    EXPECT_TRUE(grown.ok);
    EXPECT_LT(std::stoi(grown.error), 32) << "MB of memory beyond the start";
    EXPECT_EQ(std::filesystem::file_size(dir.file("line.html")), units * 9 + 2);
    std::ifstream line(dir.file("line.html"), std::ios::binary);
    std::string head(27, '\0');
    line.read(head.data(), 27);
    EXPECT_EQ(head, "<b>x</b> <b>x</b> <b>x</b> ");
    std::filesystem::remove(dir.file("line.html"));

    // 3 GB, past what a 32-bit size can hold: measured whole, and refused at its first NUL.
    const std::string huge = dir.write("huge.html", "");
    ASSERT_EQ(::truncate(huge.c_str(), 3'000'000'000), 0);
    const PassResult sparse = compressFile(huge);
    EXPECT_EQ(sparse.sizeBefore, 3'000'000'000);
    EXPECT_EQ(sparse.error, vellork::kNotATextPage);
}

TEST(FilePass, AChangeByAnotherProgramIsCaughtUntilTheRename) {
    TempDir dir;
    const std::string content = bigPage(3000);
    struct Case {
        std::string name;
        FaultPoint when;
        std::function<void(const std::string&)> change;
    };
    const std::vector<Case> cases = {
        {"appended while read", FaultPoint::Read,
         [](const std::string& p) { std::ofstream(p, std::ios::app) << "<p>late</p>"; }},
        {"same size, time set back", FaultPoint::Sync,
         [](const std::string& p) {
             const struct stat before = statOf(p);
             std::fstream(p, std::ios::in | std::ios::out | std::ios::binary).put('X');
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, p.c_str(), times, 0);
         }},
        {"replaced by a new file", FaultPoint::Sync,
         [&](const std::string& p) {
             std::ofstream(p + ".new") << "<p>new</p>";
             std::filesystem::rename(p + ".new", p);
         }},
        {"permissions changed", FaultPoint::Sync,
         [](const std::string& p) { ::chmod(p.c_str(), 0600); }},
    };
    for (const Case& c : cases) {
        const std::string page = dir.write("a.html", content);
        PassOptions options;
        options.chunkSize = 4096;
        int reached = 0;
        std::string expected;
        options.fault = [&](FaultPoint at) {
            const int occurrence = c.when == FaultPoint::Read ? 1 : 0;  // mid-read, or at once
            if (at == c.when && reached++ == occurrence) {
                c.change(page);
                expected = readFile(page);
            }
            return 0;
        };
        const PassResult result = compressFile(page, options);
        EXPECT_EQ(result.error,
                  "the file changed while it was being compressed; it was left as it is now")
            << c.name;
        EXPECT_EQ(readFile(page), expected) << c.name;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"a.html"}) << c.name;
    }

    // A folder of the tree swapped for a link to elsewhere once the pass holds it: the
    // rewrite stays in the folder it opened, never reaching the link's target.
    std::filesystem::create_directories(dir.file("site/sub"));
    std::filesystem::create_directories(dir.file("elsewhere"));
    dir.write("site/sub/p.html", content);
    dir.write("elsewhere/p.html", content);
    PassOptions swap;
    bool swapped = false;
    swap.fault = [&](FaultPoint at) {
        if (at == FaultPoint::Sync && !swapped) {
            swapped = true;
            std::filesystem::rename(dir.file("site/sub"), dir.file("site/moved"));
            std::filesystem::create_directory_symlink("../elsewhere", dir.file("site/sub"));
        }
        return 0;
    };
    EXPECT_TRUE(compressFileBelow(dir.file("site"), "sub/p.html", swap).ok);
    EXPECT_EQ(readFile(dir.file("elsewhere/p.html")), content);
    EXPECT_EQ(readFile(dir.file("site/moved/p.html")), vellork::reference::squeeze(content));
}

TEST(FilePass, CoarseTimesAndNoUnnamedFilesOnExfat) {
    const Mount exfat("exfat", "");
    if (!exfat.skipReason().empty()) GTEST_SKIP() << exfat.skipReason();
    const TempDir& dir = exfat.dir();
    const std::string content = bigPage(3000);

    // The named temporary files of killed passes are removed by the next pass in the folder,
    // unless a running pass still holds them.
    dir.write(".vellork-killed.tmp", "<half");
    dir.write(".vellork-running.tmp", "<half");
    const int held = ::open(dir.file(".vellork-running.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    // A change of one byte within the same second leaves size and times as they were.
    const std::string page = dir.write("a.html", content);
    PassOptions options;
    options.chunkSize = 4096;
    bool changed = false;
    options.fault = [&](FaultPoint at) {
        if (at == FaultPoint::Sync && !changed) {
            changed = true;
            std::fstream(page, std::ios::in | std::ios::out | std::ios::binary).put('X');
        }
        return 0;
    };
    EXPECT_EQ(compressFile(page, options).error,
              "the file changed while it was being compressed; it was left as it is now");
    EXPECT_EQ(readFile(page), "X" + content.substr(1));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".vellork-running.tmp", "a.html"}));
    const PassResult result = compressFile(page);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readFile(page), vellork::reference::squeeze("X" + content.substr(1)));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".vellork-running.tmp", "a.html"}));
    ::close(held);
}

TEST(FilePass, AnInterruptedRunLeavesEveryPageWholeOrCompressed) {
    // A child compresses three pages (one of them hard-linked) and stops before each step of
    // its passes, until the parent has seen that step; the parent kills it at every step in
    // turn, so every moment of a pass is interrupted once.
    TempDir dir;
    const std::string content = bigPage(4000);
    const std::string squeezed = vellork::reference::squeeze(content);
    const std::vector<std::string> names = {"a.html", "b.html", "c.html"};
    auto runChild = [&](int stopAt, int signal) {
        for (const auto& name : names) dir.write(name, content);
        std::filesystem::remove(dir.file("b2.html"));
        ::link(dir.file("b.html").c_str(), dir.file("b2.html").c_str());
        int toParent[2], toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            PassOptions options;
            options.chunkSize = 16384;
            options.fault = [&](FaultPoint) {
                char step = 's';
                if (::write(toParent[1], &step, 1) != 1 || ::read(toChild[0], &step, 1) != 1)
                    ::_exit(3);
                return 0;
            };
            for (const auto& name : names) compressFile(dir.file(name), options);
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        int steps = 0;
        for (char step; ::read(toParent[0], &step, 1) == 1; ++steps) {
            if (steps == stopAt) ::kill(pid, signal);
            else if (steps < stopAt || stopAt < 0) (void)!::write(toChild[1], &step, 1);
        }
        ::close(toParent[0]);
        ::close(toChild[1]);
        ::waitpid(pid, nullptr, 0);
        return steps;
    };
    const int steps = runChild(-1, SIGKILL);
    ASSERT_GT(steps, 30);
    int untouched = 0, complete = 0;
    std::vector<std::string> leftovers;
    for (int stopAt = 0; stopAt <= steps; ++stopAt) {
        runChild(stopAt, stopAt % 3 == 0 ? SIGKILL : stopAt % 3 == 1 ? SIGTERM : SIGINT);
        bool laterMayBeDone = true;
        for (const auto& name : names) {
            const std::string now = readFile(dir.file(name));
            ASSERT_TRUE(now == content || now == squeezed) << "step " << stopAt << ", " << name;
            ASSERT_TRUE(laterMayBeDone || now == content) << "step " << stopAt << ": out of order";
            laterMayBeDone = now == squeezed;
            (now == content ? untouched : complete)++;
        }
        ASSERT_EQ(readFile(dir.file("b2.html")), content) << "step " << stopAt;
        // A kill between naming the finished file and renaming it leaves a complete copy of the
        // result; the next run's first pass removes it.
        std::vector<std::string> pages;
        for (const auto& name : dir.names()) {
            if (name.rfind(vellork::kTempPrefix, 0) != 0) {
                pages.push_back(name);
                continue;
            }
            ASSERT_EQ(readFile(dir.file(name)), squeezed) << "step " << stopAt << ": " << name;
            ASSERT_EQ(std::count(leftovers.begin(), leftovers.end(), name), 0)
                << "not removed: " << name;
            leftovers.push_back(name);
        }
        ASSERT_EQ(pages, (std::vector<std::string>{"a.html", "b.html", "b2.html", "c.html"}));
    }
    EXPECT_GT(untouched, steps);
    EXPECT_GT(complete, steps);
    RecordProperty("interrupted_steps", steps + 1);
    RecordProperty("named_leftovers", static_cast<int>(leftovers.size()));
}

}  // namespace
