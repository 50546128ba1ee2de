// One page's pass on Windows, once the page is reached (reach_win32.cpp): refuse what must not be
// touched, sweep what a killed pass left, make the temporary file beside the page, squeeze into
// it, carry the metadata over and flush it; then check that the page did not change, rename the
// new page over it relative to the folder's handle, and flush the folder. The fault seam's codes
// are Windows error codes here (ERROR_DISK_FULL, ...), so each step fails as the system would.

#include "chunkbuffers.h"
#include "digest.h"
#include "filepass.h"
#include "foldersyncs.h"
#include "pagecheck.h"
#include "pass_win32.h"
#include "squeezer.h"
#include "winsys.h"

#include <sddl.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace vellork::win32 {

namespace {

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

// What tells whether a file changed: which file it is, its length, its last write and its change
// time. The change time moves with every write, truncation and change of attributes, and
// setting the last write time back moves it too.
struct FileState {
    FILE_ID_INFO id{};
    std::int64_t size = 0;
    DWORD attributes = 0, links = 0;
    FILE_BASIC_INFO times{};
};

bool stateOf(HANDLE file, FileState& state) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) || !fileIdOf(file, state.id) ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &state.times, sizeof state.times))
        return false;
    state.size = static_cast<std::int64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    state.attributes = info.dwFileAttributes;
    state.links = info.nNumberOfLinks;
    return true;
}

bool unchanged(const FileState& now, const FileState& then) {
    return sameFile(now.id, then.id) && now.size == then.size &&
           now.times.LastWriteTime.QuadPart == then.times.LastWriteTime.QuadPart &&
           now.times.ChangeTime.QuadPart == then.times.ChangeTime.QuadPart;
}

// Whether the page's times show every change made after they were read. They do on NTFS and
// ReFS, which keep a change time to a tenth of a microsecond, unless the page changed so recently
// that another change within the same tick of the clock would leave its times as they are.
// Elsewhere (FAT keeps two seconds and no change time, exFAT ten milliseconds) the content is
// read again and compared.
bool timesShowEveryChange(const wchar_t* fileSystem, const FileState& then) {
    if (std::wcscmp(fileSystem, L"NTFS") != 0 && std::wcscmp(fileSystem, L"ReFS") != 0)
        return false;
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    constexpr std::int64_t kTicksApart = 1'000'000;  // 100 ms, in the 100 ns of file times
    const std::int64_t age = (std::int64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) -
                             then.times.ChangeTime.QuadPart;
    return then.times.ChangeTime.QuadPart != 0 && age > kTicksApart;
}

// What the pass holds of the page between its steps.
struct Page {
    Page(const Reached& reached, Handle file) : at(reached), source(std::move(file)) {}
    const Reached& at;
    Handle source;
    FileState before;
    std::vector<char> security;  // owner, group and DACL, as the system hands them out
    std::wstring securityText;   // the same in the system's text form, to compare with
    bool posixRename = false;    // the volume can rename over a file this pass holds open
    bool readAgain = false;      // its times cannot show every change: its bytes are compared
};

// The new page while it is made: the system deletes it with its last handle, which a kill closes
// too, until it is kept for the rename; from then on it is deleted here on every failure.
struct Temp {
    Handle file;
    bool kept = false;
    ~Temp();
};

struct Squeezed {
    std::int64_t written = 0;
    std::uint64_t digest = 0;
};

bool setDeleteOnClose(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

Temp::~Temp() {
    if (kept && file) setDeleteOnClose(file.get(), true);
}

constexpr SECURITY_INFORMATION kCarriedSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The owner, group and permissions (DACL) of an open file, whole, and in the system's text form,
// in which two files show the same text when they have the same.
bool securityOf(HANDLE file, std::vector<char>& descriptor, std::wstring& text) {
    descriptor.resize(512);
    DWORD need = 0;
    while (!::GetKernelObjectSecurity(file, kCarriedSecurity, descriptor.data(),
                                      static_cast<DWORD>(descriptor.size()), &need)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        descriptor.resize(need);
    }
    wchar_t* converted = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.data(), SDDL_REVISION_1, kCarriedSecurity, &converted, nullptr))
        return false;
    text = converted;
    ::LocalFree(converted);
    return true;
}

