#pragma once

// The benchmark corpus: real HTML that Debian packages install, joined into one large page at
// run time (nothing of it is kept in the repository).

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vellork::bench {

inline std::vector<std::string> corpusFolders() {
    if (const char* folder = std::getenv("VELLORK_CORPUS")) return {folder};
    return {"/usr/share/doc/python3.11/html", "/usr/share/doc"};
}

// Every .html page under the first corpus folder that has any, sorted by path.
inline std::vector<std::filesystem::path> corpusPages(std::size_t limit = 100000) {
    for (const std::string& folder : corpusFolders()) {
        std::vector<std::filesystem::path> pages;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->path().extension() == ".html" && it->is_regular_file())
                pages.push_back(it->path());
        if (pages.empty()) continue;
        std::sort(pages.begin(), pages.end());
        if (pages.size() > limit) pages.resize(limit);
        return pages;
    }
    return {};
}

// The corpus pages joined, repeated until the page is at least `minBytes` long.
inline std::string largePage(std::size_t minBytes) {
    std::string joined;
    for (const auto& page : corpusPages()) {
        std::ifstream file(page, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        joined += text.str();
    }
    if (joined.empty()) return joined;
    std::string page = joined;
    while (page.size() < minBytes) page += joined;
    return page;
}

}  // namespace vellork::bench
