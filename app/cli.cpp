// vellork-cli: the window's engine for scripts and terminals.

#include "figures.h"
#include "filepass.h"
#include "numtext.h"

#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: vellork-cli [-r] [--] PATH...\n"
    "Squeezes each HTML page into one line, in place: blank lines dropped, lines trimmed and\n"
    "joined, tabs and line feeds removed, runs of spaces collapsed.\n"
    "\n"
    "  -r, --recursive  take every .html and .htm file under each folder, in sorted order\n"
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

int main(int argc, char** argv) {
    bool recursive = false;
    std::vector<std::string> paths;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            paths.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "-r" || arg == "--recursive") {
            recursive = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-V" || arg == "--version") {
            std::printf("vellork-cli %s\n", VELLORK_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "vellork-cli: unknown option '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (paths.empty()) {
        std::fprintf(stderr, "vellork-cli: no file given\n%s", kUsage);
        return 2;
    }

    const std::string separator = QLocale::system().decimalPoint().toStdString();
    std::string ratioText;
    bool anyFailed = false;
    auto compressOne = [&](const std::string& path) {
        const vellork::PassResult pass = vellork::compressFile(path);
        if (!pass.ok) {
            anyFailed = true;
            std::fprintf(stderr, "%s\t%s\n", path.c_str(), pass.error.c_str());
            return;
        }
        const vellork::RowFigures figures = vellork::rowFigures(pass, ratioText, separator);
        std::printf("%s\t%s\t%s\t%s\n", path.c_str(), vellork::integerText(pass.sizeBefore).c_str(),
                    figures.ratio.c_str(), figures.compressedSize.c_str());
        std::fflush(stdout);
    };

    for (const std::string& path : paths) {
        std::error_code ec;
        if (recursive && std::filesystem::is_directory(path, ec)) {
            std::string error;
            for (const std::string& page : pagesUnder(path, error)) compressOne(page);
            if (!error.empty()) {
                anyFailed = true;
                std::fprintf(stderr, "%s\tthe folder could not be read completely: %s\n",
                             path.c_str(), error.c_str());
            }
        } else {
            compressOne(path);
        }
    }
    return anyFailed ? 1 : 0;
}
