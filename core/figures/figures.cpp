#include "figures.h"

#include "numtext.h"

namespace vellork {

RowFigures rowFigures(bool ok, std::int64_t sizeBefore, std::int64_t sizeAfter,
                      std::string& ratioText, std::string_view decimalSeparator) {
    if (!ok) return {kFailedText, kFailedText};
    const std::string after = integerText(sizeAfter);
    RatioChain chain = ratioChain(integerText(sizeBefore), after, ratioText, decimalSeparator);
    ratioText = "0";
    // A step that failed would leave a figure that belongs to nothing measured.
    if (!chain.complete) return {after, kNoRatioText};
    return {after, chain.text.append(" %")};
}

}  // namespace vellork