// Step 1, after the page is reached: what must be known of it before anything else.
std::string examine(Page& page) {
    if (!stateOf(page.source.get(), page.before))
        return failure("the file cannot be examined", ::GetLastError());
    if (!securityOf(page.source.get(), page.security, page.securityText))
        return failure("its owner and permissions cannot be read", ::GetLastError());
    constexpr DWORD kPosixRename = 0x400;  // FILE_SUPPORTS_POSIX_UNLINK_RENAME
    wchar_t fileSystem[MAX_PATH + 1] = L"";
    DWORD flags = 0;
    ::GetVolumeInformationByHandleW(page.source.get(), nullptr, 0, nullptr, nullptr, &flags,
                                    fileSystem, MAX_PATH + 1);
    page.posixRename = flags & kPosixRename;
    page.readAgain = !timesShowEveryChange(fileSystem, page.before);
    return {};
}

// Extended attributes (EAs, such as the Linux subsystem's owner and mode) are part of a file
// that a new file does not get.
bool hasExtendedAttributes(HANDLE file) {
    FILE_EA_INFORMATION ea{};
    IO_STATUS_BLOCK status{};
    return ::NtQueryInformationFile(file, &status, &ea, sizeof ea, FileEaInformation) >= 0 &&
           ea.EaSize != 0;
}

// Step 2: refuse what must not be touched, before anything is written.
std::string refusalOf(const Page& page, const PassOptions& options) {
    const DWORD attributes = page.before.attributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder, not a file";
    if (options.pageNamesOnly && !isPageName(utf8(page.at.name))) return kNotAPageName;
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "it is a reparse point (kept by a cloud, deduplication or other service), which "
               "a new page would not be";
    if (hasExtendedAttributes(page.source.get()))
        return "it has extended attributes (EAs), which a new page would not keep";
    return {};
}

// The random part of a temporary file's name: this many of [0-9a-z].
constexpr std::size_t kTempSuffixLength = 10;

std::wstring tempName() {
    thread_local std::mt19937_64 generator{std::random_device{}() ^ ::GetCurrentProcessId() ^
                                           ::GetTickCount64()};
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::wstring name;
    for (const char* p = kTempPrefix; *p; ++p) name += static_cast<wchar_t>(*p);
    for (std::size_t i = 0; i < kTempSuffixLength; ++i) name += digits[generator() % 36];
    for (const char* p = kTempSuffix; *p; ++p) name += static_cast<wchar_t>(*p);
    return name;
}

// Exactly the names the pass gives its temporary files.
bool isTempName(const std::wstring& name) {
    const std::wstring sample = tempName();
    if (name.size() != sample.size()) return false;
    const std::size_t prefix = std::strlen(kTempPrefix), end = prefix + kTempSuffixLength;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (i < prefix || i >= end ? c != sample[i]
                                   : !((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z')))
            return false;
    }
    return true;
}

// Whether a file's owner is this program's user, or the owner the system gives the files this
// program makes (the administrators' group, when it runs elevated).
bool ownedByThisProgram(HANDLE file) {
    static const std::vector<std::vector<char>> owners = [] {
        std::vector<std::vector<char>> found;
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return found;
        for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
            std::vector<char> info(256);
            DWORD need = 0;
            if (!::GetTokenInformation(token, kind, info.data(), 256, &need)) continue;
            // TOKEN_USER and TOKEN_OWNER both begin with a pointer to the SID.
            const PSID sid = *reinterpret_cast<PSID*>(info.data());
            const char* bytes = static_cast<const char*>(sid);
            found.emplace_back(bytes, bytes + ::GetLengthSid(sid));
        }
        ::CloseHandle(token);
        return found;
    }();
    std::vector<char> descriptor;
    std::wstring text;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!securityOf(file, descriptor, text) ||
        !::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !owner)
        return false;
    for (const std::vector<char>& sid : owners)
        if (::EqualSid(owner, const_cast<char*>(sid.data()))) return true;
    return false;
}

