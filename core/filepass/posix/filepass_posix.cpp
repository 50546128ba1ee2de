// The file pass on POSIX systems (Linux): every step relative to the file's open folder.

#include "chunkbuffers.h"
#include "digest.h"
#include "filepass.h"
#include "foldersyncs.h"
#include "pagecheck.h"
#include "squeezer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace vellork {

namespace {

// An open descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A reason a person can read, for a system error number.
std::string reasonOf(int error) {
    switch (error) {
        case ENOSPC:
            return "the disk is full";
        case EDQUOT:
            return "the disk quota is used up";
        case EFBIG:
            return "the file would exceed the allowed file size";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EROFS:
            return "the disk is read-only";
        case EIO:
            return "the disk reported an input/output error";
        case ENOENT:
            return "it does not exist";
        case ENAMETOOLONG:
            return "the path is too long";
        case ELOOP:
            return "too many symbolic links";
        case ENOTDIR:
            return "a part of the path is not a folder";
        case EMFILE:
        case ENFILE:
            return "too many files are open";
        case ENOTSUP:
            return "the file system does not support it";
        case ETXTBSY:
            return "a running program is using it";
        default:
            return std::strerror(error);
    }
}

std::string failure(const std::string& what, int error) {
    return what + ": " + reasonOf(error);
}

// The test seam: 0, or the error a test wants this step to fail with.
int injected(const PassOptions& options, FaultPoint point) {
    return options.fault ? options.fault(point) : 0;
}

// Runs a system call unless the test seam fails it first; returns its result, errno set.
template <typename Call>
auto systemCall(const PassOptions& options, FaultPoint point, Call call) -> decltype(call()) {
    if (const int error = injected(options, point)) {
        errno = error;
        return -1;
    }
    return call();
}

// Reads up to n bytes at offset; returns bytes read (0 at the end) or -errno.
ssize_t readAt(int fd, char* buffer, std::size_t n, off_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, n, offset);
        if (got >= 0 || errno != EINTR) return got < 0 ? -errno : got;
    }
}

// Writes the new content of one file, checking that every byte really went out. Without a
// file (a check run) it only counts.
class Writer {
public:
    Writer(int fd, const PassOptions& options) : fd_(fd), options_(options) {}

