#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace vellork {

// The squeeze reads a page as 8-bit text. A file that holds a NUL byte is binary (an image, an
// archive) or text in a wide encoding: squeezing it would destroy it, so such a file is refused.
inline constexpr const char* kNotATextPage =
    "it is not a text page (it holds a NUL byte or starts with a UTF-16 or UTF-32 byte-order mark)";

// True when the first bytes of a file announce a UTF-16 or UTF-32 page. `n` is how many of the
// first bytes are at hand (a file shorter than four bytes passes what it has).
inline bool startsWithWideMark(const char* data, std::size_t n) {
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) return true;
    return n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF;
}

// True when a chunk of a page holds a NUL byte.
inline bool holdsNul(const char* data, std::size_t n) {
    return n != 0 && std::memchr(data, 0, n) != nullptr;
}

// Whether a name ends in .html or .htm, in any case.
inline bool isPageName(const std::string& path) {
    const std::size_t dot = path.find_last_of("./\\");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string suffix = path.substr(dot + 1);
    for (char& c : suffix)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return suffix == "html" || suffix == "htm";
}

}  // namespace vellork
