#include "filepass.h"

#include "squeezer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
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
        default:
            return std::strerror(error);
    }
}

std::string failure(const std::string& what, int error) {
    return what + ": " + reasonOf(error);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The file still is what was opened: same size and modification time.
bool unchanged(const struct stat& now, const struct stat& then) {
    return now.st_size == then.st_size && sameTime(now.st_mtim, then.st_mtim);
}

const char* const kChangedWhileReading =
    "the file changed while it was being compressed; it was left as it is now";

// The test seam: 0, or the errno a test wants this step to fail with.
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
#ifdef SYNC_FILE_RANGE_WRITE
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
#endif
        return 0;
    }

    int fd_;
    const PassOptions& options_;
    off_t offset_ = 0;
    off_t started_ = 0;  // writeback has been started for everything before this offset
};

// Working memory for one chunk in and its squeezed form out. Kept per thread and never
// cleared: allocating and zeroing fresh buffers for every small page cost more than the
// whole squeeze. Page-aligned, because the kernel copies into and out of an aligned buffer
// several times faster (a 400 MB page was read at 2.3 GB/s into the 16-byte-aligned memory
// that plain allocation gives).
class ChunkBuffers {
public:
    static ChunkBuffers& forChunk(std::size_t chunk) {
        thread_local ChunkBuffers buffers;
        if (buffers.size_ < chunk) {
            buffers.in_ = allocate(chunk);
            buffers.out_ = allocate(chunk + Squeezer::kOutputRoom);
            buffers.size_ = chunk;
        }
        return buffers;
    }
    char* in() { return in_.get(); }
    char* out() { return out_.get(); }

private:
    static constexpr std::align_val_t kPage{4096};
    struct Release {
        void operator()(char* p) const { ::operator delete[](p, kPage); }
    };
    using Buffer = std::unique_ptr<char[], Release>;
    static Buffer allocate(std::size_t n) {
        return Buffer(static_cast<char*>(::operator new[](n, kPage)));
    }

    Buffer in_, out_;
    std::size_t size_ = 0;
};

struct StreamOutcome {
    std::int64_t bytesRead = 0;
    std::string error;
};

// Reads `from`, squeezes it and writes the result through `writer`. A file of `size` bytes is
// read up to that size and no further: the caller checks afterwards that the file has not
// changed, which also catches one that grew. An empty file is read to its end, since files
// that report no size can still have content.
StreamOutcome squeezeInto(int from, std::int64_t size, Writer& writer, const PassOptions& options) {
    StreamOutcome outcome;
    const std::size_t chunk = options.chunkSize ? options.chunkSize : 1;
    ChunkBuffers& buffers = ChunkBuffers::forChunk(chunk);
    char* const in = buffers.in();
    char* const out = buffers.out();
    Squeezer squeezer;
    for (;;) {
        const int readFault = injected(options, FaultPoint::Read);
        const ssize_t got = readFault ? -readFault : readAt(from, in, chunk, outcome.bytesRead);
        if (got < 0) {
            outcome.error = failure("could not read the file", static_cast<int>(-got));
            return outcome;
        }
        outcome.bytesRead += got;
        const bool atEnd = got == 0 || (size > 0 && outcome.bytesRead >= size);
        std::size_t produced = squeezer.feed(in, static_cast<std::size_t>(got), out);
        if (atEnd) produced += squeezer.finish(out + produced);
        if (const int error = writer.write(out, produced)) {
            outcome.error = failure("could not write the compressed page", error);
            return outcome;
        }
        if (options.tick) options.tick();
        if (atEnd) return outcome;
    }
}

// Compares the whole content of two files; returns an error text, empty when they are equal.
std::string compareFiles(int a, int b, std::size_t chunk, const std::function<void()>& tick) {
    std::vector<char> x(chunk), y(chunk);
    for (off_t at = 0;;) {
        const ssize_t gx = readAt(a, x.data(), chunk, at);
        const ssize_t gy = readAt(b, y.data(), chunk, at);
        if (gx < 0) return failure("could not read back the copy", static_cast<int>(-gx));
        if (gy < 0) return failure("could not read back the copy", static_cast<int>(-gy));
        if (gx != gy || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(gx)) != 0)
            return "the copy read back differs from what was written";
        if (gx == 0) return {};
        at += gx;
        if (tick) tick();
    }
}

