#pragma once

#include "rows.h"

#include <string>
#include <vector>

namespace vellork {

class YieldPacer;
struct PassResult;

enum class MessageIcon { Critical, Warning, Information };

// What a batch needs from its window, in plain UTF-8 text; each window supplies its own and
// tests script theirs.
class CompressHost {
public:
    virtual ~CompressHost() = default;
    // A modal message with an OK button, titled with the program's name.
    virtual void showMessage(MessageIcon icon, const std::string& text) = 0;
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
class CompressRun {
public:
    // `decimalSeparator` is the one the user's figures are written with.
    CompressRun(FileList& list, CompressHost& host, std::string decimalSeparator);

    void setDecimalSeparator(std::string separator) { separator_ = std::move(separator); }

    // The button's click. Does nothing while a batch is already running.
    void start();
    bool running() const { return running_; }

    // Longest list of failures the final message spells out; the rest are counted.
    static constexpr int kListedFailures = 15;
    static std::string failureMessage(const std::vector<std::string>& failures, int total);
    // The final message's note on leftovers of an interrupted earlier run that were removed.
    static std::string removalNote(const std::vector<std::string>& removed);

private:
    void CompressFiles();
    // Passes at once: most of a pass waits for the disk, so more than there are processors.
    static constexpr unsigned kWorkers = 16;
    // Passes under way, those waiting in a group of syncs included: fewer than the command
    // line's, since every one that wakes competes with the window's thread for the processors
    // (at four per worker the window's longest wait grew from about 20 ms to 30-60 ms; at three
    // it stays under 40 ms, and at two the batch falls behind the command line by 10-30 %).
    static constexpr std::size_t kUnderWay = 3 * kWorkers;

    FileList& list_;
    CompressHost& host_;
    std::string separator_;
    bool running_ = false;
};

}  // namespace vellork
