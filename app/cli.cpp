// vellork-cli: the window's engine for scripts and terminals.

#include "figures.h"
#include "filepass.h"
#include "numtext.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: vellork-cli [-r] [-j N] [-z] [--any-name] [--] PATH...\n"
    "Squeezes each HTML page into one line, in place: blank lines dropped, lines trimmed and\n"
    "joined, tabs and line feeds removed, runs of spaces collapsed.\n"
    "\n"
    "  -r, --recursive  take every .html and .htm file under each folder, in sorted order;\n"
    "                   symbolic links inside a folder are reported and not followed\n"
    "  -j, --jobs N     compress up to N files at once (default 16: most of the time goes\n"
    "                   into waiting for the disk); each file is still replaced only once\n"
    "                   it is safely on disk, two names of one file are never worked on\n"
    "                   at once, and results are printed in the order of the files\n"
    "  -z, --null       end each result with a NUL instead of a line feed, and write the\n"
    "                   path as it is, unescaped (for scripts, like find -print0)\n"
    "      --any-name   also compress a file named on the command line whose name does not\n"
    "                   end in .html or .htm\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "  --               treat every following argument as a path\n"
    "\n"
    "For each file one line goes to standard output: the path, the size before, the space\n"
    "saved and the size after, separated by tabs. In paths, a tab, line feed, carriage\n"
    "return and backslash are written as \\t, \\n, \\r and \\\\, and other control bytes and\n"
    "bytes that are not UTF-8 as \\xHH. A file that could not be compressed is left\n"
    "untouched and named on standard error with the reason.\n"
    "Exit status: 0 all files compressed, 1 some failed (or a folder could not be read, or\n"
    "the output could not be written), 2 usage error.\n";

bool isPageName(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".html" || extension == ".htm";
}

// Length of the valid UTF-8 sequence at s[0], or 0 when it is not one.
std::size_t utf8Length(const unsigned char* s, std::size_t left) {
    const unsigned char c = s[0];
    std::size_t n;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (left < n) return 0;
    unsigned code = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (s[i] & 0x3F);
    }
    return code >= min && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) ? n : 0;
}

// A path as one field of one line: whatever could split the record or mislead a reader is
// written as an escape.
std::string escaped(const std::string& path) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(path.data());
    for (std::size_t i = 0; i < path.size();) {
        const unsigned char c = s[i];
        const std::size_t n = utf8Length(s + i, path.size() - i);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        if (c == '\\' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        if (n == 0 || c < 0x20 || c == 0x7F) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
            continue;
        }
        out.append(path, i, n);
        i += n;
    }
    return out;
}

std::string lowercase(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// One file to compress: named on the command line, or found below a folder named there.
struct Job {
    std::string shown;     // the path as the user knows it
    std::string root;      // the folder it was found under; empty when named itself
    std::string relative;  // its path below that folder
    std::string refusal;   // set when it is refused before any pass
};

struct WalkMessage {
    std::string path, text;
    bool failed;  // counts towards the exit status
};

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

vellork::PassResult runJob(const Job& job) {
    if (!job.refusal.empty()) {
        vellork::PassResult refused;
        refused.error = job.refusal;
        return refused;
    }
    return job.root.empty() ? vellork::compressFile(job.shown)
                            : vellork::compressFileBelow(job.root, job.relative);
}

// How many passes may run at once without running out of file descriptors: a pass holds at
// most six (folders on its way, the page, the new page, a folder listing).
unsigned jobsWithinDescriptorLimit(unsigned wanted) {
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

std::optional<std::pair<dev_t, ino_t>> identityOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return std::make_pair(status.st_dev, status.st_ino);
}

}  // namespace

