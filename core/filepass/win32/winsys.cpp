#include "winsys.h"

#include <algorithm>
#include <cwchar>

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

// The \\?\ prefix also turns off the system's own rewriting of '/', "." and "..", so that is
// done here first, by GetFullPathNameW.
bool systemPath(const std::string& path, std::wstring& out) {
    std::wstring given;
    if (path.empty() || !wide(path, given)) return false;
    std::replace(given.begin(), given.end(), L'/', L'\\');
    if (given.rfind(LR"(\\?\)", 0) == 0 || given.rfind(LR"(\\.\)", 0) == 0) {
        out = given;
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

}  // namespace vellork::win32
