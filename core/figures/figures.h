#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellork {

// The texts a row shows once its file has been through the pass.
struct RowFigures {
    std::string compressedSize;  // "Compressed Size"
    std::string ratio;           // "Compression Ratio %"
};

inline constexpr const char* kFailedText = "Failed";
// Shown instead of a percentage that could not be measured (an empty page saves no share).
inline constexpr const char* kNoRatioText = "n/a";

// Runs the ratio chain for a finished pass: `ok` when the page was replaced, with the sizes it
// had before and has after. `ratioText` is the chain's carried text: it is read by the first
// step and left at "0" afterwards, as the batch expects from row to row.
RowFigures rowFigures(bool ok, std::int64_t sizeBefore, std::int64_t sizeAfter,
                      std::string& ratioText, std::string_view decimalSeparator);

}  // namespace vellork
