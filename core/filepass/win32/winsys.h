#pragma once

// What every Windows part of the program needs between its UTF-8 text and the system's UTF-16
// calls: conversions, paths that may be longer than 260 characters, and error reasons in words.

#include <windows.h>

#include <string>

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

}  // namespace vellork::win32
