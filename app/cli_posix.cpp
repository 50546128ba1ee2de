// vellork-cli on Linux and other POSIX systems.

#include "cli_system.h"
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
void walk(int at, const std::string& shown, const std::string& relative, const std::string& root,
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
            jobs.push_back({path, root, below, {}});
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

void walkFolder(const std::string& path, std::vector<Job>& jobs,
                std::vector<WalkMessage>& messages) {
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        messages.push_back(
            {path, "the folder could not be read: " + lowercase(std::strerror(errno)), true});
    else
        walk(folder, path, "", path, jobs, messages);
}

PassResult runJob(const Job& job, const PassOptions& options) {
    if (!job.refusal.empty()) {
        PassResult refused;
        refused.error = job.refusal;
        return refused;
    }
    if (job.root.empty()) return compressFile(job.shown, options);
    const int root = ::open(job.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        PassResult refused;
        refused.error = "its folder cannot be opened: " + lowercase(std::strerror(errno));
        return refused;
    }
    PassResult result = compressFileBelow(root, job.relative, options);
    ::close(root);
    return result;
}

// How many passes may run at once without running out of file descriptors: a pass holds at
// most six (folders on its way, the page, the new page, a folder listing).
unsigned jobsWithinSystemLimit(unsigned wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    constexpr rlim_t kPerPass = 6, kReserved = 16;
    if (limit.rlim_cur == RLIM_INFINITY) return wanted;
    const rlim_t room =
        limit.rlim_cur > kReserved + kPerPass ? (limit.rlim_cur - kReserved) / kPerPass : 1;
    return static_cast<unsigned>(std::min<rlim_t>(wanted, room));
}

std::optional<FileIdentity> identityOf(const Job& job) {
    struct stat status {};
    if (::stat(job.shown.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity(status.st_dev, status.st_ino);
}

}  // namespace vellork::cli
