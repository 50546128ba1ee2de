#include "winsys.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

namespace vellork::win32 {

bool wide(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          out.data(), n);
    return true;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

namespace {

// Whether an absolute path holds nothing for the system to resolve: no ".", ".." or empty part.
bool plainAbsolute(const std::wstring& path) {
    const bool drive = path.size() > 3 && path[1] == L':' && path[2] == L'\\';
    const bool share = path.rfind(LR"(\\)", 0) == 0;
    if (!drive && !share) return false;
    for (std::size_t start = drive ? 3 : 2; start <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring part = path.substr(start, end - start);
        if (part.empty() || part == L"." || part == L"..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

// The \\?\ prefix also turns off the system's own rewriting of '/', "." and "..", so that is
// done here first, by GetFullPathNameW, unless there is nothing to rewrite: then a name that
// ends in a dot or a space, as a walk finds it, stays as it is.
bool systemPath(const std::string& path, std::wstring& out) {
    std::wstring given;
    if (path.empty() || !wide(path, given)) return false;
    std::replace(given.begin(), given.end(), L'/', L'\\');
    if (given.rfind(LR"(\\?\)", 0) == 0 || given.rfind(LR"(\\.\)", 0) == 0) {
        out = given;
        return true;
    }
    if (plainAbsolute(given)) {
        out = given.rfind(LR"(\\)", 0) == 0 ? LR"(\\?\UNC\)" + given.substr(2) : LR"(\\?\)" + given;
        return true;
    }
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                             full.data(), nullptr);
        if (got == 0) return false;
        const bool fitted = got < full.size();
        full.resize(got);
        if (fitted) break;
    }
    if (full.rfind(LR"(\\.\)", 0) == 0)
        out = full;
    else if (full.rfind(LR"(\\)", 0) == 0)
        out = LR"(\\?\UNC\)" + full.substr(2);
    else
        out = LR"(\\?\)" + full;
    return true;
}

std::string shown(const std::wstring& path) {
    if (path.rfind(LR"(\\?\UNC\)", 0) == 0) return utf8(LR"(\\)" + path.substr(8));
    return utf8(path.rfind(LR"(\\?\)", 0) == 0 ? path.substr(4) : path);
}

std::string reasonOf(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "the disk is full";
        case ERROR_FILE_TOO_LARGE:
            return "the file would exceed the allowed file size";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "another program is using the file";
        case ERROR_WRITE_PROTECT:
            return "the disk is write-protected";
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_IO_DEVICE:
            return "the disk reported an input/output error";
        case ERROR_NOT_READY:
            return "the drive is not ready";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "it does not exist";
        case ERROR_FILENAME_EXCED_RANGE:
            return "the path is too long";
        case ERROR_INVALID_NAME:
            return "the file name is not valid";
        default: {
            wchar_t* text = nullptr;
            const DWORD n =
                ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
            std::wstring message = n ? std::wstring(text, n) : std::wstring();
            if (text) ::LocalFree(text);
            while (!message.empty() && std::wcschr(L"\r\n .", message.back())) message.pop_back();
            const std::string code = "Windows error " + std::to_string(error);
            return message.empty() ? code : utf8(message) + " (" + code + ")";
        }
    }
}

DWORD openBelow(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                ULONG options, Handle& out, bool create) {
    UNICODE_STRING text{};
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    if (name.size() * sizeof(wchar_t) > 0xFFFE) return ERROR_FILENAME_EXCED_RANGE;
    OBJECT_ATTRIBUTES attributes;
    // Without OBJ_CASE_INSENSITIVE: where the system offers it (a case-sensitive folder), the
    // name given is the entry meant; elsewhere the system folds case all the same.
    InitializeObjectAttributes(&attributes, &text, 0, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const NTSTATUS result = ::NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        create ? FILE_CREATE : FILE_OPEN,
        options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (result < 0) return ::RtlNtStatusToDosError(result);
    out = Handle(handle);
    return 0;
}

std::wstring finalPath(HANDLE file) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) break;
        const bool fitted = n < path.size();
        path.resize(n);
        if (fitted) return path;
    }
    // Where the system cannot say it that way (Wine, past 260 characters): the object's own name,
    // "\??\C:\..." or "\Device\HarddiskVolume1\...", either of which opens as a path too.
    std::vector<char> buffer(sizeof(UNICODE_STRING) + 65536);
    ULONG length = 0;
    if (::NtQueryObject(file, ObjectNameInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &length) < 0)
        return {};
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    const std::wstring object(name->Buffer, name->Length / sizeof(wchar_t));
    if (object.rfind(LR"(\??\)", 0) == 0) return LR"(\\?\)" + object.substr(4);
    return object.empty() ? object : LR"(\\?\GLOBALROOT)" + object;
}

// The file's path on its volume, as the file system tells it for the handle: through a link the
// system follows, the path of the file it leads to.
std::wstring pathOnVolume(HANDLE file) {
    std::vector<char> buffer(sizeof(FILE_NAME_INFORMATION) + 65536);
    IO_STATUS_BLOCK status{};
    if (::NtQueryInformationFile(file, &status, buffer.data(), static_cast<ULONG>(buffer.size()),
                                 FileNameInformation) < 0)
        return {};
    const auto* info = reinterpret_cast<const FILE_NAME_INFORMATION*>(buffer.data());
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

bool isEntryOf(HANDLE entry, HANDLE folder, const std::wstring& name) {
    std::wstring expected = pathOnVolume(folder);
    if (expected.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    return pathOnVolume(entry) == expected + name;
}

bool fileIdOf(HANDLE file, FILE_ID_INFO& id) {
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) return true;
    // Before Windows 8, and where the file system has no 128-bit IDs: the 64-bit index.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return false;
    id = {};
    id.VolumeSerialNumber = info.dwVolumeSerialNumber;
    const ULONGLONG index = ULONGLONG{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    std::memcpy(id.FileId.Identifier, &index, sizeof index);
    return true;
}

bool sameFile(const FILE_ID_INFO& a, const FILE_ID_INFO& b) {
    return a.VolumeSerialNumber == b.VolumeSerialNumber &&
           std::memcmp(&a.FileId, &b.FileId, sizeof a.FileId) == 0;
}

DWORD listFolder(HANDLE folder, const std::function<void(const std::wstring&, DWORD)>& take) {
    std::vector<char> buffer(64 * 1024);
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
        if (!::GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                            static_cast<DWORD>(buffer.size()))) {
            const DWORD error = ::GetLastError();
            return error == ERROR_NO_MORE_FILES ? 0 : error;
        }
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") take(name, entry->FileAttributes);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

}  // namespace vellork::win32
