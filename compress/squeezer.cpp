#include "squeezer.h"

namespace vellork {

namespace {
constexpr unsigned char kTab = 9, kLF = 10, kCR = 13, kSpace = 32;
}

std::size_t Squeezer::feed(const char* in, std::size_t n, char* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    const auto* const end = p + n;
    char* o = out;

    bool lineStart = lineStart_;
    bool spacePending = spacePending_;
    bool lastWasSpace = lastWasSpace_;
    bool afterCR = afterCR_;

    while (p < end) {
        const unsigned char c = *p;
        if (c > kSpace) {
            // Content: a held-back space turns out to be inside the line.
            if (spacePending && !lastWasSpace) *o++ = ' ';
            spacePending = false;
            lineStart = false;
            afterCR = false;
            // Copy the whole run of ordinary bytes at once.
            do {
                *o++ = static_cast<char>(*p++);
            } while (p<end&& * p> kSpace);
            lastWasSpace = false;
            continue;
        }
        ++p;
        switch (c) {
            case kSpace:
                if (!lineStart) spacePending = true;
                afterCR = false;
                break;
            case kCR:
                // End of line: spaces still held back were trailing ones.
                lineStart = true;
                spacePending = false;
                afterCR = true;
                break;
            case kLF:
                if (afterCR) {  // second half of CR LF
                    afterCR = false;
                    break;
                }
                [[fallthrough]];
            case kTab:
                // Removed from the result, yet it is line content for the trim: spaces before
                // it are not trailing and spaces after it are not leading.
                if (spacePending) {
                    if (!lastWasSpace) *o++ = ' ';
                    lastWasSpace = true;
                    spacePending = false;
                }
                lineStart = false;
                afterCR = false;
                break;
            default:  // NUL and the other control bytes are ordinary content
                if (spacePending && !lastWasSpace) *o++ = ' ';
                spacePending = false;
                lineStart = false;
                afterCR = false;
                *o++ = static_cast<char>(c);
                lastWasSpace = false;
                break;
        }
    }

    lineStart_ = lineStart;
    spacePending_ = spacePending;
    lastWasSpace_ = lastWasSpace;
    afterCR_ = afterCR;
    return static_cast<std::size_t>(o - out);
}

std::size_t Squeezer::finish(char* out) {
    out[0] = '\r';
    out[1] = '\n';
    *this = Squeezer{};
    return 2;
}

}  // namespace vellork
