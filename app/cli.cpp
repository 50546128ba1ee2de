// vellork-cli: the window's engine for scripts and terminals.

#include "figures.h"
#include "filepass.h"
#include "numtext.h"

#include <QLocale>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: vellork-cli [-r] [-j N] [--] PATH...\n"
    "Squeezes each HTML page into one line, in place: blank lines dropped, lines trimmed and\n"
    "joined, tabs and line feeds removed, runs of spaces collapsed.\n"
    "\n"
    "  -r, --recursive  take every .html and .htm file under each folder, in sorted order\n"
    "  -j, --jobs N     compress up to N files at once (default 16: most of the time goes\n"
    "                   into waiting for the disk); each file is still replaced only once\n"
    "                   it is safely on disk, two names of one file are never worked on\n"
    "                   at once, and results are printed in the order of the files\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "  --               treat every following argument as a path\n"
    "\n"
    "For each file one line goes to standard output: the path, the size before, the space\n"
    "saved and the size after, separated by tabs. A file that could not be compressed is left\n"
    "untouched and named on standard error with the reason.\n"
    "Exit status: 0 all files compressed, 1 some failed, 2 usage error.\n";

bool isPage(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".html" || extension == ".htm";
}

// Every page under `folder`, sorted; folders behind symbolic links are not entered.
std::vector<std::string> pagesUnder(const std::string& folder, std::string& error) {
    std::vector<std::string> pages;
    std::error_code ec;
    namespace fs = std::filesystem;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && isPage(it->path()))
            pages.push_back(it->path().string());
    }
    if (ec) error = ec.message();
    std::sort(pages.begin(), pages.end());
    return pages;
}

}  // namespace

// Compresses the files on `jobs` threads and hands each result to `report` in file order.
// Two paths to one file (hard links, symbolic links, a file named twice) never run at once:
// the second waits for the first, exactly as it would one job at a time.
void compressAll(const std::vector<std::string>& files, unsigned jobs,
                 const std::function<void(std::size_t, const vellork::PassResult&)>& report) {
    if (jobs <= 1) {
        for (std::size_t i = 0; i < files.size(); ++i) report(i, vellork::compressFile(files[i]));
        return;
    }
    std::vector<std::optional<vellork::PassResult>> results(files.size());
    std::mutex mutex;
    std::condition_variable ready, released;
    std::set<std::pair<dev_t, ino_t>> busy;  // files being compressed right now
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            struct stat status {};
            std::optional<std::pair<dev_t, ino_t>> file;
            if (::stat(files[i].c_str(), &status) == 0) file.emplace(status.st_dev, status.st_ino);
            if (file) {
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return !busy.count(*file); });
                busy.insert(*file);
            }
            vellork::PassResult result = vellork::compressFile(files[i]);
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
    bool recursive = false;
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
        } else if (arg == "-j" || arg == "--jobs" || arg.rfind("-j", 0) == 0 ||
                   arg.rfind("--jobs=", 0) == 0) {
            std::string value = arg == "-j" || arg == "--jobs" ? (i + 1 < argc ? argv[++i] : "")
                                : arg[1] == 'j'                ? arg.substr(2)
                                                               : arg.substr(7);
            char* end = nullptr;
            const unsigned long n = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end || n < 1 || n > 1024)
                return usageError("-j takes a number of files from 1 to 1024");
            jobs = static_cast<unsigned>(n);
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-V" || arg == "--version") {
            std::printf("vellork-cli %s\n", VELLORK_VERSION);
            return 0;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (paths.empty()) return usageError("no file given");

    // What to compress, in order; folders that could not be read completely are reported.
    std::vector<std::string> files;
    std::vector<std::pair<std::size_t, std::string>> folderErrors;  // (before file index, text)
    for (const std::string& path : paths) {
        std::error_code ec;
        if (recursive && std::filesystem::is_directory(path, ec)) {
            std::string error;
            for (std::string& page : pagesUnder(path, error)) files.push_back(std::move(page));
            if (!error.empty())
                folderErrors.emplace_back(
                    files.size(), path + "\tthe folder could not be read completely: " + error);
        } else {
            files.push_back(path);
        }
    }

    const std::string separator = QLocale::system().decimalPoint().toStdString();
    std::string ratioText;
    bool anyFailed = !folderErrors.empty();
    std::size_t nextFolderError = 0;
    auto reportFolderErrors = [&](std::size_t upTo) {
        for (; nextFolderError < folderErrors.size() && folderErrors[nextFolderError].first <= upTo;
             ++nextFolderError)
            std::fprintf(stderr, "%s\n", folderErrors[nextFolderError].second.c_str());
    };
    compressAll(files, jobs, [&](std::size_t i, const vellork::PassResult& pass) {
        reportFolderErrors(i);
        const std::string& path = files[i];
        if (!pass.ok) {
            anyFailed = true;
            std::fprintf(stderr, "%s\t%s\n", path.c_str(), pass.error.c_str());
            return;
        }
        const vellork::RowFigures figures = vellork::rowFigures(pass, ratioText, separator);
        std::printf("%s\t%s\t%s\t%s\n", path.c_str(), vellork::integerText(pass.sizeBefore).c_str(),
                    figures.ratio.c_str(), figures.compressedSize.c_str());
        std::fflush(stdout);
    });
    reportFolderErrors(files.size());
    return anyFailed ? 1 : 0;
}