// Whether `leftover`, opened under the temporary name `name` in the page's folder, is one that a
// killed pass left: that very entry, a single name, not the page in hand, held open by no one (a
// running pass shares its temporary file with no one), and owned as this program's files are.
bool provenLeftover(HANDLE leftover, const std::wstring& name, const Page& page) {
    FileState held;
    return stateOf(leftover, held) && held.links == 1 &&
           !(held.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           !sameFile(held.id, page.before.id) && isEntryOf(leftover, page.at.folder, name) &&
           ownedByThisProgram(leftover);
}

// Step 3: remove the temporary files that a pass killed between keeping its new page and the
// rename left in the page's folder, and only those. Each folder is looked at once per process.
void removeLeftovers(const Page& page, std::vector<std::string>& removed) {
    FILE_ID_INFO folder{};
    if (!fileIdOf(page.at.folder, folder)) return;
    static std::mutex mutex;
    static std::set<std::tuple<ULONGLONG, std::string>> swept;
    {
        const std::string id(reinterpret_cast<const char*>(&folder.FileId), sizeof folder.FileId);
        std::lock_guard lock(mutex);
        if (!swept.emplace(folder.VolumeSerialNumber, id).second) return;
    }
    std::vector<std::wstring> names;
    listFolder(page.at.folder, [&](const std::wstring& name, DWORD) {
        if (isTempName(name)) names.push_back(name);
    });
    for (const std::wstring& name : names) {
        Handle leftover;
        if (openBelow(page.at.folder, name, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, 0,
                      FILE_NON_DIRECTORY_FILE, leftover) == 0 &&
            provenLeftover(leftover.get(), name, page) && setDeleteOnClose(leftover.get(), true))
            removed.push_back(utf8(name));
    }
}

// Step 4: the temporary file, new, beside the page. It is made deleted with its handle before
// anything is written to it, and its compression is set while it is empty, like the page's.
std::string makeTemp(const Page& page, Temp& temp, const PassOptions& options) {
    constexpr ACCESS_MASK kAccess =
        GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = tempName();
        DWORD error = injected(options, FaultPoint::CreateTemp);
        // The right to give it the page's owner is asked for too, where the folder grants it.
        if (!error)
            error = openBelow(page.at.folder, name, kAccess | WRITE_OWNER, 0,
                              FILE_NON_DIRECTORY_FILE, temp.file, true);
        if (error == ERROR_ACCESS_DENIED)
            error = openBelow(page.at.folder, name, kAccess, 0, FILE_NON_DIRECTORY_FILE, temp.file,
                              true);
        // Should this fail, the empty file stays: the next pass proves it a leftover.
        if (!error && !setDeleteOnClose(temp.file.get(), true)) error = ::GetLastError();
        if (!error) {
            FileState made;
            USHORT compression = page.before.attributes & FILE_ATTRIBUTE_COMPRESSED
                                     ? COMPRESSION_FORMAT_DEFAULT
                                     : COMPRESSION_FORMAT_NONE;
            DWORD returned = 0;
            if (stateOf(temp.file.get(), made) &&
                ((made.attributes ^ page.before.attributes) & FILE_ATTRIBUTE_COMPRESSED))
                ::DeviceIoControl(temp.file.get(), FSCTL_SET_COMPRESSION, &compression,
                                  sizeof compression, nullptr, 0, &returned, nullptr);
            return {};
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return failure("could not create a temporary file in the folder", error);
    }
    return "could not find a free temporary file name";
}

std::size_t chunkFor(const PassOptions& options, std::int64_t size) {
    // A file that reports no length is read to its end in modest steps.
    const std::size_t chunk = std::clamp<std::size_t>(options.chunkSize, 1, std::size_t{1} << 30);
    return std::min<std::uint64_t>(chunk, size > 0 ? static_cast<std::uint64_t>(size) : 65536);
}

// Step 5: read the page to its measured size, refuse it as soon as it shows not to be a text
// page, and write its squeezed form to `to` (nowhere in a check run).
std::string squeezeIntoTemp(const Page& page, HANDLE to, Squeezed& squeezed,
                            const PassOptions& options) {
    const std::int64_t size = page.before.size;
    const std::size_t chunk = chunkFor(options, size);
    // Not the thread's own buffers (ChunkBuffers::forChunk): with MinGW's threads, a thread that
    // ends with such buffers crashes as it frees them.
    ChunkBuffers buffers(chunk);
    Squeezer squeezer;
    Digest digest;
    char head[4];
    std::size_t headLength = 0;
    for (std::int64_t read = 0;;) {
        DWORD got = 0;
        if (!systemCall(options, FaultPoint::Read, [&] {
                return ::ReadFile(page.source.get(), buffers.in(), static_cast<DWORD>(chunk), &got,
                                  nullptr);
            }))
            return failure("could not read the file", ::GetLastError());
        if (options.inspect) options.inspect(buffers.in(), got);
        read += got;
        const bool atEnd = got == 0 || (size > 0 && read >= size);
        if (holdsNul(buffers.in(), got)) return kNotATextPage;
        const std::size_t toHead = std::min<std::size_t>(sizeof head - headLength, got);
        std::memcpy(head + headLength, buffers.in(), toHead);
        headLength += toHead;
        if ((headLength == sizeof head || atEnd) && startsWithWideMark(head, headLength))
            return kNotATextPage;
        if (page.readAgain) digest.update(buffers.in(), got);

        std::size_t produced = squeezer.feed(buffers.in(), got, buffers.out());
        if (atEnd) produced += squeezer.finish(buffers.out() + produced);
        for (std::size_t done = 0; to && done < produced;) {
            DWORD put = 0;
            if (!systemCall(options, FaultPoint::Write, [&] {
                    return ::WriteFile(to, buffers.out() + done,
                                       static_cast<DWORD>(produced - done), &put, nullptr);
                }))
                return failure("could not write the compressed page", ::GetLastError());
            if (put == 0) return failure("could not write the compressed page", ERROR_DISK_FULL);
            done += put;
        }
        squeezed.written += static_cast<std::int64_t>(produced);
        if (options.tick) options.tick();
        if (atEnd) {
            squeezed.digest = digest.value();
            return read == size ? std::string() : kChangedDuringPass;
        }
    }
}

// Named streams (the mark a download is given, a program's notes) belong to the page, and a new
// file has none of its own: each is copied over. Where the file system keeps none, there are none.
std::string carryStreams(const Page& page, HANDLE temp, const PassOptions& options) {
    std::vector<char> info(64 * 1024);
    if (!::GetFileInformationByHandleEx(page.source.get(), FileStreamInfo, info.data(),
                                        static_cast<DWORD>(info.size())))
        return {};
    for (std::size_t at = 0;;) {
        const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(info.data() + at);
        const std::wstring name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
        Handle from, to;
        DWORD error = 0;
        if (name != L"::$DATA") {
            error = openBelow(page.source.get(), name, GENERIC_READ, FILE_SHARE_READ, 0, from);
            if (!error) error = injected(options, FaultPoint::CopyMetadata);
            if (!error) error = openBelow(temp, name, GENERIC_WRITE, 0, 0, to, true);
        }
        std::vector<char> buffer(to ? 64 * 1024 : 0);
        for (DWORD got = 1, put = 0; !error && to && got;) {
            if (!::ReadFile(from.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                            nullptr) ||
                !::WriteFile(to.get(), buffer.data(), got, &put, nullptr))
                error = ::GetLastError();
            else if (put != got)
                error = ERROR_DISK_FULL;
        }
        if (error) return failure("its named stream " + utf8(name) + " cannot be kept", error);
        if (stream->NextEntryOffset == 0) return {};
        at += stream->NextEntryOffset;
    }
}

// The owner, group and permissions, exactly, or a refusal. Only what differs is set: a new file
// usually inherits the same permissions from the folder, and an owner may be set only by one
// allowed to.
std::string carrySecurity(const Page& page, HANDLE temp, const PassOptions& options) {
    std::vector<char> have;
    std::wstring text;
    if (!securityOf(temp, have, text))
        return failure("the new page's owner and permissions cannot be read", ::GetLastError());
    if (text == page.securityText) return {};
    const PSECURITY_DESCRIPTOR want = const_cast<char*>(page.security.data());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PSID wantSid = nullptr, haveSid = nullptr;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorControl(want, &control, &revision);
    SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (::GetSecurityDescriptorOwner(want, &wantSid, &defaulted) &&
        ::GetSecurityDescriptorOwner(have.data(), &haveSid, &defaulted) && wantSid && haveSid &&
        !::EqualSid(wantSid, haveSid))
        what |= OWNER_SECURITY_INFORMATION;
    if (::GetSecurityDescriptorGroup(want, &wantSid, &defaulted) &&
        ::GetSecurityDescriptorGroup(have.data(), &haveSid, &defaulted) && wantSid && haveSid &&
        !::EqualSid(wantSid, haveSid))
        what |= GROUP_SECURITY_INFORMATION;
    if (!systemCall(options, FaultPoint::CopyMetadata,
                    [&] { return ::SetKernelObjectSecurity(temp, what, want); }))
        return failure("its owner and permissions cannot be given to a new page", ::GetLastError());
    if (!securityOf(temp, have, text) || text != page.securityText)
        return "its owner and permissions (security descriptor) cannot be kept exactly by a new "
               "page";
    return {};
}

// Last of the metadata, since writing and setting the rest may touch them: the attributes a file
// can be given, and the creation time. Compression and encryption come with the folder or were
// set on the empty file; whatever does not match is refused.
std::string carryAttributes(const Page& page, HANDLE temp, const PassOptions& options) {
    constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    constexpr DWORD kKept = kSettable | FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED;
    FILE_BASIC_INFO basic{};
    basic.CreationTime = page.before.times.CreationTime;
    basic.FileAttributes = page.before.attributes & kSettable;
    if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!systemCall(options, FaultPoint::CopyMetadata, [&] {
            return ::SetFileInformationByHandle(temp, FileBasicInfo, &basic, sizeof basic);
        }))
        return failure("could not give the new file the original's attributes", ::GetLastError());
    FileState now;
    if (!stateOf(temp, now)) return failure("the new page cannot be examined", ::GetLastError());
    if ((now.attributes ^ page.before.attributes) & kKept)
        return "its attributes (compressed, encrypted, hidden, ...) cannot be kept by a new page";
    return {};
}

