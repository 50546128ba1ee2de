// The real window, offscreen, compressing one large page: how long the event loop waits
// between turns, and what share of the batch goes to handling events.
// Usage: window_bench PAGE   (the page is compressed in place: pass a copy)

#include "form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>

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
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_bench PAGE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    AnswerOk dialogs;
    NoShell shell;
    vellork::Form1 window(dialogs, shell);
    window.show();
    dialogs.answer = {QString::fromLocal8Bit(argv[1])};
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

    const auto bytes = std::filesystem::file_size(argv[1]);
    QElapsedTimer batch;
    batch.start();
    const qint64 eventsBefore = app.spentNs();
    window.findChild<QPushButton*>("Command3")->click();
    const double seconds = batch.nsecsElapsed() / 1e9;
    const double yieldShare = 100.0 * (app.spentNs() - eventsBefore) / batch.nsecsElapsed();
    std::printf(
        "page_MB=%.1f batch_s=%.3f MB_per_s=%.0f event_turns=%d longest_gap_ms=%.1f "
        "yield_share_%%=%.2f\n",
        bytes / 1e6, seconds, bytes / 1e6 / seconds, turns, longestGapNs / 1e6, yieldShare);
    std::printf("final message: %s\n", qPrintable(dialogs.lastMessage));
    return 0;
}