    // Returns 0 or the errno of the failed write.
    int write(const char* data, std::size_t n) {
        if (fd_ < 0) {
            offset_ += static_cast<off_t>(n);
            return 0;
        }
        while (n > 0) {
            if (const int error = injected(options_, FaultPoint::Write)) return error;
            const ssize_t done = ::pwrite(fd_, data, n, offset_);
            if (done < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (done == 0) return ENOSPC;  // no progress: treat as a full disk
            data += done;
            n -= static_cast<std::size_t>(done);
            offset_ += done;
        }
        return writeBack();
    }
    std::int64_t written() const { return offset_; }

private:
    // Hands the written data to the disk as it goes, a step at a time, so the final sync
    // finds little left to do and no single wait grows with the size of the page.
    int writeBack() {
        constexpr off_t kStep = off_t{2} << 20;
        while (offset_ - started_ >= kStep) {
            if (started_ >= kStep &&
                ::sync_file_range(fd_, started_ - kStep, kStep,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER) != 0)
                return errno;
            if (::sync_file_range(fd_, started_, kStep, SYNC_FILE_RANGE_WRITE) != 0) return errno;
            started_ += kStep;
        }
        return 0;
    }

    int fd_;
    const PassOptions& options_;
    off_t offset_ = 0;
    off_t started_ = 0;  // writeback has been started for everything before this offset
};

std::size_t chunkOf(const PassOptions& options) {
    return options.chunkSize ? options.chunkSize : 1;
}

struct StreamOutcome {
    std::int64_t bytesRead = 0;
    std::string error;
};

// Reads `from`, squeezes it and writes the result through `writer`, refusing a file that is
// not a text page before anything of it is worth keeping. A file of `size` bytes is read up to
// that size and no further: the caller checks afterwards that the file has not changed, which
// also catches one that grew. An empty file is read to its end, since files that report no
// size can still have content. `digest`, when given, takes every byte read.
StreamOutcome squeezeInto(int from, std::int64_t size, Writer& writer, Digest* digest,
                          const PassOptions& options) {
    StreamOutcome outcome;
    const std::size_t chunk = chunkOf(options);
    ChunkBuffers& buffers = ChunkBuffers::forChunk(chunk);
    char* const in = buffers.in();
    char* const out = buffers.out();
    Squeezer squeezer;
    char head[4];
    std::size_t headBytes = 0;
    for (;;) {
        const int readFault = injected(options, FaultPoint::Read);
        const ssize_t got = readFault ? -readFault : readAt(from, in, chunk, outcome.bytesRead);
        if (got < 0) {
            outcome.error = failure("could not read the file", static_cast<int>(-got));
            return outcome;
        }
        const std::size_t n = static_cast<std::size_t>(got);
        if (options.inspect) options.inspect(in, n);
        if (headBytes < sizeof head) {
            const std::size_t take = std::min(sizeof head - headBytes, n);
            std::memcpy(head + headBytes, in, take);
            headBytes += take;
        }
        if (holdsNul(in, n) || startsWithWideMark(head, headBytes)) {
            outcome.error = kNotATextPage;
            return outcome;
        }
        if (digest) digest->update(in, n);
        outcome.bytesRead += got;
        const bool atEnd = got == 0 || (size > 0 && outcome.bytesRead >= size);
        std::size_t produced = squeezer.feed(in, n, out);
        if (atEnd) produced += squeezer.finish(out + produced);
        if (const int error = writer.write(out, produced)) {
            outcome.error = failure("could not write the compressed page", error);
            return outcome;
        }
        if (options.tick) options.tick();
        if (atEnd) return outcome;
    }
}

// The digest of a file read again to its end; false when it cannot be read or no longer holds
// exactly `size` bytes (a page that grew keeps its new tail only if the pass notices it).
bool digestOf(int fd, std::int64_t size, const PassOptions& options, std::uint64_t& value) {
    const std::size_t chunk = chunkOf(options);
    char* const in = ChunkBuffers::forChunk(chunk).in();
    Digest digest;
    std::int64_t at = 0;
    for (;;) {
        const ssize_t got = readAt(fd, in, chunk, at);
        if (got < 0) return false;
        if (got == 0) break;
        digest.update(in, static_cast<std::size_t>(got));
        at += got;
        if (options.tick) options.tick();
    }
    value = digest.value();
    return at == size;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The file still is what was opened: same size, modification and change times. The change
// time moves with every write, truncation, change of owner, mode or attribute, and no program
// can set it back.
bool unchanged(const struct stat& now, const struct stat& then) {
    return now.st_size == then.st_size && sameTime(now.st_mtim, then.st_mtim) &&
           sameTime(now.st_ctim, then.st_ctim);
}

// Whether the file's times alone show every change made after `then` was taken. They do on
// local file systems that keep fine times, unless the file changed so recently that a change
// within the same tick of the kernel's clock (a few milliseconds) would leave the times as
// they are. Elsewhere (FAT keeps two seconds, exFAT and FUSE file systems may keep whole
// seconds) the content is read again.
bool timesShowEveryChange(int fd, const struct stat& then) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case F2FS_SUPER_MAGIC:
            break;
        default:
            return false;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    constexpr std::int64_t kTicksApart = 100'000'000;  // nanoseconds: many ticks, at any HZ
    const std::int64_t age = (std::int64_t{now.tv_sec} - then.st_ctim.tv_sec) * 1'000'000'000 +
                             (now.tv_nsec - then.st_ctim.tv_nsec);
    return age > kTicksApart;
}

// The inode flags (chattr) a new file can be given; immutable and append-only files are
// refused before anything is written, and the rest belong to the file system's own work.
constexpr int kCarriedFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                              FS_NOATIME_FL | FS_NOCOMP_FL | FS_NOCOW_FL | FS_NOTAIL_FL |
                              FS_PROJINHERIT_FL;

// The inode flags of an open file; 0 where the file system has none. The kernel takes an int.
int inodeFlags(int fd) {
    int flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags : 0;
}

// The project ID and extent-size hint of an open file (XFS, and ext4 with project quotas);
// false where the file system keeps neither.
bool projectOf(int fd, fsxattr& fsx) {
    fsx = {};
    return ::ioctl(fd, FS_IOC_FSGETXATTR, &fsx) == 0;
}

bool sameProject(const fsxattr& a, const fsxattr& b) {
    return a.fsx_projid == b.fsx_projid && a.fsx_extsize == b.fsx_extsize &&
           (a.fsx_xflags & FS_XFLAG_EXTSIZE) == (b.fsx_xflags & FS_XFLAG_EXTSIZE);
}

// Gives an open file the project ID and extent-size hint `want`; 0 or -1 with errno.
int setProject(int fd, const fsxattr& want) {
    fsxattr fsx{};
    if (!projectOf(fd, fsx)) return -1;
    fsx.fsx_projid = want.fsx_projid;
    fsx.fsx_extsize = want.fsx_extsize;
    fsx.fsx_xflags = (fsx.fsx_xflags & ~FS_XFLAG_EXTSIZE) | (want.fsx_xflags & FS_XFLAG_EXTSIZE);
    return ::ioctl(fd, FS_IOC_FSSETXATTR, &fsx);
}

// The extended attributes of an open file, name to value (the access ACL among them, as
// system.posix_acl_access). Empty where the file system has none.
using Attributes = std::map<std::string, std::string>;
bool readAttributes(int fd, Attributes& attributes, std::string& error) {
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP) return true;
            error = failure("its extended attributes cannot be read", errno);
            return false;
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = size ? ::flistxattr(fd, names.data(), names.size()) : 0;
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) {
            error = failure("its extended attributes cannot be read", errno);
            return false;
        }
    }
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        std::string value;
        for (;;) {
            const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
            if (size < 0) break;
            value.resize(static_cast<std::size_t>(size));
            const ssize_t got =
                size ? ::fgetxattr(fd, name.c_str(), value.data(), value.size()) : 0;
            if (got >= 0) {
                value.resize(static_cast<std::size_t>(got));
                attributes.emplace(name, std::move(value));
                break;
            }
            if (errno != ERANGE) break;
        }
        if (!attributes.count(name) && errno != ENODATA) {
            error = failure("its extended attribute " + name + " cannot be read", errno);
            return false;
        }
    }
    return true;
}

// The attribute that marks a temporary file as this program's own while it has a name its
// inode does not show (inodeName), so that a later pass can prove a leftover is its own before
// removing it. It never reaches a page.
constexpr const char* kTempMark = "user.vellork.temp";

// What the new file must carry over from the original, taken before anything is written.
struct Metadata {
    struct stat status {};
    Attributes attributes;
    int flags = 0;
    fsxattr project{};
    bool hasProject = false;
};

// The page as the pass reached it: the open folder that holds it (kept open by the caller),
// its name there as the folder stores it, and the open original.
struct Page {
    int folder = -1;
    std::string name;
    Fd source;
    Metadata original;
    int folderFlags = 0;
    // Where the new page goes: the page's own folder and name, or an output folder and name.
    int targetFolder = -1;
    std::string targetName;
    bool inPlace() const { return targetFolder == folder; }
};

// The new page while it is made: unnamed where the file system allows it, otherwise named and
// removed again if the pass fails. Locked while it exists, so a later pass can tell it from a
// leftover; marked as this program's own while it has a name.
struct Temp {
    int folder = -1;
    Fd fd;
    std::string name;
    bool marked = false;
    bool placed = false;  // renamed into the target: it is the page now
    ~Temp() {
        if (!name.empty()) ::unlinkat(folder, name.c_str(), 0);
    }
};

