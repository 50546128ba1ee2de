#pragma once

// What the Windows tests share: UTF-8 text in and out of UTF-16, file helpers that take paths of
// any length, a fresh folder per test, and a child process with its output captured.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
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

// Makes the folders on the way as well.
inline void writeFile(const std::string& path, const std::string& content) {
    for (auto at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        ::CreateDirectoryW(longPath(path.substr(0, at)).c_str(), nullptr);
    HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    EXPECT_TRUE(
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    ::CloseHandle(file);
}

inline std::string readFile(const std::string& path) {
    HANDLE file = ::CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[65536];
    for (DWORD got = 0; ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got;)
        content.append(buffer, got);
    ::CloseHandle(file);
    return content;
}

// Calls back with each name in the folder but . and ..; gives them sorted.
inline std::vector<std::string> namesIn(
    const std::string& folder, const std::function<void(const WIN32_FIND_DATAW&)>& each = {}) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((longPath(folder) + L"\\*").c_str(), &entry);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry))
        if (std::wstring(entry.cFileName) != L"." && std::wstring(entry.cFileName) != L"..") {
            names.push_back(narrow(entry.cFileName));
            if (each) each(entry);
        }
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

inline void removeTree(const std::string& path) {
    namesIn(path, [&](const WIN32_FIND_DATAW& entry) {
        const std::string full = path + "\\" + narrow(entry.cFileName);
        ::SetFileAttributesW(longPath(full).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(full);
        ::DeleteFileW(longPath(full).c_str());
    });
    ::RemoveDirectoryW(longPath(path).c_str());
}

struct ChildRun {
    DWORD status = ~DWORD{0};
    std::string out, err;
};

// Runs a program from this test's folder with the arguments as Windows passes them; `meanwhile`
// gets the running process, and whatever it does the child is waited for.
inline ChildRun runChild(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder,
                         const std::function<void(HANDLE)>& meanwhile = {}) {
    wchar_t self[MAX_PATH];
    std::wstring exe(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
    exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + wide(program);
    std::wstring command = L"\"" + exe + L"\"";
    for (const std::string& arg : args) command += L" \"" + wide(arg) + L"\"";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const std::string outPath = folder + ".out", errPath = folder + ".err";  // beside the folder
    auto capture = [&](const std::string& path) {
        return ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                             CREATE_ALWAYS, 0, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = capture(outPath);
    startup.hStdError = capture(errPath);
    PROCESS_INFORMATION child{};
    ChildRun result;
    if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         wide(folder).c_str(), &startup, &child)) {
        if (meanwhile) meanwhile(child.hProcess);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::GetExitCodeProcess(child.hProcess, &result.status);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    ::CloseHandle(startup.hStdOutput);
    ::CloseHandle(startup.hStdError);
    result.out = readFile(outPath), result.err = readFile(errPath);
    ::DeleteFileW(wide(outPath).c_str()), ::DeleteFileW(wide(errPath).c_str());
    return result;
}

// A fresh folder per test, removed afterwards. Wine hands out process ids again soon, and a test
// that crashed leaves its folder: a name already taken is passed over.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        std::string base = narrow(std::wstring(temp, ::GetTempPathW(MAX_PATH, temp))) +
                           "vellork-test-" + std::to_string(::GetCurrentProcessId()) + "-";
        static int counter = 0;
        bool made = false;
        do
            made = ::CreateDirectoryW(wide(folder_ = base + std::to_string(++counter)).c_str(),
                                      nullptr);
        while (!made && ::GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(made) << folder_;
    }
    void TearDown() override { removeTree(folder_); }

    std::string page(const std::string& name, const std::string& content) {
        writeFile(folder_ + "\\" + name, content);
        return folder_ + "\\" + name;
    }
    std::string folder_;
};

}  // namespace vellork::testing
