#include "batch.h"

#include <QLocale>

namespace vellork {

CompressionBatch::CompressionBatch(FileListModel& list, BatchHost& host)
    : host_(host), run_(list.rows(), *this, ".") {}

// The user may change the locale between batches; each batch writes in the one of its start.
void CompressionBatch::start() {
    if (!run_.running()) run_.setDecimalSeparator(QLocale().decimalPoint().toStdString());
    run_.start();
}

QString CompressionBatch::failureMessage(const QStringList& failures, int total) {
    std::vector<std::string> lines;
    for (const QString& failure : failures) lines.push_back(failure.toStdString());
    return QString::fromStdString(CompressRun::failureMessage(lines, total));
}

}  // namespace vellork
