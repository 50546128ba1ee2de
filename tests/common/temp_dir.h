#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vellork::testing {

// Runs a shell command quietly; its exit status.
inline int shell(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

inline std::string readFile(const std::string& path) {
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

// A fresh folder per test, removed afterwards (its read-only folders too), with file helpers.
struct TempDir {
    TempDir() {
        if (!::mkdtemp(root.data())) ADD_FAILURE() << "mkdtemp failed";
    }
    ~TempDir() { shell("chmod -R u+rwx '" + root + "'; rm -rf '" + root + "'"); }
    const std::string& path() const { return root; }
    std::string file(const std::string& name) const { return root + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (auto& entry : std::filesystem::directory_iterator(root))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }
    std::string root = (std::filesystem::temp_directory_path() / "vellork-test-XXXXXX").string();
};

// Everything under a folder, by relative path: the content of each regular file, the kind of
// anything else. Never follows a link, never reads a pipe or a device.
inline std::map<std::string, std::string> contents(const std::string& folder) {
    std::map<std::string, std::string> all;
    for (auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const auto type = entry.symlink_status().type();
        all[entry.path().lexically_relative(folder).string()] =
            type == std::filesystem::file_type::regular ? readFile(entry.path().string())
                                                        : "kind " + std::to_string(int(type));
    }
    return all;
}

}  // namespace vellork::testing