// How a pass reached the folder it works in, which decides how a link in it is met.
enum class Reach {
    Named,     // the user named the file: a link there is followed (followNamedLinks)
    Walked,    // found below a folder: a link is not followed
    Resolved,  // a window's row reached again: a link there is not followed either
};

// Why an entry that could not be opened as a file is no page to compress.
std::string openRefusal(int folder, const std::string& name, int error, Reach reach) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode) && reach == Reach::Walked)
            return "it is a symbolic link inside a folder, which is not followed";
        if (S_ISLNK(status.st_mode) && reach == Reach::Resolved)
            return "it is a symbolic link now, which is not followed";
        if (S_ISSOCK(status.st_mode)) return "it is a socket, not a file";
    }
    if (error == ENOENT) return "the file does not exist";
    return failure("the file cannot be opened", error);
}

std::string kindRefusal(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a file";
    if (S_ISFIFO(mode)) return "it is a pipe, not a file";
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
    return "it is not a regular file";
}

// Whether names in a folder may be looked up without regard to case (FAT, exFAT, NTFS, ext4 or
// f2fs folders made case-insensitive, and FUSE file systems, which may be any of them), so
// that a name given in another case reaches a page stored under its own spelling.
bool foldsCase(int folder, int folderFlags) {
    struct statfs fs {};
    if (folderFlags & FS_CASEFOLD_FL) return true;
    if (::fstatfs(folder, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case MSDOS_SUPER_MAGIC:
        case 0x2011BAB0:  // exFAT
        case 0x7366746E:  // NTFS (ntfs3)
        case 0x65735546:  // FUSE
            return true;
        default:
            return false;
    }
}

// The page's name as its folder stores it: the one entry that matches the name given without
// regard to case, when the name given is not itself an entry. The rename then keeps the stored
// name instead of taking the case the user typed.
std::string storedName(int folder, const std::string& name) {
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!entries) {
        if (listing >= 0) ::close(listing);
        return name;
    }
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(entries)) {
        if (entry->d_name == name) {
            matches.assign(1, name);
            break;
        }
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) matches.emplace_back(entry->d_name);
    }
    ::closedir(entries);
    return matches.size() == 1 ? matches.front() : name;
}

// Step 1: reach the page. Opens `name` in `folder` once, without following a link, and takes
// what must be carried over. Returns a refusal, empty when the page is open.
std::string reachPage(int folder, const std::string& name, Reach reach, const PassOptions& options,
                      Page& page) {
    page.folder = page.targetFolder = folder;
    page.folderFlags = inodeFlags(folder);
    // A walk took its names from the listing itself: they are spelt as stored.
    page.name = reach != Reach::Walked && foldsCase(folder, page.folderFlags)
                    ? storedName(folder, name)
                    : name;
    if (options.pageNamesOnly && !isPageName(page.name)) return kNotAPageName;
    page.targetName = page.name;
    if (options.outputFolder >= 0) {
        page.targetFolder = options.outputFolder;
        page.targetName = options.outputName;
    }
    // Non-blocking, so that a FIFO cannot hold us up; only regular files go further, and for
    // those the flag changes nothing.
    page.source = Fd(::openat(folder, page.name.c_str(),
                              O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
    if (!page.source) return openRefusal(folder, page.name, errno, reach);
    Metadata& original = page.original;
    if (::fstat(page.source.get(), &original.status) != 0)
        return failure("the file cannot be examined", errno);
    if (!S_ISREG(original.status.st_mode)) return kindRefusal(original.status.st_mode);
    original.flags = inodeFlags(page.source.get());
    original.hasProject = projectOf(page.source.get(), original.project);
    std::string error;
    readAttributes(page.source.get(), original.attributes, error);
    return error;
}

// The rights of a page that new content would not keep: the kernel drops them whenever a
// file's content is written, since they vouch for that content.
std::string rightsRefusal(const Metadata& original) {
    if (original.status.st_mode & S_ISUID)
        return "it is set-user-ID, a right that new content would not keep";
    if (original.status.st_mode & S_ISGID)
        return "it is set-group-ID, a right that new content would not keep";
    if (original.attributes.count("security.capability"))
        return "it has file capabilities (security.capability), which new content would not keep";
    return {};
}

// What keeps a page from being squeezed into an output folder, the original left as it is:
// the rights new content would not keep, an owner the new file could not be given, and an
// output that would be the page itself.
std::string outputRefusal(const Page& page) {
    if (std::string refusal = rightsRefusal(page.original); !refusal.empty()) return refusal;
    static const uid_t user = ::geteuid();
    if (user != 0 && user != page.original.status.st_uid)
        return "it belongs to another user (user " + std::to_string(page.original.status.st_uid) +
               "), and a new file could not be given that owner";
    struct stat there {};
    if (::fstatat(page.targetFolder, page.targetName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        there.st_ino == page.original.status.st_ino && there.st_dev == page.original.status.st_dev)
        return "its place in the output folder is the page itself";
    return {};
}

// Step 2: refuse what must not be touched, before anything is written. Returns the refusal,
// empty when the page may be rewritten.
std::string refusalOf(const Page& page) {
    const Metadata& original = page.original;
    const mode_t mode = original.status.st_mode;
    if (!page.inPlace()) return outputRefusal(page);
    // Honour read-only files even where the system would let us write them anyway (root).
    if ((mode & 0222) == 0) return "the file is read-only";
    if (original.flags & FS_IMMUTABLE_FL) return "the file is immutable (chattr +i)";
    if (original.flags & FS_APPEND_FL) return "the file is append-only (chattr +a)";
    if (page.folderFlags & FS_IMMUTABLE_FL)
        return "its folder is immutable (chattr +i), so the page cannot be replaced";
    if (page.folderFlags & FS_APPEND_FL)
        return "its folder is append-only (chattr +a), so the page cannot be replaced";
    if (std::string refusal = rightsRefusal(original); !refusal.empty()) return refusal;
    const int source = page.source.get();
    if (::faccessat(source, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) != 0 &&
        (errno != EINVAL ||
         ::faccessat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(source)).c_str(), W_OK,
                     AT_EACCESS) != 0))
        return failure("the file cannot be written", errno);
    static const uid_t user = ::geteuid();
    if (user != 0 && user != original.status.st_uid)
        return "it belongs to another user (user " + std::to_string(original.status.st_uid) +
               "), and a new page could not be given that owner";
    return {};
}

// The random part of a temporary file's name: this many of [0-9a-z].
constexpr std::size_t kTempSuffixLength = 10;
constexpr const char* kTempDigits = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::string suffix;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i) suffix += kTempDigits[generator() % 36];
    return suffix;
}

