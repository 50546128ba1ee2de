#pragma once

#include "filelist.h"
#include "run.h"

#include <QString>
#include <QStringList>

namespace vellork {

// What the batch needs from the Qt window, in Qt's text; tests script their own.
class BatchHost {
public:
    virtual ~BatchHost() = default;
    // A modal message with an OK button, titled with the program's name.
    virtual void showMessage(MessageIcon icon, const QString& text) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual int progressMaximum() const = 0;
    virtual void setProgressValue(int value) = 0;
    // Lets the window handle every waiting event (repaints, clicks, keys), then returns.
    virtual void yield() = 0;
    // The commands that would change the list or start another batch stay off in between.
    virtual void batchStarted() = 0;
    virtual void batchFinished() = 0;
    // True once the window is closing: the batch stops after the file in hand.
    virtual bool stopRequested() const = 0;
};

// "Start Compression >" for the Qt window: the toolkit-free CompressRun over the model's list,
// with figures written in the user's decimal separator.
class CompressionBatch : private CompressHost {
public:
    CompressionBatch(FileListModel& list, BatchHost& host);

    // The button's click. Does nothing while a batch is already running.
    void start();
    bool running() const { return run_.running(); }

    static constexpr int kListedFailures = CompressRun::kListedFailures;
    static QString failureMessage(const QStringList& failures, int total);

private:
    void showMessage(MessageIcon icon, const std::string& text) override {
        host_.showMessage(icon, QString::fromStdString(text));
    }
    void setProgressMaximum(int maximum) override { host_.setProgressMaximum(maximum); }
    int progressMaximum() const override { return host_.progressMaximum(); }
    void setProgressValue(int value) override { host_.setProgressValue(value); }
    void yield() override { host_.yield(); }
    void batchStarted() override { host_.batchStarted(); }
    void batchFinished() override { host_.batchFinished(); }
    bool stopRequested() const override { return host_.stopRequested(); }

    BatchHost& host_;
    CompressRun run_;
};

}  // namespace vellork
