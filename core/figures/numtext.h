#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellork {

// The program's number and text rules. Every statistic passes through text between steps, so
// the 15-digit text shapes the figures a user sees; these functions are that text. They write
// and read with exactly the decimal separator they are given and consult no locale.

// Decimal digits, "-" in front of a negative value, no separators.
std::string integerText(std::int64_t value);

// At most 15 significant digits, trailing fractional zeros dropped (and the separator with them),
// a leading zero below 1, no thousands separators. Very large or small magnitudes use an exponent
// ("1.5E-05") that realText reads back.
std::string realText(double value, std::string_view decimalSeparator);

// Reads what realText writes (and plain integers). Empty or non-numeric text has no value.
std::optional<double> textReal(std::string_view text, std::string_view decimalSeparator);

// Rounds the decimal number written in `text` to two decimals, halfway cases to the even
// neighbour. Works on the decimal digits themselves, so "18.965" is a halfway case.
std::optional<double> roundTextTo2(std::string_view text, std::string_view decimalSeparator);

// The saved percentage of one file, computed in four steps through text. Each step reads the
// current ratio text; a step that cannot read it, or whose arithmetic fails (division by zero,
// overflow, invalid), leaves the text as it was and marks the chain as incomplete.
struct RatioChain {
    std::string text;       // the ratio text after the last step
    bool complete = false;  // every step succeeded
};
RatioChain ratioChain(std::string_view sizeBefore, std::string_view sizeAfter,
                      std::string ratioText, std::string_view decimalSeparator);

}  // namespace vellork