// Compares a file with the squeezed form of another; returns an error text, empty when equal.
std::string verifySqueezed(int source, int result, std::size_t chunk,
                           const std::function<void()>& tick) {
    std::vector<char> in(chunk), expected(chunk + Squeezer::kOutputRoom), actual;
    Squeezer squeezer;
    off_t readAtSource = 0, readAtResult = 0;
    for (;;) {
        const ssize_t got = readAt(source, in.data(), chunk, readAtSource);
        if (got < 0) return failure("could not read the safety copy", static_cast<int>(-got));
        readAtSource += got;
        const std::size_t n =
            got == 0 ? squeezer.finish(expected.data())
                     : squeezer.feed(in.data(), static_cast<std::size_t>(got), expected.data());
        actual.resize(n);
        const ssize_t have = n ? readAt(result, actual.data(), n, readAtResult) : 0;
        if (have < 0)
            return failure("could not read back the new content", static_cast<int>(-have));
        if (static_cast<std::size_t>(have) != n || std::memcmp(actual.data(), expected.data(), n))
            return "the new content read back differs from what was written";
        readAtResult += have;
        if (got == 0) break;
        if (tick) tick();
    }
    char extra;
    if (readAt(result, &extra, 1, readAtResult) != 0)
        return "the new content read back is longer than what was written";
    return {};
}

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (int i = 0; i < 10; ++i) suffix += digits[generator() % 36];
    return suffix;
}

std::string systemTempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Copies `from` into `to` from offset 0; returns an error text, empty on success.
std::string copyAll(int from, int to, const PassOptions& options, const char* what) {
    std::vector<char> buffer(options.chunkSize ? options.chunkSize : 1);
    Writer writer(to, options);
    for (off_t at = 0;;) {
        const ssize_t got = readAt(from, buffer.data(), buffer.size(), at);
        if (got < 0) return failure("could not read the file", static_cast<int>(-got));
        if (got == 0) break;
        if (const int error = writer.write(buffer.data(), static_cast<std::size_t>(got)))
            return failure(what, error);
        at += got;
        if (options.tick) options.tick();
    }
    if (systemCall(options, FaultPoint::Write,
                   [&] { return ::ftruncate(to, writer.written()); }) != 0)
        return failure(what, errno);
    if (systemCall(options, FaultPoint::Sync, [&] { return ::fsync(to); }) != 0)
        return failure(what, errno);
    return {};
}

struct Source {
    std::string target;  // the real file (a symbolic link resolved)
    Fd fd;
    struct stat status {};
};

