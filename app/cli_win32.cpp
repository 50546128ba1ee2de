// vellork-cli on Windows: arguments and output in UTF-8 whatever the console's code page, paths
// of any length, and files told apart by volume and file index.

#include "cli_system.h"
#include "winsys.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace vellork::cli {

namespace {

class Search {
public:
    explicit Search(HANDLE handle) : handle_(handle) {}
    ~Search() {
        if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
    }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Collects every page below the folder `at` (a system path, shown as `shown`), depth first.
// Symbolic links and junctions are reported and not entered: a walk stays in its tree.
void walk(const std::wstring& at, const std::string& shown, std::vector<Job>& jobs,
          std::vector<WalkMessage>& messages) {
    WIN32_FIND_DATAW found;
    Search search(::FindFirstFileExW((at + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (search.get() == INVALID_HANDLE_VALUE) {
        messages.push_back(
            {shown, "the folder could not be read: " + win32::reasonOf(::GetLastError()), true});
        return;
    }
    struct Entry {
        std::string name;
        std::wstring systemName;
        DWORD attributes;
    };
    std::vector<Entry> entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({win32::utf8(name), name, found.dwFileAttributes});
    } while (::FindNextFileW(search.get(), &found));
    if (const DWORD error = ::GetLastError(); error != ERROR_NO_MORE_FILES)
        messages.push_back(
            {shown, "the folder could not be read completely: " + win32::reasonOf(error), true});
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const bool separated = !shown.empty() && (shown.back() == '\\' || shown.back() == '/');
    for (const Entry& entry : entries) {
        const std::string path = shown + (separated ? "" : "\\") + entry.name;
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            messages.push_back(
                {path, "skipped: a symbolic link or junction inside a folder is not followed",
                 false});
        else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
            walk(at + L"\\" + entry.systemName, path, jobs, messages);
        else if (isPageName(entry.name))
            jobs.push_back({path, {}, {}, {}});
    }
}

}  // namespace

std::vector<std::string> arguments(int, char**) {
    int count = 0;
    wchar_t** given = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(win32::utf8(given[i]));
    ::LocalFree(given);
    return args;
}

void prepareOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool asksForHelp(const std::string& arg) {
    return arg == "/?";
}

bool isFolder(const std::string& path) {
    std::wstring system;
    if (!win32::systemPath(path, system)) return false;
    const DWORD attributes = ::GetFileAttributesW(system.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool pathExists(const std::string& path) {
    std::wstring system;
    return win32::systemPath(path, system) &&
           ::GetFileAttributesW(system.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string fileNameOf(const std::string& path) {
    const auto separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

void walkFolder(const std::string& folder, std::vector<Job>& jobs,
                std::vector<WalkMessage>& messages) {
    std::wstring system;
    if (!win32::systemPath(folder, system))
        messages.push_back({folder, "the folder could not be read: the name is not valid", true});
    else
        walk(system, folder, jobs, messages);
}

// Pages found by a walk carry their whole path: the pass opens each by it.
// Until the Windows pass judges the file it reaches and knows the check run, both are kept
// here: the name given is judged, and a check is refused rather than run for real.
PassResult runJob(const Job& job, const PassOptions& options) {
    PassResult refused;
    refused.error = !job.refusal.empty()                                          ? job.refusal
                    : options.pageNamesOnly && !isPageName(fileNameOf(job.shown)) ? kNotAPageName
                    : options.dryRun ? "the check is not available on Windows yet"
                                     : "";
    return refused.error.empty() ? compressFile(job.shown, options) : refused;
}

// A pass holds three handles at most, and a process may hold millions.
unsigned jobsWithinSystemLimit(unsigned wanted) {
    return wanted;
}

std::optional<FileIdentity> identityOf(const Job& job) {
    std::wstring system;
    if (!win32::systemPath(job.shown, system)) return std::nullopt;
    // Asking for attributes only is never refused for sharing, so a pass in progress on the
    // file does not hide it.
    HANDLE file = ::CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity(info.dwVolumeSerialNumber,
                        std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
}

}  // namespace vellork::cli
