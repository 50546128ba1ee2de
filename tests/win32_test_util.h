#pragma once

// What the Windows tests share: UTF-8 text in and out of UTF-16, file helpers that take paths of
// any length, a fresh folder per test, and a child process with its output captured.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vellork::testing {

namespace fs = std::filesystem;

inline std::wstring wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     out.data(), static_cast<int>(out.size())));
    return out;
}

inline std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Every path the tests touch themselves goes through the \\?\ prefix, so long ones work too.
inline fs::path longPath(const std::string& path) {
    return L"\\\\?\\" + wide(path);
}

// Makes the folders on the way as well.
inline void writeFile(const std::string& path, const std::string& content) {
    for (auto at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        ::CreateDirectoryW(longPath(path.substr(0, at)).c_str(), nullptr);
    std::ofstream(longPath(path), std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(longPath(path), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW((longPath(folder) / L"*").c_str(), &entry);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &entry))
        if (std::wstring(entry.cFileName) != L"." && std::wstring(entry.cFileName) != L"..")
            names.push_back(utf8(entry.cFileName));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

inline void removeTree(const std::string& path) {
    for (const std::string& name : namesIn(path)) {
        const std::wstring inside = longPath(path + "\\" + name);
        ::SetFileAttributesW(inside.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(inside.c_str())) removeTree(path + "\\" + name);
    }
    ::RemoveDirectoryW(longPath(path).c_str());
}

struct ChildRun {
    DWORD status = ~DWORD{0};
    std::string out, err;
};

// Runs a program that stands beside this one, in `folder`, with the arguments as Windows passes
// them; `meanwhile` gets the running process, and whatever it does the child is waited for.
inline ChildRun runChild(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder,
                         const std::function<void(HANDLE)>& meanwhile = {}) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring exe = fs::path(self).replace_filename(wide(program)).wstring();
    std::wstring command = L"\"" + exe + L"\"";
    for (const std::string& arg : args) command += L" \"" + wide(arg) + L"\"";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const std::string captured[] = {folder + ".out", folder + ".err"};  // beside the folder
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (HANDLE* to : {&startup.hStdOutput, &startup.hStdError})
        *to = ::CreateFileW(wide(captured[to != &startup.hStdOutput]).c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    PROCESS_INFORMATION child{};
    ChildRun result;
    if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         wide(folder).c_str(), &startup, &child)) {
        if (meanwhile) meanwhile(child.hProcess);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::GetExitCodeProcess(child.hProcess, &result.status);
        ::CloseHandle(child.hThread), ::CloseHandle(child.hProcess);
    }
    ::CloseHandle(startup.hStdOutput), ::CloseHandle(startup.hStdError);
    result.out = readFile(captured[0]), result.err = readFile(captured[1]);
    ::DeleteFileW(wide(captured[0]).c_str()), ::DeleteFileW(wide(captured[1]).c_str());
    return result;
}

// A fresh folder per test, removed afterwards. Wine hands out process ids again soon, so one that
// a crashed test left behind goes first.
struct TempFolderTest : ::testing::Test {
    void SetUp() override {
        static int counter = 0;
        folder_ = utf8(fs::temp_directory_path() /
                       ("vellork-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                        std::to_string(++counter)));
        removeTree(folder_);
        ASSERT_TRUE(::CreateDirectoryW(wide(folder_).c_str(), nullptr)) << folder_;
    }
    void TearDown() override { removeTree(folder_); }

    std::string page(const std::string& name, const std::string& content) {
        writeFile(folder_ + "\\" + name, content);
        return folder_ + "\\" + name;
    }
    std::string folder_;
};

}  // namespace vellork::testing
