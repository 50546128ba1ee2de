#pragma once

// The squeeze done literally, step by step, the slow way: read lines (CR or CR LF end a line,
// a lone LF stays inside it), trim spaces, drop blank lines, join, remove CR LF, CR, LF and TAB,
// then halve space pairs sweep by sweep. Every fast path is checked against it.

#include <string>

namespace vellork::reference {

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = text.find(from, at)) != std::string::npos; at = hit + from.size())
        out.append(text, at, hit - at) += to;
    return out.append(text, at);
}

inline std::string squeeze(const std::string& page) {
    std::string working;
    for (std::size_t at = 0; at < page.size();) {  // end-of-file test before each line
        std::size_t end = page.find('\r', at);
        if (end == std::string::npos) end = page.size();
        const std::string line = page.substr(at, end - at);
        at = end + (page.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos)  // a blank line adds nothing
            working += line.substr(first, line.find_last_not_of(' ') - first + 1);
    }
    for (const char* gone : {"\r\n", "\r", "\n", "\t"}) working = replaceAll(working, gone, "");
    while (working.find("  ") != std::string::npos) working = replaceAll(working, "  ", " ");
    return working + "\r\n";
}

}  // namespace vellork::reference
