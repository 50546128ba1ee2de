#include "batch.h"

#include "figures.h"
#include "filepass.h"
#include "pacer.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <future>

namespace vellork {

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("CompressionBatch", text);
}
}  // namespace

CompressionBatch::CompressionBatch(FileListModel& list, BatchHost& host)
    : list_(list), host_(host) {}

void CompressionBatch::start() {
    if (running_) return;
    if (list_.count() == 0) {
        host_.showMessage(MessageIcon::Critical, tr("No files selected to Compress."));
        return;
    }
    running_ = true;
    host_.batchStarted();
    CompressFiles();
    running_ = false;
    host_.batchFinished();
}

QString CompressionBatch::failureMessage(const QStringList& failures, int total) {
    QString text = tr("%1 of %2 files could not be compressed and were left unchanged:\n")
                       .arg(failures.size())
                       .arg(total);
    for (int i = 0; i < failures.size() && i < kListedFailures; ++i) text += "\n" + failures[i];
    if (failures.size() > kListedFailures)
        text += "\n" + tr("... and %1 more.").arg(failures.size() - kListedFailures);
    return text;
}

// The file's pass runs on a thread of its own while the window keeps its turns: a disk that
// stalls a write or a sync, or a file system that takes its time to free a replaced page,
// never freezes the window. The pass itself is never abandoned halfway.
PassResult CompressionBatch::runPass(const std::string& path, YieldPacer& pacer) {
    std::future<PassResult> pass =
        std::async(std::launch::async, [path] { return compressFile(path); });
    while (pass.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) pacer.tick();
    return pass.get();
}

void CompressionBatch::CompressFiles() {
    YieldPacer pacer([this] { host_.yield(); });
    const std::string separator = QLocale().decimalPoint().toStdString();

    host_.setProgressMaximum(list_.count());
    pacer.yieldNow();

    const int rows = list_.count();
    std::string ratioText;
    QStringList failures;
    for (int i = 1; i <= rows; ++i) {
        if (host_.stopRequested()) return;
        pacer.tick();
        const std::optional<QString> path = list_.rowText(i);
        if (!path) {  // the window keeps the list fixed meanwhile; never claim such a row done
            failures << tr("Row %1: it left the list before its turn").arg(i);
            continue;
        }

        const PassResult pass = runPass(QFile::encodeName(*path).toStdString(), pacer);
        pacer.tick();

        const RowFigures figures = rowFigures(pass, ratioText, separator);
        list_.setColumn(i, FileListModel::CompressedSize,
                        QString::fromStdString(figures.compressedSize));
        const QString reason = QString::fromStdString(pass.error);
        list_.setTip(i, pass.ok ? QString::fromStdString(pass.note) : reason);
        if (!pass.ok) failures << QStringLiteral("%1: %2").arg(*path, reason);
        pacer.tick();
        list_.setColumn(i, FileListModel::Ratio, QString::fromStdString(figures.ratio));

        host_.setProgressValue(list_.count() == 1 ? host_.progressMaximum() : i);
    }
    if (host_.stopRequested()) return;

    if (failures.isEmpty())
        host_.showMessage(MessageIcon::Information,
                          tr("All HTML files are compressed successfully."));
    else
        host_.showMessage(MessageIcon::Warning, failureMessage(failures, rows));
}

}  // namespace vellork
