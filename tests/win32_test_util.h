#pragma once

// What the Windows tests share: UTF-8 text in and out of UTF-16, file helpers that take paths of
// any length, and a fresh folder per test.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vellork::testing {

inline std::wstring wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     out.data(), static_cast<int>(out.size())));
    return out;
}

inline std::string narrow(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     out.data(), static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// Every path the tests touch themselves goes through the \\?\ prefix, so long ones work too.
inline std::wstring longPath(const std::string& path) {
    return L"\\\\?\\" + wide(path);
}

inline void writeFile(const std::string& path, const std::string& content) {
    HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    ::CloseHandle(file);
}

inline std::string readFile(const std::string& path) {
    HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        content.append(buffer, got);
    ::CloseHandle(file);
    return content;
}

inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((longPath(folder) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

inline void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName, full = path + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
}

// A fresh folder per test, removed afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        // Wine hands out process ids again soon, and a test that crashed leaves its folder: a
        // name already taken is passed over.
        static int counter = 0;
        std::wstring name;
        bool made = false;
        do {
            name = std::wstring(temp) + L"vellork-test-" +
                   std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
            made = ::CreateDirectoryW(name.c_str(), nullptr);
        } while (!made && ::GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(made);
        folder_ = narrow(name);
    }
    void TearDown() override { removeTree(longPath(folder_)); }

    std::string page(const std::string& name, const std::string& content) {
        const std::string path = folder_ + "\\" + name;
        writeFile(path, content);
        return path;
    }
    std::string folder_;
};

}  // namespace vellork::testing