// Compresses the files on `jobs` threads and hands each result to `report` in file order.
// Two paths to one file (hard links, symbolic links, a file named twice) never run at once:
// the second waits for the first, exactly as it would one job at a time.
void compressAll(const std::vector<Job>& files, unsigned jobs,
                 const std::function<void(std::size_t, const vellork::PassResult&)>& report) {
    if (jobs <= 1) {
        for (std::size_t i = 0; i < files.size(); ++i) report(i, runJob(files[i]));
        return;
    }
    std::vector<std::optional<vellork::PassResult>> results(files.size());
    std::mutex mutex;
    std::condition_variable ready, released;
    std::set<std::pair<dev_t, ino_t>> busy;  // files being compressed right now
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            // The name may lead to another file once the pass holding the first one has
            // replaced it: hold the file the name leads to when the wait is over.
            std::optional<std::pair<dev_t, ino_t>> file;
            for (;;) {
                file = identityOf(files[i].shown);
                if (!file) break;
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return !busy.count(*file); });
                busy.insert(*file);
                lock.unlock();
                if (identityOf(files[i].shown) == file) break;
                lock.lock();
                busy.erase(*file);
                released.notify_all();
            }
            vellork::PassResult result = runJob(files[i]);
            std::lock_guard lock(mutex);
            if (file) {
                busy.erase(*file);
                released.notify_all();
            }
            results[i] = std::move(result);
            ready.notify_one();
        }
    };
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs && j < files.size(); ++j) workers.emplace_back(work);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return results[i].has_value(); });
        const vellork::PassResult result = std::move(*results[i]);
        lock.unlock();
        report(i, result);
    }
    for (auto& worker : workers) worker.join();
}

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    bool recursive = false, nullEnded = false, anyName = false;
    unsigned jobs = 16;
    std::vector<std::string> paths;
    bool optionsDone = false;
    auto usageError = [](const std::string& message) {
        std::fprintf(stderr, "vellork-cli: %s\n%s", message.c_str(), kUsage);
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            paths.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "-r" || arg == "--recursive") {
            recursive = true;
        } else if (arg == "-z" || arg == "--null") {
            nullEnded = true;
        } else if (arg == "--any-name") {
            anyName = true;
        } else if (arg == "-j" || arg == "--jobs" || arg.rfind("-j", 0) == 0 ||
                   arg.rfind("--jobs=", 0) == 0) {
            std::string value = arg == "-j" || arg == "--jobs" ? (i + 1 < argc ? argv[++i] : "")
                                : arg[1] == 'j'                ? arg.substr(2)
                                                               : arg.substr(7);
            char* end = nullptr;
            errno = 0;
            const unsigned long n = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end ||
                errno || n < 1 || n > 1024)
                return usageError("-j takes a number of files from 1 to 1024");
            jobs = static_cast<unsigned>(n);
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        } else if (arg == "-V" || arg == "--version") {
            std::printf("vellork-cli %s\n", VELLORK_VERSION);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (paths.empty()) return usageError("no file given");

    // What to compress, in order. What the walks met is told first.
    std::vector<Job> files;
    std::vector<WalkMessage> messages;
    for (const std::string& path : paths) {
        struct stat status {};
        if (recursive && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0)
                messages.push_back(
                    {path, "the folder could not be read: " + lowercase(std::strerror(errno)),
                     true});
            else
                walk(folder, path, "", path, files, messages);
        } else {
            Job job{path, {}, {}, {}};
            const auto slash = path.find_last_of('/');
            const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            if (!anyName && !isPageName(name) &&
                !(::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)))
                job.refusal = "not an .html or .htm page; --any-name compresses it anyway";
            files.push_back(std::move(job));
        }
    }
    bool anyFailed = false;
    for (const WalkMessage& message : messages) {
        std::fprintf(stderr, "%s\t%s\n", escaped(message.path).c_str(), message.text.c_str());
        anyFailed |= message.failed;
    }

    const std::string separator = std::localeconv()->decimal_point;
    std::string ratioText;
    int outputError = 0;
    compressAll(files, jobsWithinDescriptorLimit(jobs),
                [&](std::size_t i, const vellork::PassResult& pass) {
                    const std::string shown = escaped(files[i].shown);
                    if (!pass.ok) {
                        anyFailed = true;
                        std::fprintf(stderr, "%s\t%s\n", shown.c_str(), pass.error.c_str());
                        return;
                    }
                    if (!pass.note.empty())
                        std::fprintf(stderr, "%s\tnote: %s\n", shown.c_str(), pass.note.c_str());
                    const vellork::RowFigures figures =
                        vellork::rowFigures(pass, ratioText, separator);
                    const std::string fields = "\t" + vellork::integerText(pass.sizeBefore) + "\t" +
                                               figures.ratio + "\t" + figures.compressedSize;
                    const std::string& path = nullEnded ? files[i].shown : shown;
                    if (std::fwrite(path.data(), 1, path.size(), stdout) != path.size() ||
                        std::fputs(fields.c_str(), stdout) < 0 ||
                        std::fputc(nullEnded ? '\0' : '\n', stdout) < 0 || std::fflush(stdout) != 0)
                        outputError = outputError ? outputError : (errno ? errno : EIO);
                });
    if (!outputError && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        outputError = errno ? errno : EIO;
    if (outputError) {
        std::fprintf(stderr, "vellork-cli: the results could not be written: %s\n",
                     lowercase(std::strerror(outputError)).c_str());
        return 1;
    }
    return anyFailed ? 1 : 0;
}
