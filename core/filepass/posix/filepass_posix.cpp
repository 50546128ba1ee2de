// The file pass on POSIX systems (Linux): every step relative to the file's open folder.

#include "chunkbuffers.h"
#include "digest.h"
#include "filepass.h"
#include "pagecheck.h"
#include "squeezer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
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

// Writes the new content of one file, checking that every byte really went out.
class Writer {
public:
    Writer(int fd, const PassOptions& options) : fd_(fd), options_(options) {}

    // Returns 0 or the errno of the failed write.
    int write(const char* data, std::size_t n) {
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

// The digest of the first `size` bytes of a file read again; nullopt-like false on a failure.
bool digestOf(int fd, std::int64_t size, const PassOptions& options, std::uint64_t& value) {
    const std::size_t chunk = chunkOf(options);
    char* const in = ChunkBuffers::forChunk(chunk).in();
    Digest digest;
    std::int64_t at = 0;
    for (;;) {
        const ssize_t got = readAt(fd, in, chunk, at);
        if (got < 0) return false;
        digest.update(in, static_cast<std::size_t>(got));
        at += got;
        if (got == 0 || (size > 0 && at >= size)) break;
        if (options.tick) options.tick();
    }
    value = digest.value();
    return at == size || size == 0;
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
constexpr long kCarriedFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                               FS_NOATIME_FL | FS_NOCOMP_FL | FS_NOCOW_FL | FS_NOTAIL_FL |
                               FS_PROJINHERIT_FL;

// The inode flags of an open file; 0 where the file system has none.
long inodeFlags(int fd) {
    long flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags : 0;
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

// What the new file must carry over from the original, taken before anything is written.
struct Metadata {
    struct stat status {};
    Attributes attributes;
    long flags = 0;
};

// Gives the new file everything of `original` that can be seen of a file: owner, group, every
// mode bit, the access ACL and every other extended attribute exactly (and none the folder
// made it inherit), and the inode flags (which only the folder's flags can have changed).
// Returns a refusal, empty when all of it holds.
std::string carryOver(int temp, const Metadata& original, long folderFlags,
                      const PassOptions& options) {
    const struct stat& want = original.status;
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
    // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
    if (::fstat(temp, &have) != 0) return failure("the new page cannot be examined", errno);
    if ((have.st_mode & 07777) != (want.st_mode & 07777) &&
        systemCall(options, FaultPoint::CopyMetadata,
                   [&] { return ::fchmod(temp, want.st_mode & 07777); }) != 0)
        return failure("its permissions cannot be given to the new page", errno);

    Attributes inherited;
    std::string error;
    if (!readAttributes(temp, inherited, error)) return error;
    for (const auto& [name, value] : inherited)
        if (!original.attributes.count(name) && systemCall(options, FaultPoint::CopyMetadata, [&] {
                                                    return ::fremovexattr(temp, name.c_str());
                                                }) != 0)
            return failure("the folder gives new files the attribute " + name +
                               ", which the page does not have, and it cannot be removed",
                           errno);
    // Last, since a change of owner drops file capabilities (security.capability).
    for (const auto& [name, value] : original.attributes) {
        const auto same = inherited.find(name);
        if (same != inherited.end() && same->second == value) continue;
        if (systemCall(options, FaultPoint::CopyMetadata, [&] {
                return ::fsetxattr(temp, name.c_str(), value.data(), value.size(), 0);
            }) != 0)
            return failure("its extended attribute " + name + " cannot be kept", errno);
    }

    const long wantFlags = original.flags & kCarriedFlags;
    const long haveFlags = wantFlags || folderFlags ? inodeFlags(temp) : 0;
    if ((haveFlags & kCarriedFlags) != wantFlags) {
        long flags = (haveFlags & ~kCarriedFlags) | wantFlags;
        if (systemCall(options, FaultPoint::CopyMetadata,
                       [&] { return ::ioctl(temp, FS_IOC_SETFLAGS, &flags); }) != 0)
            return failure("its file attributes (chattr) cannot be kept", errno);
    }

    // The mode last of all checked, since setting an ACL sets the group bits from its mask.
    if (::fstat(temp, &have) != 0) return failure("the new page cannot be examined", errno);
    if (have.st_uid != want.st_uid || have.st_gid != want.st_gid ||
        (have.st_mode & 07777) != (want.st_mode & 07777))
        return "its owner, group and permissions cannot be kept exactly by a new page";
    return {};
}

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (int i = 0; i < 10; ++i) suffix += digits[generator() % 36];
    return suffix;
}

bool isTempName(const char* name) {
    const std::size_t length = std::strlen(name), prefix = std::strlen(kTempPrefix),
                      suffix = std::strlen(kTempSuffix);
    return length > prefix + suffix && std::strncmp(name, kTempPrefix, prefix) == 0 &&
           std::strcmp(name + length - suffix, kTempSuffix) == 0;
}

// Removes the temporary files that a killed pass left in a folder: where the file system
// has no unnamed files, or in the instant between naming a finished one and renaming it. A
// running pass holds a lock on its temporary file, so only files nobody holds go. Each folder
// is looked at once per process.
void removeLeftovers(int folder) {
    // A folder is known by its birth time too: a new folder may reuse a removed one's inode.
    struct statx status {};
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
    if (listing < 0) return;
    DIR* entries = ::fdopendir(listing);
    if (!entries) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (!isTempName(entry->d_name)) continue;
        Fd leftover(::openat(folder, entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat held {
        }, named{};
        if (!leftover || ::fstat(leftover.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
            ::flock(leftover.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == held.st_ino && named.st_dev == held.st_dev)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(entries);
}

// Why an entry that could not be opened as a file is no page to compress.
std::string openRefusal(int folder, const std::string& name, int error, bool linksRefused) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode) && linksRefused)
            return "it is a symbolic link inside a folder, which is not followed";
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

// The pass over the file `name` in the open folder `folder`.
PassResult compressAt(int folder, const std::string& name, bool linksRefused,
                      const PassOptions& options) {
    PassResult result;
    // Non-blocking, so that a FIFO cannot hold us up; only regular files go further, and for
    // those the flag changes nothing.
    Fd source(
        ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
    if (!source) {
        result.error = openRefusal(folder, name, errno, linksRefused);
        return result;
    }
    Metadata original;
    struct stat& status = original.status;
    if (::fstat(source.get(), &status) != 0) {
        result.error = failure("the file cannot be examined", errno);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = kindRefusal(status.st_mode);
        return result;
    }
    result.sizeBefore = status.st_size;

    // Honour read-only files even where the system would let us write them anyway (root).
    if ((status.st_mode & 0222) == 0) {
        result.error = "the file is read-only";
        return result;
    }
    original.flags = inodeFlags(source.get());
    if (original.flags & FS_IMMUTABLE_FL) {
        result.error = "the file is immutable (chattr +i)";
        return result;
    }
    if (original.flags & FS_APPEND_FL) {
        result.error = "the file is append-only (chattr +a)";
        return result;
    }
    const long folderFlags = inodeFlags(folder);
    if (folderFlags & FS_IMMUTABLE_FL) {
        result.error = "its folder is immutable (chattr +i), so the page cannot be replaced";
        return result;
    }
    if (folderFlags & FS_APPEND_FL) {
        result.error = "its folder is append-only (chattr +a), so the page cannot be replaced";
        return result;
    }
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
        result.error = failure("the file cannot be written", errno);
        return result;
    }
    static const uid_t user = ::geteuid();
    if (user != 0 && user != status.st_uid) {
        result.error = "it belongs to another user (user " + std::to_string(status.st_uid) +
                       "), and a new page could not be given that owner";
        return result;
    }
    if (!readAttributes(source.get(), original.attributes, result.error)) return result;

    removeLeftovers(folder);

    // An unnamed file vanishes by itself if the program dies; a named one is locked while
    // it is written, so that a later pass can tell it from a leftover. It starts with the
    // original's permission bits, so that usually nothing needs changing.
    const mode_t mode = status.st_mode & 0777;
    std::string tempName;
    Fd temp(systemCall(options, FaultPoint::CreateTemp, [&] {
        return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    }));
    int createError = temp ? 0 : errno;
    // File systems without unnamed files (FAT, exFAT, many FUSE ones) say so in these ways.
    if (createError == EOPNOTSUPP || createError == EISDIR || createError == EINVAL) {
        for (int attempt = 0; attempt < 100 && !temp; ++attempt) {
            std::string candidate = kTempPrefix + randomSuffix() + kTempSuffix;
            temp = Fd(systemCall(options, FaultPoint::CreateTemp, [&] {
                return ::openat(folder, candidate.c_str(),
                                O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode);
            }));
            createError = temp ? 0 : errno;
            if (temp) tempName = std::move(candidate);
            if (createError != EEXIST) break;
        }
    }
    if (!temp) {
        if ((createError == EACCES || createError == EPERM) &&
            ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
            result.error =
                "its folder may not be written in, so the page cannot be replaced "
                "safely";
        else
            result.error = failure("could not create a temporary file in the folder", createError);
        return result;
    }
    ::flock(temp.get(), LOCK_EX);
    struct RemoveOnFailure {
        int folder;
        std::string* name;
        ~RemoveOnFailure() {
            if (!name->empty()) ::unlinkat(folder, name->c_str(), 0);
        }
    } cleanup{folder, &tempName};

    auto fail = [&](std::string why) {
        result.error = std::move(why);
        result.sizeAfter = -1;
        return result;
    };

    // Before the first byte: some flags (no copy-on-write) hold only for an empty file.
    const long wantFlags = original.flags & kCarriedFlags;
    if (wantFlags && (inodeFlags(temp.get()) & kCarriedFlags) != wantFlags) {
        long flags = (inodeFlags(temp.get()) & ~kCarriedFlags) | wantFlags;
        ::ioctl(temp.get(), FS_IOC_SETFLAGS, &flags);  // checked again with the rest below
    }

    const bool readAgain = !timesShowEveryChange(source.get(), status);
    Digest digest;
    Writer writer(temp.get(), options);
    StreamOutcome stream =
        squeezeInto(source.get(), status.st_size, writer, readAgain ? &digest : nullptr, options);
    if (!stream.error.empty()) return fail(stream.error);

    struct stat now {};
    if (::fstat(source.get(), &now) != 0 || !unchanged(now, status) ||
        stream.bytesRead != status.st_size)
        return fail(kChangedDuringPass);

    struct stat written {};
    if (::fstat(temp.get(), &written) != 0 || written.st_size != writer.written())
        return fail("the compressed page on disk is not as long as what was written");
    if (std::string refusal = carryOver(temp.get(), original, folderFlags & kCarriedFlags, options);
        !refusal.empty())
        return fail(refusal);
    // fsync rather than fdatasync: the new file's owner, mode and attributes must be on disk too.
    if (systemCall(options, FaultPoint::Sync, [&] { return ::fsync(temp.get()); }) != 0)
        return fail(failure("could not save the compressed page to disk", errno));

    // The last look before the rename: still the same file under the same name, unchanged.
    struct stat atName {};
    if (::fstatat(folder, name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) != 0 ||
        atName.st_ino != status.st_ino || atName.st_dev != status.st_dev ||
        !unchanged(atName, status))
        return fail(kChangedDuringPass);
    if (readAgain) {
        std::uint64_t again = 0;
        if (!digestOf(source.get(), status.st_size, options, again) || again != digest.value())
            return fail(kChangedDuringPass);
    }

    if (tempName.empty()) {
        // Give the unnamed file a name just long enough to rename it over the original.
        const std::string procPath = "/proc/self/fd/" + std::to_string(temp.get());
        for (int attempt = 0; attempt < 100 && tempName.empty(); ++attempt) {
            std::string candidate = kTempPrefix + randomSuffix() + kTempSuffix;
            const int linked = systemCall(options, FaultPoint::NameTemp, [&] {
                return ::linkat(temp.get(), "", folder, candidate.c_str(), AT_EMPTY_PATH) == 0 ||
                               ::linkat(AT_FDCWD, procPath.c_str(), folder, candidate.c_str(),
                                        AT_SYMLINK_FOLLOW) == 0
                           ? 0
                           : -1;
            });
            if (linked == 0)
                tempName = std::move(candidate);
            else if (errno != EEXIST)
                return fail(failure("could not name the temporary file", errno));
        }
        if (tempName.empty()) return fail("could not find a free temporary file name");
    }
    if (systemCall(options, FaultPoint::Replace,
                   [&] { return ::renameat(folder, tempName.c_str(), folder, name.c_str()); }) != 0)
        return fail(failure("could not replace the original with the compressed page", errno));
    tempName.clear();  // it is the page now
    if (systemCall(options, FaultPoint::SyncFolder, [&] { return ::fsync(folder); }) != 0)
        return fail(
            failure("the page was replaced, but the folder could not be saved to disk", errno));
    result.sizeAfter = writer.written();
    result.ok = true;
    if (status.st_nlink > 1)
        result.note = "the file had " + std::to_string(status.st_nlink - 1) +
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

}  // namespace

PassResult compressFile(const std::string& path, const PassOptions& options) {
    PassResult result;
    if (path.empty()) {
        result.error = "no file name";
        return result;
    }
    // A path given by the user may be a symbolic link: its target is the file to replace.
    std::string target = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (!real) {
            result.error = errno == ENOENT
                               ? "the symbolic link points to a file that does not exist"
                               : failure("the symbolic link cannot be followed", errno);
            return result;
        }
        target = real.get();
    }
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    const auto slash = target.find_last_of('/');
    const std::string folderPath =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const Fd folder = openFolder(AT_FDCWD, folderPath, 0);
    if (!folder) {
        result.error = folderRefusal(errno);
        return result;
    }
    return compressAt(folder.get(), name.empty() ? "." : name, false, options);
}

PassResult compressFileBelow(const std::string& root, const std::string& relative,
                             const PassOptions& options) {
    PassResult result;
    const auto slash = relative.find_last_of('/');
    const std::string folderPath = slash == std::string::npos ? "" : relative.substr(0, slash);
    // The files of a walk come folder by folder: the folder last opened on this thread is
    // kept for the next file in it. It stays the folder the walk found, wherever it is moved.
    thread_local struct {
        std::string root, path;
        Fd fd;
    } last;
    if (!last.fd || last.root != root || last.path != folderPath) {
        last.fd.reset();
        Fd folder = openFolder(AT_FDCWD, root, 0);
        if (!folder) {
            result.error = folderRefusal(errno);
            return result;
        }
        for (std::size_t start = 0, end; start < folderPath.size(); start = end + 1) {
            end = std::min(folderPath.find('/', start), folderPath.size());
            const std::string part = folderPath.substr(start, end - start);
            if (part.empty() || part == ".") continue;
            Fd next = openFolder(folder.get(), part, O_NOFOLLOW);
            if (!next) {
                const int error = errno;
                result.error = error == ELOOP || error == ENOTDIR
                                   ? "the folder " + part +
                                         " on its way is no longer a folder (a symbolic link or "
                                         "a file took its place)"
                                   : folderRefusal(error);
                return result;
            }
            folder = std::move(next);
        }
        last.root = root;
        last.path = folderPath;
        last.fd = std::move(folder);
    }
    return compressAt(last.fd.get(), relative.substr(slash == std::string::npos ? 0 : slash + 1),
                      true, options);
}

}  // namespace vellork
