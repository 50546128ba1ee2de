#pragma once

#include "filelist.h"

#include <QString>
#include <QStringList>

#include <string>

namespace vellork {

class YieldPacer;
struct PassResult;

enum class MessageIcon { Critical, Warning, Information };

// What the batch needs from the window. The window supplies the Qt one; tests script their own.
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

// "Start Compression >": compresses the file of every row, top to bottom, writing each row's
// figures as it goes, and ends with a message that says how it went.
class CompressionBatch {
public:
    CompressionBatch(FileListModel& list, BatchHost& host);

    // The button's click. Does nothing while a batch is already running.
    void start();
    bool running() const { return running_; }

    // Longest list of failures the final message spells out; the rest are counted.
    static constexpr int kListedFailures = 15;
    static QString failureMessage(const QStringList& failures, int total);

private:
    void CompressFiles();
    PassResult runPass(const std::string& path, YieldPacer& pacer);

    FileListModel& list_;
    BatchHost& host_;
    bool running_ = false;
};

}  // namespace vellork