// Step 6: the page's metadata carried over, then the new page flushed to disk, all of it.
std::string carryOverAndFlush(const Page& page, const Temp& temp, const Squeezed& squeezed,
                              const PassOptions& options) {
    const HANDLE file = temp.file.get();
    std::string refusal = carryStreams(page, file, options);
    if (refusal.empty()) refusal = carrySecurity(page, file, options);
    if (refusal.empty()) refusal = carryAttributes(page, file, options);
    if (!refusal.empty()) return refusal;
    if (!systemCall(options, FaultPoint::Sync, [&] { return ::FlushFileBuffers(file); }))
        return failure("could not save the compressed page to disk", ::GetLastError());
    LARGE_INTEGER onDisk{};
    if (!::GetFileSizeEx(file, &onDisk) || onDisk.QuadPart != squeezed.written)
        return "the compressed page on disk is not as long as what was written";
    return {};
}

// Step 7: keep the new page past its handle, for the rename. A kill between here and the rename
// leaves it beside the page, whole, for the next pass to remove (removeLeftovers).
std::string keepTemp(Temp& temp, const PassOptions& options) {
    if (!systemCall(options, FaultPoint::NameTemp,
                    [&] { return setDeleteOnClose(temp.file.get(), false); }))
        return failure("could not keep the temporary file", ::GetLastError());
    temp.kept = true;
    return {};
}