// Writes the squeezed page to a new file beside the original and renames it over the original.
// Sets `folderClosed`, and does nothing else, when the folder may not be written in.
PassResult replaceThroughTempFile(const Source& source, const PassOptions& options,
                                  PassResult result, bool& folderClosed) {
    const std::string folder = folderOf(source.target);
    // Whether a refusal came from a folder we may not write in, as opposed to any other trouble.
    auto refusedByFolder = [&](int error) {
        folderClosed = (error == EACCES || error == EPERM) &&
                       ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0;
        return folderClosed;
    };
    Fd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd) {
        const int error = errno;
        if (!refusedByFolder(error))
            result.error = failure("could not open the file's folder", error);
        return result;
    }

    // An unnamed file vanishes by itself if the program dies; a named one gets removed by us.
    // It starts with the original's permission bits, so that usually nothing needs changing.
    const mode_t mode = source.status.st_mode & 0777;
    std::string tempName;
    Fd temp(systemCall(options, FaultPoint::CreateTemp, [&] {
        return ::openat(folderFd.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    }));
    if (!temp) {
        std::string pattern = folder + "/" + kTempPrefix + "XXXXXX.tmp";
        temp = Fd(systemCall(options, FaultPoint::CreateTemp,
                             [&] { return ::mkostemps(pattern.data(), 4, O_CLOEXEC); }));
        if (!temp) {
            const int error = errno;
            if (!refusedByFolder(error))
                result.error = failure("could not create a temporary file in the folder", error);
            return result;
        }
        tempName = pattern;
    }
    struct RemoveOnFailure {
        std::string* name;
        ~RemoveOnFailure() {
            if (!name->empty()) ::unlink(name->c_str());
        }
    } cleanup{&tempName};

    auto fail = [&](std::string why) {
        result.error = std::move(why);
        result.sizeAfter = -1;
        return result;
    };

    Writer writer(temp.get(), options);
    StreamOutcome stream = squeezeInto(source.fd.get(), source.status.st_size, writer, options);
    if (!stream.error.empty()) return fail(stream.error);

    struct stat now {};
    if (::fstat(source.fd.get(), &now) != 0 || !unchanged(now, source.status) ||
        stream.bytesRead != source.status.st_size)
        return fail(kChangedWhileReading);

    struct stat written {};
    if (::fstat(temp.get(), &written) != 0 || written.st_size != writer.written())
        return fail("the compressed page on disk is not as long as what was written");
    // Owner and group where we may set them, then the exact mode bits (chown may clear setuid).
    const bool chown =
        written.st_uid != source.status.st_uid || written.st_gid != source.status.st_gid;
    if (chown && ::fchown(temp.get(), source.status.st_uid, source.status.st_gid) != 0)
        (void)!::fchown(temp.get(), static_cast<uid_t>(-1), source.status.st_gid);
    if ((chown || (written.st_mode & 07777) != (source.status.st_mode & 07777)) &&
        systemCall(options, FaultPoint::CopyMetadata,
                   [&] { return ::fchmod(temp.get(), source.status.st_mode & 07777); }) != 0)
        return fail(failure("could not give the new file the original's permissions", errno));
    // fsync rather than fdatasync: the new file's mode and owner must be on disk too.
    if (systemCall(options, FaultPoint::Sync, [&] { return ::fsync(temp.get()); }) != 0)
        return fail(failure("could not save the compressed page to disk", errno));

    // Still the same file under the same name?
    struct stat atPath {};
    if (::stat(source.target.c_str(), &atPath) != 0 || atPath.st_ino != source.status.st_ino ||
        atPath.st_dev != source.status.st_dev || !unchanged(atPath, source.status))
        return fail(kChangedWhileReading);

    if (tempName.empty()) {
        // Give the unnamed file a name just long enough to rename it over the original.
        const std::string procPath = "/proc/self/fd/" + std::to_string(temp.get());
        for (int attempt = 0; attempt < 100 && tempName.empty(); ++attempt) {
            std::string name = folder + "/" + kTempPrefix + randomSuffix() + ".tmp";
            const int linked = systemCall(options, FaultPoint::NameTemp, [&] {
                return ::linkat(temp.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
                               ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(),
                                        AT_SYMLINK_FOLLOW) == 0
                           ? 0
                           : -1;
            });
            if (linked == 0)
                tempName = name;
            else if (errno != EEXIST)
                return fail(failure("could not name the temporary file", errno));
        }
        if (tempName.empty()) return fail("could not find a free temporary file name");
    }
    if (systemCall(options, FaultPoint::Replace,
                   [&] { return ::rename(tempName.c_str(), source.target.c_str()); }) != 0)
        return fail(failure("could not replace the original with the compressed page", errno));
    tempName.clear();  // it is the page now
    if (systemCall(options, FaultPoint::SyncFolder, [&] { return ::fsync(folderFd.get()); }) != 0)
        return fail(
            failure("the page was replaced, but the folder could not be saved to disk", errno));
    result.sizeAfter = writer.written();
    result.ok = true;
    return result;
}

