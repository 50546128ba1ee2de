#include "risks.h"

#include <utility>

namespace vellork {

bool PageRisks::atRisk() const {
    return joinedWords || changedBlocks || brokenScripts;
}

void RiskScanner::feed(const char* data, std::size_t n) {
    for (std::size_t i = n > 2 ? n - 2 : 0; i < n; ++i) {
        last_[0] = last_[1];
        last_[1] = static_cast<unsigned char>(data[i]);
    }
    size_ += n;
}

PageRisks RiskScanner::finish() {
    PageRisks risks = std::move(risks_);
    using LineEnd = PageRisks::LineEnd;
    if (size_ > 1 && last_[0] == '\r' && last_[1] == '\n')
        risks.lastLineEnd = LineEnd::CrLf;
    else if (size_ > 0 && last_[1] == '\n')
        risks.lastLineEnd = LineEnd::Lf;
    else if (size_ > 0 && last_[1] == '\r')
        risks.lastLineEnd = LineEnd::Cr;
    else
        risks.lastLineEnd = LineEnd::None;
    *this = RiskScanner();
    return risks;
}

}  // namespace vellork
