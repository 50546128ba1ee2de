// vellork-cli: the window's engine for scripts and terminals.

#include "cli_system.h"
#include "figures.h"
#include "filepass.h"
#include "numtext.h"

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

using vellork::cli::FileIdentity;
using vellork::cli::Job;
using vellork::cli::WalkMessage;

namespace vellork::cli {

bool isPageName(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".html" || extension == ".htm";
}

std::string lowercase(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace vellork::cli

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
        const char* named = c == '\\'   ? "\\\\"
                            : c == '\t' ? "\\t"
                            : c == '\n' ? "\\n"
                            : c == '\r' ? "\\r"
                                        : nullptr;
        if (named) {
            out += named;
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

}  // namespace

// Compresses the files on `jobs` threads and hands each result to `report` in file order.
// Two paths to one file (hard links, symbolic links, a file named twice) never run at once:
// the second waits for the first, exactly as it would one job at a time.
void compressAll(const std::vector<Job>& files, unsigned jobs,
                 const std::function<void(std::size_t, const vellork::PassResult&)>& report) {
    if (jobs <= 1) {
        for (std::size_t i = 0; i < files.size(); ++i) report(i, vellork::cli::runJob(files[i]));
        return;
    }
    std::vector<std::optional<vellork::PassResult>> results(files.size());
    std::mutex mutex;
    std::condition_variable ready, released;
    std::set<FileIdentity> busy;  // files being compressed right now
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            // The name may lead to another file once the pass holding the first one has
            // replaced it: hold the file the name leads to when the wait is over.
            std::optional<FileIdentity> file;
            for (;;) {
                file = vellork::cli::identityOf(files[i].shown);
                if (!file) break;
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return !busy.count(*file); });
                busy.insert(*file);
                lock.unlock();
                if (vellork::cli::identityOf(files[i].shown) == file) break;
                lock.lock();
                busy.erase(*file);
                released.notify_all();
            }
            vellork::PassResult result = vellork::cli::runJob(files[i]);
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
    using namespace vellork::cli;
    std::setlocale(LC_ALL, "");
    prepareOutput();
    const std::vector<std::string> args = arguments(argc, argv);
    bool recursive = false, nullEnded = false, anyName = false;
    unsigned jobs = 16;
    std::vector<std::string> paths;
    bool optionsDone = false;
    auto usageError = [](const std::string& message) {
        std::fprintf(stderr, "vellork-cli: %s\n%s", message.c_str(), kUsage);
        return 2;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
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
            std::string value = arg == "-j" || arg == "--jobs"
                                    ? (i + 1 < args.size() ? args[++i] : "")
                                : arg[1] == 'j' ? arg.substr(2)
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
        if (recursive && isFolder(path)) {
            walkFolder(path, files, messages);
        } else {
            Job job{path, {}, {}, {}};
            if (!anyName && !isPageName(fileNameOf(path)) && !isFolder(path))
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
    compressAll(
        files, jobsWithinSystemLimit(jobs), [&](std::size_t i, const vellork::PassResult& pass) {
            const std::string shown = escaped(files[i].shown);
            if (!pass.ok) {
                anyFailed = true;
                std::fprintf(stderr, "%s\t%s\n", shown.c_str(), pass.error.c_str());
                return;
            }
            if (!pass.note.empty())
                std::fprintf(stderr, "%s\tnote: %s\n", shown.c_str(), pass.note.c_str());
            const vellork::RowFigures figures =
                vellork::rowFigures(pass.ok, pass.sizeBefore, pass.sizeAfter, ratioText, separator);
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
