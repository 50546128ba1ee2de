#pragma once

// What the Windows tests share: UTF-8 text in and out of UTF-16, file helpers that take paths
// of any length, a fresh folder per test, and a child process with its output caught.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
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

// Runs a Linux program beside Wine, which starts one as it would a Windows program, for what the
// Windows calls cannot make under Wine: symbolic links, a name ending in a dot, two names that
// differ only in case. An argument holding ":\\" is a Windows path: its folder is handed over as
// Wine's Linux path for it, its last name as it is. Wine cannot wait for such a program, so it
// leaves a mark when it is done. True when it was done within ten seconds.
inline bool onLinux(std::vector<std::string> args) {
    using LinuxName = char*(CDECL*)(const wchar_t*);
    const auto linuxName = reinterpret_cast<LinuxName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!linuxName) return false;
    // A mark of this call's own: test programs running at once each wait for their command.
    const std::string mark = utf8(fs::temp_directory_path() /
                                  ("vellork-linux-done-" + std::to_string(std::random_device{}())));
    ::DeleteFileW(wide(mark).c_str());
    char* linuxMark = linuxName(wide(mark).c_str());
    // The command line is split as Windows programs split theirs: quotes in it are escaped.
    args.insert(args.begin(), {"sh", "-c", "\\\"$0\\\" \\\"$@\\\"; : >" + std::string(linuxMark)});
    ::HeapFree(::GetProcessHeap(), 0, linuxMark);
    std::wstring command = L"/usr/bin/env";
    for (std::string& arg : args) {
        if (const auto cut = arg.find_last_of('\\'); arg.find(":\\") != std::string::npos) {
            char* folder = linuxName(wide(arg.substr(0, cut)).c_str());
            if (!folder) return false;
            arg = std::string(folder) + "/" + arg.substr(cut + 1);
            ::HeapFree(::GetProcessHeap(), 0, folder);
        }
        command += L" \"" + wide(arg) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return false;
    for (int waited = 0; ::GetFileAttributesW(wide(mark).c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 10)
        if (waited > 10000)
            return false;
        else
            ::Sleep(10);
    return ::DeleteFileW(wide(mark).c_str());
}

// Under Wine by the Linux side, which also removes the links that the tests make there and the
// names that Wine cannot open; elsewhere name by name.
inline void removeTree(const std::string& path) {
    if (onLinux({"rm", "-rf", path})) return;
    for (const std::string& name : namesIn(path)) {
        const std::wstring inside = longPath(path + "\\" + name);
        ::SetFileAttributesW(inside.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(inside.c_str())) removeTree(path + "\\" + name);
    }
    ::RemoveDirectoryW(longPath(path).c_str());
}

// A fresh folder per test process, removed afterwards. Its name is random as well: Wine hands
// out process ids again soon, and two test programs started at once on a new prefix can even
// hold the same one.
struct TempFolderTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryW(wide(folder_).c_str(), nullptr)) << folder_;
    }
    void TearDown() override { removeTree(folder_); }

    std::string page(const std::string& name, const std::string& content) {
        return writeFile(folder_ + "\\" + name, content);
    }
    const std::string folder_ = utf8(fs::temp_directory_path() /
                                     ("vellork-test-" + std::to_string(::GetCurrentProcessId()) +
                                      "-" + std::to_string(std::random_device{}())));
};

}  // namespace vellork::testing
