// The identity of a file on Windows: its volume and file index.

#include "filepass.h"
#include "winsys.h"

namespace vellork {

std::optional<FileIdentity> identityOfFile(const std::string& path) {
    std::wstring system;
    if (path.empty() || !win32::systemPath(path, system)) return std::nullopt;
    // Asking for attributes only is never refused for sharing, so a pass in progress on the
    // file does not hide it.
    const HANDLE file = ::CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity(info.dwVolumeSerialNumber,
                        std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow);
}

}  // namespace vellork
