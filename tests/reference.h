#pragma once

// The squeeze done literally, step by step, the slow way: read lines (CR or CR LF end a line,
// a lone LF stays inside it), trim spaces, drop blank lines, join, remove CR LF, CR, LF and TAB,
// then halve space pairs sweep by sweep. Every fast path is checked against it.

#include <string>
#include <vector>

namespace vellork::reference {

inline std::vector<std::string> readLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {  // end-of-file test before each line
        std::string line;
        while (at < text.size() && text[at] != '\r') line += text[at++];
        if (at < text.size()) {
            ++at;  // the CR
            if (at < text.size() && text[at] == '\n') ++at;
        }
        lines.push_back(line);
    }
    return lines;
}

inline std::string trimSpaces(const std::string& line) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = text.find(from, at)) != std::string::npos; at = hit + from.size())
        out += text.substr(at, hit - at) + to;
    return out + text.substr(at);
}

inline std::string squeeze(const std::string& page) {
    std::string working;
    for (const std::string& line : readLines(page)) {
        const std::string trimmed = trimSpaces(line);
        if (!trimmed.empty()) working += trimmed;
    }
    for (const char* gone : {"\r\n", "\r", "\n", "\t"}) working = replaceAll(working, gone, "");
    while (working.find("  ") != std::string::npos) working = replaceAll(working, "  ", " ");
    return working + "\r\n";
}

}  // namespace vellork::reference
