#include "figures.h"

#include "numtext.h"

namespace vellork {

RowFigures rowFigures(const PassResult& pass, std::string& ratioText,
                      std::string_view decimalSeparator) {
    if (!pass.ok) return {kFailedText, kFailedText};
    const std::string after = integerText(pass.sizeAfter);
    RatioChain chain = ratioChain(integerText(pass.sizeBefore), after, ratioText, decimalSeparator);
    ratioText = "0";
    // A step that failed would leave a figure that belongs to nothing measured.
    if (!chain.complete) return {after, kNoRatioText};
    return {after, chain.text.append(" %")};
}

}  // namespace vellork