// The digest of a whole file, read again from its start.
bool digestOf(HANDLE file, const PassOptions& options, std::uint64_t& value) {
    constexpr std::size_t chunk = 64 * 1024;
    std::vector<char> buffer(chunk);
    char* const in = buffer.data();
    Digest digest;
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) return false;
    for (DWORD got = 1; got;) {
        if (!::ReadFile(file, in, static_cast<DWORD>(chunk), &got, nullptr)) return false;
        digest.update(in, got);
        if (options.tick) options.tick();
    }
    value = digest.value();
    return true;
}

// Step 8: the last look before the rename: the page's name still holds the file read, unchanged
// in length, last write and change time, and, where times cannot show every change, byte for
// byte. A page already let go (for a plain rename) is opened again for this, held off writers
// while it is read, and let go again just before the rename.
std::string checkUnchanged(const Page& page, const Squeezed& squeezed, const PassOptions& options) {
    constexpr ULONG kAnyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Handle named;
    if (openBelow(page.at.folder, page.at.name, page.source ? FILE_READ_ATTRIBUTES : GENERIC_READ,
                  page.source ? kAnyone : FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE, named) != 0)
        return kChangedDuringPass;
    FileState atName, now;
    const HANDLE held = page.source ? page.source.get() : named.get();
    if (!stateOf(named.get(), atName) || !stateOf(held, now) ||
        !sameFile(atName.id, page.before.id) || !unchanged(now, page.before))
        return kChangedDuringPass;
    std::uint64_t again = 0;
    if (page.readAgain && (!digestOf(held, options, again) || again != squeezed.digest))
        return kChangedDuringPass;
    return {};
}

