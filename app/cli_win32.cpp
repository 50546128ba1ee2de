// vellork-cli on Windows: arguments and output in UTF-8 whatever the console's code page, paths
// of any length shown with the system's backslashes, walks through open folders, and files told
// apart by volume and file index.

#include "cli_system.h"
#include "pool.h"
#include "winsys.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <deque>

namespace vellork::cli {

namespace {

// The folders that walks start from, each opened once and kept open for the whole run: every
// page below one is reached from its handle (compressFileBelow), never by its path again.
std::deque<win32::Handle>& walkRoots() {
    static std::deque<win32::Handle> roots;
    return roots;
}

// Collects every page below the open folder `at` (shown as `shown`, `relative` below the walk's
// top folder, number `root` of those held), depth first. Each folder is entered relative to the one
// before it; symbolic links, junctions and whatever is not the folder listed are reported and not
// entered.
void walk(HANDLE at, const std::string& shown, const std::string& relative, int root,
          std::vector<Job>& jobs, std::vector<WalkMessage>& messages) {
    struct Entry {
        std::string name;
        std::wstring systemName;
        DWORD attributes;
    };
    std::vector<Entry> entries;
    if (const DWORD error = win32::listFolder(at, [&](const std::wstring& name, DWORD attributes) {
            entries.push_back({win32::utf8(name), name, attributes});
        }))
        messages.push_back(
            {shown, "the folder could not be read completely: " + win32::reasonOf(error), true});
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const bool separated = !shown.empty() && (shown.back() == '\\' || shown.back() == '/');
    for (const Entry& entry : entries) {
        const std::string path = shown + (separated ? "" : "\\") + entry.name;
        const std::string below = relative.empty() ? entry.name : relative + "\\" + entry.name;
        win32::Handle folder;
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            messages.push_back(
                {path, "skipped: a symbolic link or junction inside a folder is not followed",
                 false});
        } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            const DWORD error =
                win32::openBelow(at, entry.systemName, win32::kPassageAccess,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_DIRECTORY_FILE, folder);
            if (error)
                messages.push_back(
                    {path, "the folder could not be read: " + win32::reasonOf(error), true});
            else if (!win32::isEntryOf(folder.get(), at, entry.systemName))
                messages.push_back({path,
                                    "the folder could not be entered: this system does not open it "
                                    "by its exact name, or a link took its place",
                                    true});
            else
                walk(folder.get(), path, below, root, jobs, messages);
        } else if (isPageName(entry.name)) {
            jobs.push_back({path, root, below, {}, {}});
        }
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

// A backslash is the folder separator here, and a path is written with it as it is.
bool escapesBackslash() {
    return false;
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
    if (!win32::systemPath(folder, system)) {
        messages.push_back({folder, "the folder could not be read: the name is not valid", true});
        return;
    }
    // Pages right in it are replaced in it, where it may be written in.
    win32::Handle root;
    for (const ACCESS_MASK access : {win32::kFolderAccess, win32::kPassageAccess})
        if (!root)
            root = win32::Handle(::CreateFileW(
                system.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!root) {
        messages.push_back(
            {folder, "the folder could not be read: " + win32::reasonOf(::GetLastError()), true});
        return;
    }
    walkRoots().push_back(std::move(root));
    walk(walkRoots().back().get(), folder, {}, static_cast<int>(walkRoots().size() - 1), jobs,
         messages);
}

PassResult runJob(const Job& job, const PassOptions& options) {
    if (!job.refusal.empty()) {
        PassResult refused;
        refused.error = job.refusal;
        return refused;
    }
    if (job.rootFolder < 0) return compressFile(job.shown, options);
    return compressFileBelow(walkRoots()[job.rootFolder].get(), job.relative, options);
}

// --backup and --output are refused on Windows before any of these is asked.
int openOutputFolder(const std::string&, const std::vector<int>&, std::string& error) {
    error = "--output is not available on Windows";
    return -1;
}
bool liesInside(int, int) {
    return false;
}
int outputFolderBelow(int, const std::string&) {
    return -1;
}
void closeFolder(int) {}

// A pass holds a handful of handles, and a process may hold millions.
unsigned passesWithinSystemLimit(unsigned jobs, bool) {
    return jobs * PassPool::kPassesPerWorker;
}

std::optional<FileIdentity> identityOf(const Job& job) {
    return identityOfFile(job.shown);
}

}  // namespace vellork::cli
