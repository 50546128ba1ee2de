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

// A fresh folder per test, removed afterwards, with small file helpers.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vellork-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        // Write permission first, so that a test's read-only folders can be removed.
        std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }

    // The names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (auto& entry : std::filesystem::directory_iterator(path_))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

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

// Runs a shell command quietly; its exit status.
inline int shell(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str());
}

}  // namespace vellork::testing