// One rename of the open file onto `name` in the open `folder`, replacing what is there. The
// system's own call, since SetFileInformationByHandle makes a bare name a path from the current
// folder before it renames.
DWORD renameOnto(HANDLE file, HANDLE folder, const std::wstring& name, bool posix) {
    constexpr auto kFileRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
    constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
    std::vector<char> buffer(offsetof(FILE_RENAME_INFO, FileName) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->Flags = posix ? kReplaceIfExists | kPosixSemantics : 0;
    if (!posix) rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.data(), rename->FileNameLength);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        ::NtSetInformationFile(file, &status, rename, static_cast<ULONG>(buffer.size()),
                               posix ? kFileRenameInformationEx : FileRenameInformation);
    return result < 0 ? ::RtlNtStatusToDosError(result) : 0;
}

// Step 9: one rename, relative to the folder's handle, puts the new page under the page's name:
// at every instant the name holds either the original or the new page, whole. Where the volume
// can (NTFS, Windows 10 and later), with POSIX semantics, which replace the page while this pass
// still holds it; elsewhere as MoveFileExW renames, once the page is let go.
std::string replace(const Page& page, Temp& temp, const PassOptions& options) {
    if (!systemCall(options, FaultPoint::Replace, [&] {
            const DWORD error =
                renameOnto(temp.file.get(), page.at.folder, page.at.name, page.posixRename);
            ::SetLastError(error);
            return error == 0;
        }))
        return failure("could not replace the original with the compressed page", ::GetLastError());
    temp.kept = false;  // it is the page now
    return {};
}

// Step 10: the new name must reach the disk as well; where the file system cannot flush a folder
// (FAT, network shares), its own journal or write-through is all there is. Pages renamed in one
// folder at the same time share one flush of it.
std::string flushFolder(const Page& page, const PassOptions& options) {
    const FolderSyncs::Sync flush = [&]() -> int {
        if (systemCall(options, FaultPoint::SyncFolder, [&] {
                if (::FlushFileBuffers(page.at.folder)) return true;
                const DWORD error = ::GetLastError();
                return error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED ||
                       error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED;
            }))
            return 0;
        return static_cast<int>(::GetLastError());
    };
    BY_HANDLE_FILE_INFORMATION folder{};
    const int error = options.folderSyncs && ::GetFileInformationByHandle(page.at.folder, &folder)
                          ? options.folderSyncs->synced(
                                {folder.dwVolumeSerialNumber,
                                 std::uint64_t{folder.nFileIndexHigh} << 32 | folder.nFileIndexLow},
                                flush)
                          : flush();
    if (error)
        return failure("the page was replaced, but the folder could not be saved to disk",
                       static_cast<DWORD>(error));
    return {};
}

// Everything up to the new page's data on disk, which touches nothing but the new file.
std::string prepare(const Page& page, Temp& temp, Squeezed& squeezed, const PassOptions& options) {
    std::string error = makeTemp(page, temp, options);
    if (error.empty()) error = squeezeIntoTemp(page, temp.file.get(), squeezed, options);
    if (error.empty()) error = carryOverAndFlush(page, temp, squeezed, options);
    return error;
}

// The check, the rename and the folder's flush: what puts the new page in the original's place.
// A plain rename cannot replace a file that is open, even to this pass: there the page is let go
// first, and looked at again under its name just before the rename.
std::string commit(Page& page, Temp& temp, const Squeezed& squeezed, const PassOptions& options) {
    if (!page.posixRename) page.source.reset();
    std::string error = keepTemp(temp, options);
    if (error.empty()) error = checkUnchanged(page, squeezed, options);
    if (error.empty()) error = replace(page, temp, options);
    if (error.empty()) error = flushFolder(page, options);
    return error;
}

}  // namespace

PassResult passOver(Reached& reached, const PassOptions& options) {
    PassResult result;
    Page page(reached, std::move(reached.file));
    result.error = examine(page);
    if (result.error.empty()) {
        result.sizeBefore = page.before.size;
        result.error = refusalOf(page, options);
    }
    if (!result.error.empty()) return result;
    Squeezed squeezed;
    if (options.dryRun) {
        result.error = squeezeIntoTemp(page, nullptr, squeezed, options);
    } else {
        removeLeftovers(page, result.removed);
        Temp temp;
        result.error = prepare(page, temp, squeezed, options);
        if (result.error.empty()) result.error = commit(page, temp, squeezed, options);
    }
    if (!result.error.empty()) return result;
    result.sizeAfter = squeezed.written;
    result.ok = true;
    // The new file stands under this name only; the other names keep the file they name.
    if (page.before.links > 1 && !options.dryRun)
        result.note = "the file had " + std::to_string(page.before.links - 1) +
                      " other name(s) (hard links), which keep the original content";
    return result;
}

}  // namespace vellork::win32