// The name an unnamed temporary file is given for its rename: its own inode number, mixed, so
// that a later pass can prove a leftover under that name is its own without marking it, which
// would cost two more journalled changes per page.
std::string inodeName(ino_t inode) {
    std::uint64_t mixed = static_cast<std::uint64_t>(inode) * 0x9E3779B97F4A7C15ULL;
    mixed ^= mixed >> 29;
    mixed *= 0xBF58476D1CE4E5B9ULL;
    mixed ^= mixed >> 32;
    std::string name = kTempPrefix;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i, mixed /= 36)
        name += kTempDigits[mixed % 36];
    return name + kTempSuffix;
}

// Exactly the names the pass gives its temporary files.
bool isTempName(const char* name) {
    const std::size_t length = std::strlen(name), prefix = std::strlen(kTempPrefix),
                      suffix = std::strlen(kTempSuffix);
    if (length != prefix + kTempSuffixLength + suffix ||
        std::strncmp(name, kTempPrefix, prefix) != 0 ||
        std::strcmp(name + length - suffix, kTempSuffix) != 0)
        return false;
    for (std::size_t i = prefix; i < prefix + kTempSuffixLength; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z')))
            return false;
    return true;
}

// Whether the open file `leftover`, found as `name`, is one a killed pass left: a single name,
// not the page in hand, held by no running pass, and made by this program (named after its own
// inode, or marked, or, where the file system keeps no attributes, the user's own).
bool provenLeftover(const char* name, int leftover, const Page& page) {
    struct stat held {};
    if (::fstat(leftover, &held) != 0 || !S_ISREG(held.st_mode) || held.st_nlink != 1 ||
        (held.st_ino == page.original.status.st_ino && held.st_dev == page.original.status.st_dev))
        return false;
    if (::flock(leftover, LOCK_EX | LOCK_NB) != 0) return false;
    if (name == inodeName(held.st_ino)) return true;
    char mark[8];
    if (::fgetxattr(leftover, kTempMark, mark, sizeof mark) >= 0) return true;
    return (errno == ENOTSUP || errno == EOPNOTSUPP) && held.st_uid == ::geteuid();
}

// Step 3: remove the temporary files that a killed pass left in the page's folder (where the
// file system has no unnamed files, or in the instant between naming a finished one and
// renaming it), and only those. Each folder is looked at once per process.
void removeLeftovers(const Page& page, std::vector<std::string>& removed) {
    // A folder is known by its birth time too: a new folder may reuse a removed one's inode.
    struct statx status {};
    const int folder = page.targetFolder;
    if (::statx(folder, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &status) != 0) return;
    auto key = std::make_tuple(status.stx_dev_major, status.stx_dev_minor, status.stx_ino,
                               status.stx_btime.tv_sec, status.stx_btime.tv_nsec);
    static std::mutex mutex;
    static std::set<decltype(key)> swept;
    {
        std::lock_guard lock(mutex);
        if (!swept.insert(key).second) return;
    }
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!entries) {
        if (listing >= 0) ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (!isTempName(entry->d_name)) continue;
        Fd leftover(::openat(folder, entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat held {
        }, named{};
        if (!leftover || !provenLeftover(entry->d_name, leftover.get(), page) ||
            ::fstat(leftover.get(), &held) != 0 ||
            ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_ino != held.st_ino || named.st_dev != held.st_dev)
            continue;
        if (::unlinkat(folder, entry->d_name, 0) == 0) removed.emplace_back(entry->d_name);
    }
    ::closedir(entries);
}

// Before the first byte: some flags (no copy-on-write) and the extent-size hint hold only for
// an empty file. Checked again with the rest of the metadata.
void startLikeOriginal(int temp, const Metadata& original) {
    const int wantFlags = original.flags & kCarriedFlags;
    if (wantFlags && (inodeFlags(temp) & kCarriedFlags) != wantFlags) {
        int flags = (inodeFlags(temp) & ~kCarriedFlags) | wantFlags;
        ::ioctl(temp, FS_IOC_SETFLAGS, &flags);
    }
    fsxattr have{};
    if (original.hasProject && projectOf(temp, have) && !sameProject(have, original.project))
        setProject(temp, original.project);
}

// Step 4: make the temporary file beside the page. An unnamed file vanishes by itself if the
// program dies; a named one is marked. Both are locked. It starts with the original's permission
// bits, so that usually nothing needs changing.
std::string makeTemp(const Page& page, Temp& temp, const PassOptions& options) {
    const mode_t mode = page.original.status.st_mode & 0777;
    temp.folder = page.targetFolder;
    temp.fd = Fd(systemCall(options, FaultPoint::CreateTemp, [&] {
        return ::openat(temp.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    }));
    int error = temp.fd ? 0 : errno;
    // File systems without unnamed files (FAT, exFAT, many FUSE ones) say so in these ways.
    if (error == EOPNOTSUPP || error == EISDIR || error == EINVAL) {
        for (int attempt = 0; attempt < 100 && !temp.fd; ++attempt) {
            std::string candidate = kTempPrefix + randomSuffix() + kTempSuffix;
            temp.fd = Fd(systemCall(options, FaultPoint::CreateTemp, [&] {
                return ::openat(temp.folder, candidate.c_str(),
                                O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode);
            }));
            error = temp.fd ? 0 : errno;
            if (temp.fd) temp.name = std::move(candidate);
            if (error != EEXIST) break;
        }
    }
    if (!temp.fd) {
        if ((error == EACCES || error == EPERM) &&
            ::faccessat(temp.folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
            return page.inPlace()
                       ? "its folder may not be written in, so the page cannot be replaced safely"
                       : "the output folder may not be written in";
        return failure("could not create a temporary file in the folder", error);
    }
    ::flock(temp.fd.get(), LOCK_EX);
    temp.marked = !temp.name.empty() && ::fsetxattr(temp.fd.get(), kTempMark, "1", 1, 0) == 0;
    startLikeOriginal(temp.fd.get(), page.original);
    return {};
}

// What the squeeze step read and wrote.
struct Squeezed {
    std::int64_t bytesRead = 0;
    std::int64_t written = 0;
    bool readAgain = false;  // the times cannot show every change: compare a second read
    std::uint64_t digest = 0;
};

// Step 5: stream the page through the squeeze into the temporary file (into nothing on a check
// run), and make sure all of it is there.
std::string squeezeIntoTemp(const Page& page, int temp, Squeezed& squeezed,
                            const PassOptions& options) {
    const struct stat& status = page.original.status;
    squeezed.readAgain = temp >= 0 && !timesShowEveryChange(page.source.get(), status);
    Digest digest;
    Writer writer(temp, options);
    StreamOutcome stream = squeezeInto(page.source.get(), status.st_size, writer,
                                       squeezed.readAgain ? &digest : nullptr, options);
    if (!stream.error.empty()) return stream.error;
    squeezed.bytesRead = stream.bytesRead;
    squeezed.written = writer.written();
    squeezed.digest = digest.value();
    struct stat now {
    }, written{};
    if (::fstat(page.source.get(), &now) != 0 || !unchanged(now, status) ||
        squeezed.bytesRead != status.st_size)
        return kChangedDuringPass;
    if (temp >= 0 && (::fstat(temp, &written) != 0 || written.st_size != squeezed.written))
        return "the compressed page on disk is not as long as what was written";
    return {};
}

// Owner, group and every mode bit. Returns a refusal, empty when they hold.
std::string carryOwnership(int temp, const struct stat& want, const PassOptions& options) {
    struct stat have {};
    if (::fstat(temp, &have) != 0) return failure("the new page cannot be examined", errno);
    if ((have.st_uid != want.st_uid || have.st_gid != want.st_gid) &&
        systemCall(options, FaultPoint::CopyMetadata,
                   [&] { return ::fchown(temp, want.st_uid, want.st_gid); }) != 0) {
        const int error = errno;
        if (have.st_uid != want.st_uid)
            return "its owner (user " + std::to_string(want.st_uid) +
                   ") cannot be kept by a new page: " + reasonOf(error);
        return "its group (" + std::to_string(want.st_gid) +
               ") cannot be kept by a new page: " + reasonOf(error);
    }
    if (::fstat(temp, &have) != 0) return failure("the new page cannot be examined", errno);
    if ((have.st_mode & 07777) != (want.st_mode & 07777) &&
        systemCall(options, FaultPoint::CopyMetadata,
                   [&] { return ::fchmod(temp, want.st_mode & 07777); }) != 0)
        return failure("its permissions cannot be given to the new page", errno);
    return {};
}

// The access ACL and every other extended attribute exactly, and none the folder made the new
// file inherit; the temporary file's own mark stays until the rename.
std::string carryAttributes(int temp, const Attributes& want, const PassOptions& options) {
    Attributes inherited;
    std::string error;
    if (!readAttributes(temp, inherited, error)) return error;
    if (!want.count(kTempMark)) inherited.erase(kTempMark);
    for (const auto& [name, value] : inherited)
        if (!want.count(name) && systemCall(options, FaultPoint::CopyMetadata, [&] {
                                     return ::fremovexattr(temp, name.c_str());
                                 }) != 0)
            return failure("the folder gives new files the attribute " + name +
                               ", which the page does not have, and it cannot be removed",
                           errno);
    for (const auto& [name, value] : want) {
        const auto same = inherited.find(name);
        if (same != inherited.end() && same->second == value) continue;
        if (systemCall(options, FaultPoint::CopyMetadata, [&] {
                return ::fsetxattr(temp, name.c_str(), value.data(), value.size(), 0);
            }) != 0)
            return failure("its extended attribute " + name + " cannot be kept", errno);
    }
    return {};
}

// The inode flags (which only the folder's flags can have changed), the project ID and the
// extent-size hint.
std::string carryFlags(int temp, const Page& page, const PassOptions& options) {
    const Metadata& original = page.original;
    const int wantFlags = original.flags & kCarriedFlags;
    const bool inherited = !page.inPlace() || (page.folderFlags & kCarriedFlags);
    const int haveFlags = wantFlags || inherited ? inodeFlags(temp) : 0;
    if ((haveFlags & kCarriedFlags) != wantFlags) {
        int flags = (haveFlags & ~kCarriedFlags) | wantFlags;
        if (systemCall(options, FaultPoint::CopyMetadata,
                       [&] { return ::ioctl(temp, FS_IOC_SETFLAGS, &flags); }) != 0)
            return failure("its file attributes (chattr) cannot be kept", errno);
    }
    fsxattr have{};
    if (!original.hasProject || (projectOf(temp, have) && sameProject(have, original.project)))
        return {};
    const fsxattr& want = original.project;
    if (systemCall(options, FaultPoint::CopyMetadata, [&] { return setProject(temp, want); }) ==
            0 &&
        projectOf(temp, have) && sameProject(have, want))
        return {};
    const int error = errno;
    if (have.fsx_projid != want.fsx_projid)
        return failure(
            "its project ID (" + std::to_string(want.fsx_projid) + ") cannot be kept by a new page",
            error);
    return failure("its extent-size hint (" + std::to_string(want.fsx_extsize) +
                       " bytes) cannot be kept by a new page",
                   error);
}

// Step 6: give the new file everything of the original that can be seen of a file, then put
// it on disk: fsync rather than fdatasync, since the owner, mode and attributes must be there
// too. This is the last step that only concerns the new file.
std::string carryOverAndSync(const Page& page, const Temp& temp, const PassOptions& options) {
    const int fd = temp.fd.get();
    const struct stat& want = page.original.status;
    std::string refusal = carryOwnership(fd, want, options);
    // Attributes after the owner, since a change of owner drops file capabilities; flags after
    // the attributes.
    if (refusal.empty()) refusal = carryAttributes(fd, page.original.attributes, options);
    if (refusal.empty()) refusal = carryFlags(fd, page, options);
    if (!refusal.empty()) return refusal;
    // The mode last of all checked, since setting an ACL sets the group bits from its mask.
    struct stat have {};
    if (::fstat(fd, &have) != 0) return failure("the new page cannot be examined", errno);
    if (have.st_uid != want.st_uid || have.st_gid != want.st_gid ||
        (have.st_mode & 07777) != (want.st_mode & 07777))
        return "its owner, group and permissions cannot be kept exactly by a new page";
    if (options.folderSyncs) {
        // Written out before the group meets, so that the first sync of the group finds every
        // page of it on its way to the disk and commits them all. An error of the write shows
        // in the sync.
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        options.folderSyncs->gather();
    }
    if (systemCall(options, FaultPoint::Sync, [&] { return ::fsync(fd); }) != 0)
        return failure("could not save the compressed page to disk", errno);
    return {};
}

// Step 7: the last look before the rename: still the same file under the same name, unchanged,
// and, where times are coarse, the same bytes to the end.
std::string checkUnchanged(const Page& page, const Squeezed& squeezed, const PassOptions& options) {
    const struct stat& status = page.original.status;
    struct stat atName {};
    if (::fstatat(page.folder, page.name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) != 0 ||
        atName.st_ino != status.st_ino || atName.st_dev != status.st_dev ||
        !unchanged(atName, status))
        return kChangedDuringPass;
    std::uint64_t again = 0;
    if (squeezed.readAgain &&
        (!digestOf(page.source.get(), status.st_size, options, again) || again != squeezed.digest))
        return kChangedDuringPass;
    return {};
}

// Gives the open file `fd` the name `name` in `folder`, never over a file that has it already.
int linkNew(int fd, int folder, const std::string& name) {
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, procPath.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
}

// Gives the unnamed file a name just long enough to rename it over the original: the one its
// inode gives, or, should another file hold that, a random one with the mark.
std::string nameTemp(Temp& temp, const PassOptions& options) {
    struct stat status {};
    if (::fstat(temp.fd.get(), &status) != 0)
        return failure("the new page cannot be examined", errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt == 1) temp.marked = ::fsetxattr(temp.fd.get(), kTempMark, "1", 1, 0) == 0;
        std::string candidate =
            attempt ? kTempPrefix + randomSuffix() + kTempSuffix : inodeName(status.st_ino);
        const int linked = systemCall(options, FaultPoint::NameTemp, [&] {
            return linkNew(temp.fd.get(), temp.folder, candidate);
        });
        if (linked == 0) {
            temp.name = std::move(candidate);
            return {};
        }
        if (errno != EEXIST) return failure("could not name the temporary file", errno);
    }
    return "could not find a free temporary file name";
}

// Step 8: rename the new page over the original. Its mark goes in the last moment before, so
// that a kill up to then leaves a leftover the next pass can prove its own.
std::string replace(const Page& page, Temp& temp, const PassOptions& options) {
    if (temp.name.empty())
        if (std::string error = nameTemp(temp, options); !error.empty()) return error;
    const bool unmark = temp.marked && !page.original.attributes.count(kTempMark);
    if (systemCall(options, FaultPoint::Replace, [&] {
            if (unmark && ::fremovexattr(temp.fd.get(), kTempMark) != 0) return -1;
            return ::renameat(temp.folder, temp.name.c_str(), page.targetFolder,
                              page.targetName.c_str());
        }) != 0)
        return failure(page.inPlace() ? "could not replace the original with the compressed page"
                                      : "could not put the compressed page in the output folder",
                       errno);
    temp.name.clear();
    temp.placed = true;
    return {};
}

// Step 9: put the rename on disk; once for all the pages of a group renamed in one folder.
std::string syncFolder(const Page& page, const PassOptions& options) {
    const FolderSyncs::Sync sync = [&] {
        return systemCall(options, FaultPoint::SyncFolder,
                          [&] { return ::fsync(page.targetFolder); })
                   ? errno
                   : 0;
    };
    struct stat folder {};
    int error = options.folderSyncs && ::fstat(page.targetFolder, &folder) == 0
                    ? options.folderSyncs->synced({folder.st_dev, folder.st_ino}, sync)
                    : sync();
    if (error)
        return failure(page.inPlace()
                           ? "the page was replaced, but the folder could not be saved to disk"
                           : "the compressed page was written, but the output folder could not "
                             "be saved to disk",
                       error);
    return {};
}

// The original kept under a second name while the page is replaced; removed again, if it is
// still the file made, when the page was not replaced after all.
struct Backup {
    int folder = -1;
    std::string name;
    struct stat made {};  // what stands under the name, once made
    bool keep = false;
    ~Backup() {
        struct stat now {};
        if (made.st_ino && !keep &&
            ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_ino == made.st_ino && now.st_dev == made.st_dev)
            ::unlinkat(folder, name.c_str(), 0);
    }
};

// Where the file system keeps no second names (FAT, exFAT): a copy of the original, byte for
// byte and with every piece of its metadata, on disk under the backup's name.
std::string copyOriginal(const Page& page, Backup& backup, const PassOptions& options) {
    Temp copy;
    std::string error = makeTemp(page, copy, options);
    const std::size_t chunk = chunkOf(options);
    char* const in = ChunkBuffers::forChunk(chunk).in();
    Writer writer(copy.fd.get(), options);
    for (std::int64_t at = 0; error.empty() && at < page.original.status.st_size;) {
        const ssize_t got = readAt(page.source.get(), in, chunk, at);
        if (got <= 0)
            return got < 0 ? failure("could not read the file", int(-got)) : kChangedDuringPass;
        if (const int failed = writer.write(in, static_cast<std::size_t>(got)))
            return failure("could not write its backup", failed);
        at += got;
    }
    if (error.empty()) error = carryOverAndSync(page, copy, options);
    if (!error.empty()) return error;
    int placed = copy.name.empty() ? linkNew(copy.fd.get(), copy.folder, backup.name)
                                   : ::renameat2(copy.folder, copy.name.c_str(), copy.folder,
                                                 backup.name.c_str(), RENAME_NOREPLACE);
    if (placed != 0 && (errno == EINVAL || errno == ENOSYS) && !copy.name.empty() &&
        ::faccessat(copy.folder, backup.name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0)
        placed = ::renameat(copy.folder, copy.name.c_str(), copy.folder, backup.name.c_str());
    if (placed != 0) return failure("could not make its backup " + backup.name, errno);
    copy.name.clear();
    return ::fstat(copy.fd.get(), &backup.made) == 0
               ? ""
               : failure("its backup cannot be examined", errno);
}

// Step 3b, with a backup suffix: the original keeps a second name, on disk before anything is
// replaced: the very file read where the file system allows it, else a copy. The new name moves
// the original's change time, which the last check compares: it starts from here.
std::string keepOriginal(Page& page, Backup& backup, const PassOptions& options) {
    if (options.backupSuffix.empty()) return {};
    backup.folder = page.folder;
    backup.name = page.name + options.backupSuffix;
    if (::faccessat(page.folder, backup.name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0)
        return "its backup " + backup.name + " already exists; it was left as it is";
    if (systemCall(options, FaultPoint::Backup,
                   [&] { return linkNew(page.source.get(), page.folder, backup.name); }) == 0) {
        backup.made = page.original.status;
    } else if (errno == EPERM || errno == EMLINK || errno == ENOTSUP || errno == EOPNOTSUPP) {
        if (std::string error = copyOriginal(page, backup, options); !error.empty()) return error;
    } else {
        return failure("could not make its backup " + backup.name, errno);
    }
    if (systemCall(options, FaultPoint::SyncFolder, [&] { return ::fsync(page.folder); }) != 0)
        return failure("its backup could not be saved to disk", errno);
    if (::fstat(page.source.get(), &page.original.status) != 0)
        return failure("the file cannot be examined", errno);
    return {};
}

// Everything up to the new page's data on disk, which touches nothing but the new file.
std::string prepare(Page& page, Temp& temp, Squeezed& squeezed, const PassOptions& options) {
    std::string error = makeTemp(page, temp, options);
    if (error.empty()) error = squeezeIntoTemp(page, temp.fd.get(), squeezed, options);
    if (error.empty()) error = carryOverAndSync(page, temp, options);
    return error;
}

// The check, the rename and the folder sync: what puts the new page in the original's place.
std::string commit(const Page& page, Temp& temp, const Squeezed& squeezed,
                   const PassOptions& options) {
    std::string error = checkUnchanged(page, squeezed, options);
    if (error.empty()) error = replace(page, temp, options);
    if (error.empty()) error = syncFolder(page, options);
    return error;
}

// The pass over the file `name` in the open folder `folder`: reach it, refuse what must not be
// touched, sweep the folder's leftovers, then prepare the new page and commit it.
PassResult passAt(int folder, const std::string& name, Reach reach, const PassOptions& options) {
    PassResult result;
    Page page;
    result.error = reachPage(folder, name, reach, options, page);
    if (page.source && S_ISREG(page.original.status.st_mode))
        result.sizeBefore = page.original.status.st_size;
    if (result.error.empty()) result.error = refusalOf(page);
    if (!result.error.empty()) return result;
    const nlink_t links = page.original.status.st_nlink;  // before a backup adds one
    Squeezed squeezed;
    if (options.dryRun) {
        result.error = squeezeIntoTemp(page, -1, squeezed, options);
    } else {
        removeLeftovers(page, result.removed);
        Backup backup;
        Temp temp;
        result.error = keepOriginal(page, backup, options);
        if (result.error.empty()) result.error = prepare(page, temp, squeezed, options);
        if (result.error.empty()) result.error = commit(page, temp, squeezed, options);
        backup.keep = temp.placed;
    }
    if (!result.error.empty()) return result;
    result.sizeAfter = squeezed.written;
    result.ok = true;
    if (links > 1 && page.inPlace() && !options.dryRun)
        result.note = "the file had " + std::to_string(links - 1) +
                      " other name(s) (hard links), which keep the original content";
    return result;
}

Fd openFolder(int at, const std::string& path, int extraFlags) {
    return Fd(::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags));
}

std::string folderRefusal(int error) {
    if (error == ENOENT) return "the file does not exist";
    return failure("its folder cannot be opened", error);
}

// The folder and the name a path ends in, trailing slashes aside.
std::pair<std::string, std::string> splitPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Whether a symbolic link in `folder` may be followed: as the kernel's protected-symlinks rule
// has it, and stricter for root, who could be led to any file: a link of root's own, or of the
// folder's owner in a folder no one else may write to. Returns the refusal, empty when it may.
std::string linkRefusal(int folder, const struct stat& link) {
    static const uid_t user = ::geteuid();
    struct stat holder {};
    if (::fstat(folder, &holder) != 0) return failure("its folder cannot be examined", errno);
    if (link.st_uid == user) return {};
    const std::string owner = " (user " + std::to_string(link.st_uid) + ")";
    if (user != 0) {
        const bool shared = (holder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
        if (link.st_uid == holder.st_uid || !shared) return {};
        return "it is a symbolic link of another user" + owner +
               " in a shared sticky folder, which is not followed";
    }
    if (link.st_uid != holder.st_uid)
        return "it is a symbolic link of another user" + owner +
               ", which is not followed when running as root";
    if (holder.st_mode & (S_IWGRP | S_IWOTH))
        return "it is a symbolic link in a folder that others may write to, which is not "
               "followed when running as root";
    return {};
}

// A symbolic link the user named is followed here, hop by hop, relative to open folders: the
// link is read from the link itself and its target's folder is opened from the link's folder.
// `folder` and `name` end as the file finally reached. Returns a refusal, empty when reached.
std::string followNamedLinks(Fd& folder, std::string& name) {
    constexpr int kMostHops = 40;  // as the kernel allows
    for (int hops = 0;; ++hops) {
        Fd link(::openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (!link || ::fstat(link.get(), &status) != 0 || !S_ISLNK(status.st_mode))
            return hops > 0 && !link && errno == ENOENT
                       ? "the symbolic link points to a file that does not exist"
                       : "";
        if (hops == kMostHops) return failure("the symbolic link cannot be followed", ELOOP);
        if (std::string refusal = linkRefusal(folder.get(), status); !refusal.empty())
            return refusal;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlinkat(link.get(), "", target.data(), target.size());
        if (length <= 0) return failure("the symbolic link cannot be followed", errno);
        target.resize(static_cast<std::size_t>(length));
        const bool named = target.find('/') != std::string::npos;
        auto [where, file] = splitPath(target);
        if (named) {
            Fd next = openFolder(target[0] == '/' ? AT_FDCWD : folder.get(), where, 0);
            if (!next)
                return errno == ENOENT ? "the symbolic link points to a file that does not exist"
                                       : failure("the symbolic link cannot be followed", errno);
            folder = std::move(next);
        }
        name = file;
    }
}

// Opens the folder `path` below `root` without following any link and without leaving it.
// Returns the refusal, empty when `folder` is open.
std::string openBeneath(int root, const std::string& path, Fd& folder, Reach reach) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    folder = Fd(static_cast<int>(
        ::syscall(SYS_openat2, root, path.empty() ? "." : path.c_str(), &how, sizeof how)));
    if (folder) return {};
    // Where the kernel has no openat2, and to name the part that is in the way, step by step.
    Fd at(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (std::size_t start = 0, end; at && start < path.size(); start = end + 1) {
        end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == ".") continue;
        Fd next = part == ".." ? Fd() : openFolder(at.get(), part, O_NOFOLLOW);
        if (!next) {
            const int error = part == ".." ? EXDEV : errno;
            if (error != ELOOP && error != ENOTDIR && error != EXDEV) return folderRefusal(error);
            struct stat status {};
            const bool link =
                ::fstatat(at.get(), part.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(status.st_mode);
            if (reach == Reach::Resolved)
                return link ? "a folder on its path was replaced by a link after it was added"
                            : "a folder on its path is no longer a folder";
            return "the folder " + part +
                   " on its way is no longer a folder (a symbolic link or a file took its place)";
        }
        at = std::move(next);
    }
    if (!at) return folderRefusal(errno);
    folder = std::move(at);
    return {};
}

}  // namespace

PassResult compressFile(const std::string& path, const PassOptions& options) {
    PassResult result;
    if (path.empty()) {
        result.error = "no file name";
        return result;
    }
    auto [folderPath, name] = splitPath(path);
    Fd folder = openFolder(AT_FDCWD, folderPath, 0);
    if (!folder) {
        result.error = folderRefusal(errno);
        return result;
    }
    if (name.empty()) name = ".";
    result.error = followNamedLinks(folder, name);
    if (!result.error.empty()) return result;
    return passAt(folder.get(), name, Reach::Named, options);
}

std::string resolvedPath(const std::string& path) {
    if (path.empty()) return path;
    const auto free = [](char* p) { std::free(p); };
    std::unique_ptr<char, decltype(free)> whole(::realpath(path.c_str(), nullptr), free);
    if (whole) return whole.get();
    // Not there (yet): its folder as far as it exists, and the name as given.
    const auto [folderPath, name] = splitPath(path);
    std::unique_ptr<char, decltype(free)> folder(::realpath(folderPath.c_str(), nullptr), free);
    if (folder) return std::string(folder.get()) + (folder.get()[1] ? "/" : "") + name;
    if (path[0] == '/') return path;
    std::unique_ptr<char, decltype(free)> here(::getcwd(nullptr, 0), free);
    return here ? std::string(here.get()) + "/" + path : path;
}

PassResult compressResolved(const std::string& resolved, const PassOptions& options) {
    PassResult result;
    if (resolved.empty()) {
        result.error = "no file name";
        return result;
    }
    const auto [folderPath, name] = splitPath(resolved);
    const Fd top = openFolder(AT_FDCWD, resolved[0] == '/' ? "/" : ".", 0);
    Fd folder;
    result.error = top ? openBeneath(top.get(), folderPath.substr(resolved[0] == '/' ? 1 : 0),
                                     folder, Reach::Resolved)
                       : folderRefusal(errno);
    if (!result.error.empty()) return result;
    return passAt(folder.get(), name, Reach::Resolved, options);
}

std::optional<FileIdentity> identityOfFile(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity(status.st_dev, status.st_ino);
}

PassResult compressFileBelow(int rootFolder, const std::string& relative,
                             const PassOptions& options) {
    PassResult result;
    const auto slash = relative.find_last_of('/');
    Fd folder;
    result.error =
        openBeneath(rootFolder, slash == std::string::npos ? "" : relative.substr(0, slash), folder,
                    Reach::Walked);
    if (!result.error.empty()) return result;
    return passAt(folder.get(), relative.substr(slash == std::string::npos ? 0 : slash + 1),
                  Reach::Walked, options);
}

}  // namespace vellork
