#pragma once

// What every Windows part of the program needs between its UTF-8 text and the system's UTF-16
// calls: conversions, paths that may be longer than 260 characters, error reasons in words, and
// files opened relative to an open folder, so that a walk never goes back to paths.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

namespace vellork::win32 {

// UTF-16 from UTF-8; false when the text is not valid UTF-8.
bool wide(const std::string& text, std::wstring& out);
std::string utf8(const std::wstring& text);

// The path as the system wants it: UTF-16, absolute, with every '/' turned into a backslash, and
// with the prefix that lifts the 260-character limit ("\\?\"). Device names (NUL, CON) stay
// as they are. False when the path is not valid UTF-8 or cannot be made absolute.
bool systemPath(const std::string& path, std::wstring& out);

// A path as the user would write it, without the \\?\ prefix, for messages.
std::string shown(const std::wstring& path);

// A reason a person can read, for a Windows error code.
std::string reasonOf(DWORD error);

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

// What a folder that a page is replaced in must allow: listing, making the temporary file,
// renaming onto a name in it and flushing it.
inline constexpr ACCESS_MASK kFolderAccess = GENERIC_READ | GENERIC_WRITE | FILE_TRAVERSE;
// What a folder on the way to one must allow.
inline constexpr ACCESS_MASK kPassageAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Opens `name` (one name, or a named stream ":name") relative to the open `folder` (or file)
// with the system's own call, which takes the name as it is stored: no '/' or "..", and a
// trailing dot or space stays part of it. A symbolic link or junction there is opened itself,
// never followed. `create` makes a new file instead. Returns 0 or the Windows error.
DWORD openBelow(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                ULONG options, Handle& out, bool create = false);

// Where the system keeps the file the handle names, as a path that opens it: "\\?\C:\folder\file"
// with every link on its way followed and each name as the folder stores it. Empty when the
// system cannot say.
std::wstring finalPath(HANDLE file);

// Whether `entry`, opened relative to `folder` under `name`, is that very entry and not what a
// link in its place leads to, nor another entry that the system matched to the name.
bool isEntryOf(HANDLE entry, HANDLE folder, const std::wstring& name);

// Which file an open handle holds: its volume and its file ID, where the volume has 128-bit ones.
bool fileIdOf(HANDLE file, FILE_ID_INFO& id);
bool sameFile(const FILE_ID_INFO& a, const FILE_ID_INFO& b);

// Hands each entry of an open folder but "." and ".." to `take`: its name and attributes.
// Returns 0 or the Windows error that ended the listing early.
DWORD listFolder(HANDLE folder, const std::function<void(const std::wstring&, DWORD)>& take);

}  // namespace vellork::win32
