// The real window, offscreen, compressing the pages given as Add File gives them: how long
// the batch takes, how long the event loop waits between turns, and what share of the batch
// goes to handling events. A folder brings every page below it, in sorted order.
// Usage: window_bench PATH...   (the pages are compressed in place: pass copies)

#include "form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

// Adds up the time spent delivering events, which is the time the batch gives away.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ == 0) clock_.start();
        const bool handled = QApplication::notify(receiver, event);
        if (--depth_ == 0) spent_ += clock_.nsecsElapsed();
        return handled;
    }
    qint64 spentNs() const { return spent_; }

private:
    int depth_ = 0;
    QElapsedTimer clock_;
    qint64 spent_ = 0;
};

class AnswerOk : public vellork::Dialogs {
public:
    QStringList answer;
    QString lastMessage;
    Answer message(QWidget*, vellork::MessageIcon, const QString& text, bool) override {
        lastMessage = text;
        return Answer::Ok;
    }
    QStringList openFiles(QWidget*, const QString&, const QStringList&) override { return answer; }
};

class NoShell : public vellork::Shell {
public:
    void open(const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench PATH...\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    AnswerOk dialogs;
    NoShell shell;
    vellork::Form1 window(dialogs, shell);
    window.show();
    std::vector<std::filesystem::path> pages;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i]))
            pages.emplace_back(argv[i]);
        else
            for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file() && entry.path().extension() == ".html")
                    pages.push_back(entry.path());
    }
    std::sort(pages.begin(), pages.end());
    std::uintmax_t bytes = 0;
    for (const auto& page : pages) {
        dialogs.answer.push_back(QString::fromStdString(page.string()));
        bytes += std::filesystem::file_size(page);
    }
    window.findChild<QPushButton*>("Command1")->click();

    // A timer that wants to run all the time: the gaps between its turns are the gaps the
    // user would feel.
    QElapsedTimer sinceTurn;
    qint64 longestGapNs = 0;
    int turns = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (window.batchRunning()) {
            longestGapNs = std::max(longestGapNs, sinceTurn.nsecsElapsed());
            ++turns;
        }
        sinceTurn.start();
    });
    ticker.start();
    sinceTurn.start();

    QElapsedTimer batch;
    batch.start();
    const qint64 eventsBefore = app.spentNs();
    window.findChild<QPushButton*>("Command3")->click();
    const double seconds = batch.nsecsElapsed() / 1e9;
    const double yieldShare = 100.0 * (app.spentNs() - eventsBefore) / batch.nsecsElapsed();
    std::printf(
        "pages=%zu MB=%.1f batch_s=%.3f MB_per_s=%.0f event_turns=%d longest_gap_ms=%.1f "
        "yield_share_%%=%.2f\n",
        pages.size(), bytes / 1e6, seconds, bytes / 1e6 / seconds, turns, longestGapNs / 1e6,
        yieldShare);
    std::printf("final message: %s\n", qPrintable(dialogs.lastMessage));
    return 0;
}
