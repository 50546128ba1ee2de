// How a pass reaches its page on Windows: from the name the user gave, with the links on its way
// followed by the system; below a folder that a walk opened, following none; or from the path a
// window's row resolved to when it was added, following none either. Each way ends with the
// page and its folder open (Reached), and the pass goes on through those handles only.

#include "filepass.h"
#include "pass_win32.h"
#include "winsys.h"

#include <cwctype>
#include <string>
#include <vector>

namespace vellork {

namespace {

using namespace win32;

// Where a page was found, which decides how a link on its way is told.
enum class Reach { Walked, Resolved };

std::string failure(const std::string& what, DWORD error) {
    return what + ": " + reasonOf(error);
}

bool missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string folderRefusal(DWORD error) {
    if (missing(error)) return "the file does not exist";
    if (error == ERROR_ACCESS_DENIED)
        return "its folder may not be written in, so the page cannot be replaced safely";
    return failure("its folder cannot be opened", error);
}

// Whether a file name is one that Windows keeps for a device (CON, NUL, COM1, ...), whatever
// extension follows: a path ending in it leads to the device, not to a file.
bool isDeviceName(std::wstring name) {
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ') name.pop_back();
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (name == device) return true;
    const bool port =
        name.size() == 4 && (name.rfind(L"COM", 0) == 0 || name.rfind(L"LPT", 0) == 0);
    return port && (std::iswdigit(name[3]) || name[3] == L'\u00b9' || name[3] == L'\u00b2' ||
                    name[3] == L'\u00b3');
}

// The page the user named. The system follows a link on its way; the page is the file the
// handle then names, in the folder where that file is, under the name that folder stores.
std::string reachNamed(const std::wstring& path, Reached& page) {
    page.file = Handle(::CreateFileW(path.c_str(), kPageAccess, kPageSharing, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!page.file) {
        const DWORD error = ::GetLastError(), attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "it is a folder, not a file";
        return missing(error) ? "the file does not exist"
                              : failure("the file cannot be opened", error);
    }
    if (::GetFileType(page.file.get()) != FILE_TYPE_DISK)
        return "it is not a regular file (a device or a pipe)";
    const std::wstring final = finalPath(page.file.get());
    const std::size_t slash = final.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return failure("the file cannot be examined", ::GetLastError());
    page.name = final.substr(slash + 1);
    page.ownFolder =
        Handle(::CreateFileW(final.substr(0, slash + 1).c_str(), kFolderAccess,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!page.ownFolder) return folderRefusal(::GetLastError());
    page.folder = page.ownFolder.get();
    // The folder opened by that path holds the very file opened: nothing moved in between.
    Handle entry;
    FILE_ID_INFO held{}, named{};
    if (openBelow(page.folder, page.name, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_NON_DIRECTORY_FILE,
                  entry) != 0 ||
        !fileIdOf(entry.get(), named) || !fileIdOf(page.file.get(), held) || !sameFile(named, held))
        return kChangedDuringPass;
    return {};
}

bool isLink(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION info{};
    return !::GetFileInformationByHandle(entry, &info) ||
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string linkOnTheWay(const std::wstring& part, Reach reach) {
    if (reach == Reach::Resolved)
        return "a folder on its path was replaced by a link after it was added";
    return "the folder " + utf8(part) +
           " on its way is no longer a folder (a symbolic link, a junction or a file took its "
           "place)";
}

// Opens the folder `path` (names separated by backslashes) below `root`, one name at a time and
// following no link: a symbolic link or junction, or anything but the entry of that very name,
// is refused. `folder` stays closed when the path is empty: the page is in `root` itself.
std::string openFolderBelow(HANDLE root, const std::wstring& path, Reach reach, Handle& folder) {
    HANDLE at = root;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring part = path.substr(start, end - start);
        start = end + 1;
        Handle next;
        const DWORD error = openBelow(
            at, part, start > path.size() ? kFolderAccess : kPassageAccess,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_DIRECTORY_FILE, next);
        if (error == ERROR_DIRECTORY) return linkOnTheWay(part, reach);
        if (error) return folderRefusal(error);
        if (isLink(next.get()) || !isEntryOf(next.get(), at, part))
            return linkOnTheWay(part, reach);
        folder = std::move(next);
        at = folder.get();
    }
    return {};
}

// The page at `relative` below `root`, with no link followed on its way or at its end.
std::string reachBelow(HANDLE root, std::wstring relative, Reach reach, Reached& page) {
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    const std::size_t slash = relative.find_last_of(L'\\');
    page.name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    const std::wstring folderPath = slash == std::wstring::npos ? L"" : relative.substr(0, slash);
    if (std::string refusal = openFolderBelow(root, folderPath, reach, page.ownFolder);
        !refusal.empty())
        return refusal;
    page.folder = page.ownFolder ? page.ownFolder.get() : root;
    const DWORD error = openBelow(page.folder, page.name, kPageAccess, kPageSharing,
                                  FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, page.file);
    if (error) {
        Handle entry;
        if (error == ERROR_ACCESS_DENIED &&
            openBelow(page.folder, page.name, FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_DIRECTORY_FILE,
                      entry) == 0)
            return "it is a folder, not a file";
        return missing(error) ? "the file does not exist"
                              : failure("the file cannot be opened", error);
    }
    if (isLink(page.file.get()) || !isEntryOf(page.file.get(), page.folder, page.name))
        return reach == Reach::Walked
                   ? "it is a symbolic link or junction inside a folder, which is not followed"
                   : "it is a symbolic link now, which is not followed";
    return {};
}

PassResult refused(std::string why) {
    PassResult result;
    result.error = std::move(why);
    return result;
}

}  // namespace

PassResult compressFile(const std::string& path, const PassOptions& options) {
    if (path.empty()) return refused("no file name");
    std::wstring system;
    if (!systemPath(path, system))
        return refused("the file name is not valid UTF-8, or not a valid path");
    const std::string name = path.substr(path.find_last_of("\\/:") + 1);
    std::wstring wideName;
    if (wide(name, wideName) && isDeviceName(wideName))
        return refused(
            "its name is a reserved device name (CON, NUL, COM1 and the like), not a file");
    Reached page;
    if (std::string refusal = reachNamed(system, page); !refusal.empty()) return refused(refusal);
    return passOver(page, options);
}

PassResult compressFileBelow(void* rootFolder, const std::string& relative,
                             const PassOptions& options) {
    std::wstring path;
    if (relative.empty() || !wide(relative, path))
        return refused("the file name is not valid UTF-8, or not a valid path");
    Reached page;
    if (std::string refusal = reachBelow(rootFolder, path, Reach::Walked, page); !refusal.empty())
        return refused(refusal);
    return passOver(page, options);
}

// The row keeps where the path led when it was added, every link on its way followed: the
// file's final path while it exists, the absolute path otherwise.
std::string resolvedPath(const std::string& path) {
    std::wstring system;
    if (!systemPath(path, system)) return path;
    const Handle file(::CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::wstring final = file ? finalPath(file.get()) : L"";
    return shown(final.empty() ? system : final);
}

PassResult compressResolved(const std::string& resolved, const PassOptions& options) {
    std::wstring system;
    if (!systemPath(resolved, system) || system.rfind(LR"(\\?\)", 0) != 0)
        return compressFile(resolved, options);
    // From the volume's root ("\\?\C:\", "\\?\UNC\server\share\") down, one name at a time.
    const bool share = system.rfind(LR"(\\?\UNC\)", 0) == 0;
    std::size_t rootEnd = share ? system.find(L'\\', system.find(L'\\', 8) + 1) : 6;
    if (rootEnd == std::wstring::npos || rootEnd + 1 >= system.size())
        return compressFile(resolved, options);
    const std::wstring relative = system.substr(rootEnd + 1);
    const bool inRoot = relative.find(L'\\') == std::wstring::npos;
    const Handle root(::CreateFileW(system.substr(0, rootEnd + 1).c_str(),
                                    inRoot ? kFolderAccess : kPassageAccess,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!root) return refused(folderRefusal(::GetLastError()));
    Reached page;
    if (std::string refusal = reachBelow(root.get(), relative, Reach::Resolved, page);
        !refusal.empty())
        return refused(refusal);
    return passOver(page, options);
}

}  // namespace vellork