// Overwrites the original file itself, so every hard link sees the new content. A verified copy
// in the temporary folder stands ready to restore it; without one the file is not touched.
PassResult rewriteInPlace(const Source& source, const PassOptions& options, PassResult result) {
    const std::string folder =
        options.backupFolder.empty() ? systemTempFolder() : options.backupFolder;
    std::string backupName =
        folder + "/" + kBackupPrefix + nameOf(source.target).substr(0, 80) + "-XXXXXX";
    Fd backup(systemCall(options, FaultPoint::CreateTemp,
                         [&] { return ::mkostemp(backupName.data(), O_CLOEXEC); }));
    if (!backup) {
        result.error = failure("refused: no safety copy could be made in " + folder, errno);
        return result;
    }
    // The copy is reopened for reading; the descriptor above may only write.
    Fd backupRead(::open(backupName.c_str(), O_RDONLY | O_CLOEXEC));
    bool keepBackup = false;
    struct RemoveBackup {
        const std::string& name;
        const bool& keep;
        ~RemoveBackup() {
            if (!keep) ::unlink(name.c_str());
        }
    } cleanup{backupName, keepBackup};

    const std::size_t chunk = options.chunkSize ? options.chunkSize : 1;
    std::string copyError =
        backupRead ? copyAll(source.fd.get(), backup.get(), options, "could not make a safety copy")
                   : failure("could not read the safety copy", errno);
    if (copyError.empty())
        copyError = compareFiles(source.fd.get(), backupRead.get(), chunk, options.tick);
    if (!copyError.empty()) {
        result.error = "refused: " + copyError;
        return result;
    }

    Fd target(::open(source.target.c_str(), O_WRONLY | O_CLOEXEC));
    struct stat now {};
    if (!target) {
        result.error = failure("could not open the file for writing", errno);
        return result;
    }
    if (::fstat(target.get(), &now) != 0 || !unchanged(now, source.status) ||
        now.st_ino != source.status.st_ino) {
        result.error = kChangedWhileReading;
        return result;
    }

    Writer writer(target.get(), options);
    StreamOutcome stream = squeezeInto(backupRead.get(), source.status.st_size, writer, options);
    std::string error = stream.error;
    if (error.empty() && systemCall(options, FaultPoint::Write, [&] {
                             return ::ftruncate(target.get(), writer.written());
                         }) != 0)
        error = failure("could not shorten the file", errno);
    if (error.empty() &&
        systemCall(options, FaultPoint::Sync, [&] { return ::fsync(target.get()); }) != 0)
        error = failure("could not save the compressed page to disk", errno);
    if (error.empty()) {
        Fd check(::open(source.target.c_str(), O_RDONLY | O_CLOEXEC));
        error = check ? verifySqueezed(backupRead.get(), check.get(), chunk, options.tick)
                      : failure("could not read back the new content", errno);
    }
    if (error.empty()) {
        result.sizeAfter = writer.written();
        result.ok = true;
        return result;
    }

    // Put the original back from the copy, and make sure it really is back.
    std::string restoreError = copyAll(backupRead.get(), target.get(),
                                       PassOptions{options.tick, options.chunkSize, {}, {}},
                                       "could not restore the original");
    if (restoreError.empty()) {
        Fd check(::open(source.target.c_str(), O_RDONLY | O_CLOEXEC));
        restoreError = check ? compareFiles(backupRead.get(), check.get(), chunk, options.tick)
                             : failure("could not read back the restored file", errno);
    }
    if (!restoreError.empty()) {
        keepBackup = true;
        result.error = error + "; restoring the original failed too (" + restoreError +
                       "); the original is kept in " + backupName;
    } else {
        result.error = error + "; the original was restored";
    }
    return result;
}

}  // namespace

PassResult compressFile(const std::string& path, const PassOptions& options) {
    PassResult result;
    if (path.empty()) {
        result.error = "no file name";
        return result;
    }

    // Non-blocking, so that a FIFO cannot hold us up; only regular files go further, and for
    // those the flag changes nothing. A symbolic link is opened at its target, which is the
    // file to replace.
    Source source;
    source.target = path;
    constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    source.fd = Fd(::open(path.c_str(), kOpenFlags | O_NOFOLLOW));
    struct stat link {};
    if (!source.fd && errno == ELOOP && ::lstat(path.c_str(), &link) == 0 &&
        S_ISLNK(link.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (!real) {
            result.error = errno == ENOENT
                               ? "the symbolic link points to a file that does not exist"
                               : failure("the symbolic link cannot be followed", errno);
            return result;
        }
        source.target = real.get();
        source.fd = Fd(::open(source.target.c_str(), kOpenFlags));
    }
    if (!source.fd) {
        result.error = errno == ENOENT ? "the file does not exist"
                                       : failure("the file cannot be opened", errno);
        return result;
    }
    if (::fstat(source.fd.get(), &source.status) != 0) {
        result.error = failure("the file cannot be examined", errno);
        return result;
    }
    if (S_ISDIR(source.status.st_mode)) {
        result.error = "it is a folder, not a file";
        return result;
    }
    if (!S_ISREG(source.status.st_mode)) {
        result.error = "it is not a regular file (a pipe, socket or device)";
        return result;
    }
    result.sizeBefore = source.status.st_size;

    // Honour read-only files even where the system would let us write them anyway (root).
    if ((source.status.st_mode & 0222) == 0) {
        result.error = "the file is read-only";
        return result;
    }
    if (::faccessat(AT_FDCWD, source.target.c_str(), W_OK, AT_EACCESS) != 0) {
        result.error = failure("the file cannot be written", errno);
        return result;
    }

    if (source.status.st_nlink > 1) return rewriteInPlace(source, options, std::move(result));
    bool folderClosed = false;
    PassResult replaced = replaceThroughTempFile(source, options, result, folderClosed);
    return folderClosed ? rewriteInPlace(source, options, std::move(result)) : replaced;
}

}  // namespace vellork
