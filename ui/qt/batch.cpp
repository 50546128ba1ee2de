#include "batch.h"

#include <QLocale>

namespace vellork {

CompressionBatch::CompressionBatch(FileListModel& list, CompressHost& host)
    : run_(list.rows(), host, ".") {}

// The user may change the locale between batches; each batch writes in the one of its start.
void CompressionBatch::start() {
    if (!run_.running()) run_.setDecimalSeparator(QLocale().decimalPoint().toStdString());
    run_.start();
}

}  // namespace vellork
