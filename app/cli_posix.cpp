// vellork-cli on Linux and other POSIX systems.

#include "cli_system.h"
#include "pool.h"
#include "startup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vellork::cli {

namespace {

// Collects every page below the open folder `at` (shown as `shown`), depth first, never
// following a symbolic link. Links and folders that cannot be read are reported.
void walk(int at, const std::string& shown, const std::string& relative, int root,
          std::vector<Job>& jobs, std::vector<WalkMessage>& messages) {
    DIR* folder = ::fdopendir(at);
    if (!folder) {
        messages.push_back(
            {shown, "the folder could not be read: " + lowercase(std::strerror(errno)), true});
        ::close(at);
        return;
    }
    std::vector<std::pair<std::string, unsigned char>> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") entries.emplace_back(name, entry->d_type);
        errno = 0;
    }
    if (errno != 0)
        messages.push_back(
            {shown, "the folder could not be read completely: " + lowercase(std::strerror(errno)),
             true});
    std::sort(entries.begin(), entries.end());
    for (auto& [name, type] : entries) {
        const std::string path = shown + (shown.back() == '/' ? "" : "/") + name;
        const std::string below = relative.empty() ? name : relative + "/" + name;
        if (type == DT_UNKNOWN) {
            struct stat status {};
            if (::fstatat(::dirfd(folder), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISLNK(status.st_mode)   ? DT_LNK
                   : S_ISDIR(status.st_mode) ? DT_DIR
                   : S_ISREG(status.st_mode) ? DT_REG
                                             : DT_UNKNOWN;
        }
        if (type == DT_LNK) {
            messages.push_back(
                {path, "skipped: a symbolic link inside a folder is not followed", false});
        } else if (type == DT_DIR) {
            const int sub = ::openat(::dirfd(folder), name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0)
                messages.push_back(
                    {path, "the folder could not be read: " + lowercase(std::strerror(errno)),
                     true});
            else
                walk(sub, path, below, root, jobs, messages);
        } else if (type == DT_REG && isPageName(name)) {
            jobs.push_back({path, root, below, {}, {}});
        }
    }
    ::closedir(folder);
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

void prepareOutput() {
    app::prepareProcess();
}

bool asksForHelp(const std::string&) {
    return false;
}

bool escapesBackslash() {
    return true;
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The top folder is opened once, from the name given, and held for the whole run: every page
// found below it is reached from this descriptor, never by its path again.
void walkFolder(const std::string& path, std::vector<Job>& jobs,
                std::vector<WalkMessage>& messages) {
    const int root = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int listing = root < 0 ? -1 : ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) {
        messages.push_back(
            {path, "the folder could not be read: " + lowercase(std::strerror(errno)), true});
        if (root >= 0) ::close(root);
        return;
    }
    const std::size_t before = jobs.size();
    walk(listing, path, "", root, jobs, messages);
    if (jobs.size() == before) ::close(root);  // nothing to hold it for
}

PassResult runJob(const Job& job, const PassOptions& options) {
    if (!job.refusal.empty()) {
        PassResult refused;
        refused.error = job.refusal;
        return refused;
    }
    return job.rootFolder < 0 ? compressFile(job.shown, options)
                              : compressFileBelow(job.rootFolder, job.relative, options);
}

// The output folder must not lie inside a tree being read, not even before it is made: its
// deepest part that exists is looked at first, and only then is the rest made.
int openOutputFolder(const std::string& path, const std::vector<int>& tops, std::string& error) {
    std::string existing = path;
    int folder;
    while ((folder = ::open(existing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 &&
           errno == ENOENT && existing != "." && existing != "/") {
        const auto slash = existing.find_last_of('/');
        existing = slash == std::string::npos ? "." : slash == 0 ? "/" : existing.substr(0, slash);
    }
    for (const int top : tops)
        if (folder >= 0 && liesInside(folder, top)) {
            ::close(folder);
            error = "the output folder " + path + " lies inside a folder being read";
            return -2;
        }
    if (folder >= 0) ::close(folder);
    for (std::size_t at = existing.size(); at != std::string::npos && at < path.size();) {
        at = path.find('/', at + 1);
        if (::mkdir(path.substr(0, at).c_str(), 0777) != 0 && errno != EEXIST) break;
    }
    folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        error = "the output folder " + path +
                " cannot be made or opened: " + lowercase(std::strerror(errno));
    return folder;
}

// Up from `folder` to the root, one parent at a time.
bool liesInside(int folder, int top) {
    struct stat here {
    }, parent{}, goal{};
    if (::fstat(top, &goal) != 0 || ::fstat(folder, &here) != 0) return false;
    int at = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    for (bool inside = false; at >= 0;) {
        inside = here.st_dev == goal.st_dev && here.st_ino == goal.st_ino;
        const int up = ::openat(at, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        if (inside || up < 0 || ::fstat(up, &parent) != 0 ||
            (parent.st_dev == here.st_dev && parent.st_ino == here.st_ino)) {
            if (up >= 0) ::close(up);
            return inside;
        }
        here = parent;
        at = up;
    }
    return false;
}

int outputFolderBelow(int output, const std::string& relative) {
    int at = ::fcntl(output, F_DUPFD_CLOEXEC, 0);
    for (std::size_t start = 0, end; at >= 0 && start < relative.size(); start = end + 1) {
        end = std::min(relative.find('/', start), relative.size());
        const std::string part = relative.substr(start, end - start);
        if (::mkdirat(at, part.c_str(), 0777) != 0 && errno != EEXIST) {
            ::close(at);
            return -1;
        }
        const int next =
            ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(at);
        errno = error;
        at = next;
    }
    return at;
}

void closeFolder(int folder) {
    ::close(folder);
}

// How many passes may be under way without running out of file descriptors. A pass holds at
// most four at a time: its folder, the page, and, while it sweeps the folder for leftovers of
// an interrupted run, the folder's listing and the leftover it looks at (the temporary file
// comes after the sweep); one more when it writes to an output folder. What is open already
// (the standard streams, the walks' top folders) takes its share of the limit first.
unsigned passesWithinSystemLimit(unsigned jobs, bool writingElsewhere) {
    const rlim_t wanted = rlim_t{jobs} * PassPool::kPassesPerWorker;
    constexpr rlim_t kFewEnoughToCount = 1 << 16;
    const rlim_t kPerPass = writingElsewhere ? 5 : 4;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kFewEnoughToCount)
        return static_cast<unsigned>(wanted);
    // Counted only as far as needed: probing every descriptor of a limit in the tens of
    // thousands costs more than a small page's whole pass.
    const rlim_t enough = wanted * kPerPass;
    rlim_t free = 0;
    for (rlim_t fd = 0; fd < limit.rlim_cur && free < enough; ++fd)
        free += ::fcntl(static_cast<int>(fd), F_GETFD) < 0 && errno == EBADF;
    return static_cast<unsigned>(std::clamp<rlim_t>(free / kPerPass, 1, wanted));
}

// For a page found by a walk, looked up below its top folder. It only decides which passes
// wait for each other, never where a pass goes.
std::optional<FileIdentity> identityOf(const Job& job) {
    if (job.rootFolder < 0) return identityOfFile(job.shown);
    struct stat status {};
    if (::fstatat(job.rootFolder, job.relative.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileIdentity(status.st_dev, status.st_ino);
}

}  // namespace vellork::cli
