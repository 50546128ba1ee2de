#pragma once

// What the Windows tests share: UTF-8 text in and out of UTF-16, file helpers that take paths
// of any length, a fresh folder per test, and a child process with its output caught.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
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
    return reinterpret_cast<const char*>(path.u8string().c_str());
}

// Every path the tests touch themselves goes through the \\?\ prefix, so long ones work too.
inline fs::path longPath(const std::string& path) {
    return L"\\\\?\\" + wide(path);
}

inline std::string writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(longPath(path).parent_path());
    std::ofstream(longPath(path), std::ios::binary) << content;
    return path;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(longPath(path), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code absent;
    for (const fs::directory_entry& entry : fs::directory_iterator(longPath(folder), absent))
        names.push_back(utf8(entry.path().filename()));
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

using ChildRun = std::tuple<int, std::string, std::string>;  // exit status, output, errors

// Runs a program that stands beside this one, in `folder`, through the command interpreter, which
// changes folder and catches the output in files beside it; no argument may hold a quote or a %.
inline ChildRun runChild(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"cd /d \"" + wide(folder) + L"\" && \"" +
                           fs::path(self).replace_filename(wide(program)).wstring() + L"\"";
    for (const std::string& arg : args) command += L" \"" + wide(arg) + L"\"";
    const std::string out = folder + ".out", err = folder + ".err";
    command += L" >\"" + wide(out) + L"\" 2>\"" + wide(err) + L"\"";
    const ChildRun result{::_wsystem(command.c_str()), readFile(out), readFile(err)};
    ::DeleteFileW(wide(out).c_str()), ::DeleteFileW(wide(err).c_str());
    return result;
}

// A fresh folder per test process, removed afterwards. Wine hands out process ids again soon, so
// one that a crashed test left behind goes first.
struct TempFolderTest : ::testing::Test {
    void SetUp() override {
        removeTree(folder_);
        ASSERT_TRUE(::CreateDirectoryW(wide(folder_).c_str(), nullptr)) << folder_;
    }
    void TearDown() override { removeTree(folder_); }

    std::string page(const std::string& name, const std::string& content) {
        return writeFile(folder_ + "\\" + name, content);
    }
    const std::string folder_ = utf8(fs::temp_directory_path() /
                                     ("vellork-test-" + std::to_string(::GetCurrentProcessId())));
};

}  // namespace vellork::testing
