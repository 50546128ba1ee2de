// One file's pass on Windows: the squeezed page is streamed into a new file beside the original,
// flushed to disk, and swapped in with ReplaceFileW, which carries the original's attributes,
// security descriptor and named streams over to it. The fault seam's codes are Windows error
// codes here (ERROR_DISK_FULL, ...), so each step fails as the system itself would.

#include "chunkbuffers.h"
#include "filepass.h"
#include "pagecheck.h"
#include "squeezer.h"
#include "winsys.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>

namespace vellork {

namespace {

using win32::reasonOf;
using win32::shown;
using win32::systemPath;
using win32::utf8;

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    ~Handle() { reset(); }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset() {
        if (*this) ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

std::string failure(const std::string& what, DWORD error) {
    return what + ": " + reasonOf(error);
}

// The test seam: 0, or the Windows error a test wants this step to fail with.
DWORD injected(const PassOptions& options, FaultPoint point) {
    return options.fault ? static_cast<DWORD>(options.fault(point)) : 0;
}

// Runs a system call unless the test seam fails it first; the last error tells why it failed.
template <typename Call>
bool systemCall(const PassOptions& options, FaultPoint point, Call call) {
    if (const DWORD error = injected(options, point)) {
        ::SetLastError(error);
        return false;
    }
    return call();
}

std::wstring folderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring randomName(const std::wstring& folder, const char* ending) {
    thread_local std::mt19937_64 generator{std::random_device{}() ^ ::GetCurrentProcessId() ^
                                           ::GetTickCount64()};
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::wstring name = folder + L"\\";
    for (const char* p = kTempPrefix; *p; ++p) name += static_cast<wchar_t>(*p);
    for (int i = 0; i < 10; ++i) name += digits[generator() % 36];
    for (const char* p = ending; *p; ++p) name += static_cast<wchar_t>(*p);
    return name;
}

std::int64_t sizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<std::int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

// The same file, with the same length and the same last write, as when the pass began.
bool unchanged(const BY_HANDLE_FILE_INFORMATION& now, const BY_HANDLE_FILE_INFORMATION& then) {
    return now.dwVolumeSerialNumber == then.dwVolumeSerialNumber &&
           now.nFileIndexHigh == then.nFileIndexHigh && now.nFileIndexLow == then.nFileIndexLow &&
           sizeOf(now) == sizeOf(then) &&
           ::CompareFileTime(&now.ftLastWriteTime, &then.ftLastWriteTime) == 0;
}

// Reads the original to its measured size, refuses what is not a text page, and writes the
// squeezed form to `to`. Returns an error text, empty on success.
std::string squeezeInto(HANDLE from, std::int64_t size, HANDLE to, const PassOptions& options,
                        std::int64_t& written) {
    // A file that reports no length is read to its end in modest steps.
    std::size_t chunk = std::clamp<std::size_t>(options.chunkSize, 1, std::size_t{1} << 30);
    chunk = std::min<std::uint64_t>(chunk, size > 0 ? static_cast<std::uint64_t>(size) : 65536);
    ChunkBuffers buffers(chunk);
    Squeezer squeezer;
    char head[4];
    std::size_t headLength = 0;
    std::int64_t read = 0;
    for (;;) {
        DWORD got = 0;
        if (!systemCall(options, FaultPoint::Read, [&] {
                return ::ReadFile(from, buffers.in(), static_cast<DWORD>(chunk), &got, nullptr);
            }))
            return failure("could not read the file", ::GetLastError());
        read += got;
        const bool atEnd = got == 0 || (size > 0 && read >= size);
        if (holdsNul(buffers.in(), got)) return kNotATextPage;
        const std::size_t toHead = std::min<std::size_t>(sizeof head - headLength, got);
        std::memcpy(head + headLength, buffers.in(), toHead);
        headLength += toHead;
        if ((headLength == sizeof head || atEnd) && startsWithWideMark(head, headLength))
            return kNotATextPage;

        std::size_t produced = squeezer.feed(buffers.in(), got, buffers.out());
        if (atEnd) produced += squeezer.finish(buffers.out() + produced);
        for (std::size_t done = 0; done < produced;) {
            DWORD put = 0;
            if (!systemCall(options, FaultPoint::Write, [&] {
                    return ::WriteFile(to, buffers.out() + done,
                                       static_cast<DWORD>(produced - done), &put, nullptr);
                }))
                return failure("could not write the compressed page", ::GetLastError());
            if (put == 0) return failure("could not write the compressed page", ERROR_DISK_FULL);
            done += put;
        }
        written += static_cast<std::int64_t>(produced);
        if (options.tick) options.tick();
        if (atEnd) return read == size ? std::string() : kChangedDuringPass;
    }
}

// Makes the file unable to outlive its handle: if the program dies while writing it, the system
// deletes it as it closes the handle, so no half-written page is ever left under a name.
bool setDeleteOnClose(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

// The attributes the new file must carry, as far as they can be set on an open file.
DWORD copiedAttributes(DWORD attributes) {
    const DWORD kept = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                     FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

bool exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Where the system keeps the file the path names: a symbolic link is followed, so that the link
// keeps pointing where it did and its target gets the new content.
std::wstring finalPath(HANDLE file, const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    std::wstring final(MAX_PATH, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), 0);
    if (n >= final.size()) {
        final.resize(n);
        n = ::GetFinalPathNameByHandleW(file, final.data(), n, 0);
    }
    if (n == 0 || n >= final.size()) return path;
    final.resize(n);
    return final;
}

}  // namespace

PassResult compressFile(const std::string& utf8Path, const PassOptions& options) {
    PassResult result;
    if (utf8Path.empty()) {
        result.error = "no file name";
        return result;
    }
    std::wstring path;
    if (!systemPath(utf8Path, path)) {
        result.error = "the file name is not valid UTF-8, or not a valid path";
        return result;
    }

    // Read access shared with readers only: no other program can write, rename or delete the
    // page while it is read and its new form written.
    Handle original(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!original) {
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            result.error = "it is a folder, not a file";
        else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            result.error = "the file does not exist";
        else
            result.error = failure("the file cannot be opened", error);
        return result;
    }
    if (::GetFileType(original.get()) != FILE_TYPE_DISK) {
        result.error = "it is not a regular file (a device or a pipe)";
        return result;
    }
    BY_HANDLE_FILE_INFORMATION before{};
    if (!::GetFileInformationByHandle(original.get(), &before)) {
        result.error = failure("the file cannot be examined", ::GetLastError());
        return result;
    }
    if (before.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        result.error = "it is a folder, not a file";
        return result;
    }
    result.sizeBefore = sizeOf(before);
    if (before.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        result.error = "the file is read-only";
        return result;
    }
    const std::wstring target = finalPath(original.get(), path);
    const std::wstring folder = folderOf(target);

    Handle temp;
    std::wstring tempName;
    for (int attempt = 0; attempt < 100 && !temp; ++attempt) {
        tempName = randomName(folder, kTempSuffix);
        if (systemCall(options, FaultPoint::CreateTemp, [&] {
                temp =
                    Handle(::CreateFileW(tempName.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (temp && !setDeleteOnClose(temp.get(), true)) {
                    const DWORD error = ::GetLastError();
                    temp.reset();
                    ::DeleteFileW(tempName.c_str());
                    ::SetLastError(error);
                }
                return static_cast<bool>(temp);
            }))
            break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            result.error = failure("could not create a temporary file in the folder", error);
            return result;
        }
    }
    if (!temp) {
        result.error = "could not find a free temporary file name";
        return result;
    }
    // Once the temporary file may outlive its handle, it is removed here on every failure.
    bool tempNamed = false;
    struct RemoveOnFailure {
        const std::wstring& name;
        const bool& named;
        ~RemoveOnFailure() {
            if (named) ::DeleteFileW(name.c_str());
        }
    } cleanup{tempName, tempNamed};
    auto fail = [&](std::string why) {
        result.error = std::move(why);
        return result;
    };

    std::int64_t written = 0;
    if (std::string error =
            squeezeInto(original.get(), sizeOf(before), temp.get(), options, written);
        !error.empty())
        return fail(error);

    FILE_BASIC_INFO basic{};
    basic.CreationTime.LowPart = before.ftCreationTime.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(before.ftCreationTime.dwHighDateTime);
    basic.FileAttributes = copiedAttributes(before.dwFileAttributes);
    if (!systemCall(options, FaultPoint::CopyMetadata, [&] {
            return ::SetFileInformationByHandle(temp.get(), FileBasicInfo, &basic, sizeof basic);
        }))
        return fail(
            failure("could not give the new file the original's attributes", ::GetLastError()));
    if (!systemCall(options, FaultPoint::Sync, [&] { return ::FlushFileBuffers(temp.get()); }))
        return fail(failure("could not save the compressed page to disk", ::GetLastError()));
    LARGE_INTEGER onDisk{};
    if (!::GetFileSizeEx(temp.get(), &onDisk) || onDisk.QuadPart != written)
        return fail("the compressed page on disk is not as long as what was written");

    // ReplaceFileW opens both files itself, and shares neither.
    original.reset();
    if (!systemCall(options, FaultPoint::NameTemp,
                    [&] { return setDeleteOnClose(temp.get(), false); }))
        return fail(failure("could not keep the temporary file", ::GetLastError()));
    tempNamed = true;
    temp.reset();

    Handle check(::CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION now{};
    if (!check || !::GetFileInformationByHandle(check.get(), &now) || !unchanged(now, before))
        return fail(kChangedDuringPass);
    check.reset();

    // The original stays whole under a backup name until the new page stands in its place, so a
    // replace that fails halfway can put it back.
    const std::wstring backup = randomName(folder, ".old");
    if (!systemCall(options, FaultPoint::Replace, [&] {
            return ::ReplaceFileW(target.c_str(), tempName.c_str(), backup.c_str(), 0, nullptr,
                                  nullptr);
        })) {
        const DWORD error = ::GetLastError();
        std::string why = failure("could not replace the original with the compressed page", error);
        // Whatever stands under the page's name now, neither copy is ever thrown away unless
        // the original is back in its place.
        if (!exists(target) && !(exists(backup) && ::MoveFileExW(backup.c_str(), target.c_str(),
                                                                 MOVEFILE_WRITE_THROUGH))) {
            tempNamed = false;
            if (exists(backup)) why += "; the original is kept as " + shown(backup);
            why += "; the compressed page is kept as " + shown(tempName);
        }
        return fail(why);
    }
    tempNamed = false;  // it is the page now
    if (!::DeleteFileW(backup.c_str()))
        result.note = "the old content was left beside the page as " + shown(backup);

    // The new name must reach the disk as well; where the file system cannot flush a folder
    // (FAT, network shares), its own journal or write-through is all there is.
    Handle folderHandle(::CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!systemCall(options, FaultPoint::SyncFolder, [&] {
            if (!folderHandle || ::FlushFileBuffers(folderHandle.get())) return true;
            const DWORD error = ::GetLastError();
            return error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED ||
                   error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED;
        }))
        return fail(failure("the page was replaced, but the folder could not be saved to disk",
                            ::GetLastError()));
    result.sizeAfter = written;
    result.ok = true;
    // The new file stands under this name only; the other names keep the file they name.
    if (before.nNumberOfLinks > 1)
        result.note = "the file had " + std::to_string(before.nNumberOfLinks - 1) +
                      " other name(s) (hard links), which keep the original content";
    return result;
}

}  // namespace vellork
