#include "run.h"

#include "figures.h"
#include "filepass.h"
#include "pacer.h"

#include <future>

namespace vellork {

CompressRun::CompressRun(FileList& list, CompressHost& host, std::string decimalSeparator)
    : list_(list), host_(host), separator_(std::move(decimalSeparator)) {}

void CompressRun::start() {
    if (running_) return;
    if (list_.count() == 0) {
        host_.showMessage(MessageIcon::Critical, "No files selected to Compress.");
        return;
    }
    running_ = true;
    host_.batchStarted();
    CompressFiles();
    running_ = false;
    host_.batchFinished();
}

std::string CompressRun::failureMessage(const std::vector<std::string>& failures, int total) {
    std::string text = std::to_string(failures.size()) + " of " + std::to_string(total) +
                       " files could not be compressed and were left unchanged:\n";
    const int failed = static_cast<int>(failures.size());
    for (int i = 0; i < failed && i < kListedFailures; ++i) text += "\n" + failures[i];
    if (failed > kListedFailures)
        text += "\n... and " + std::to_string(failed - kListedFailures) + " more.";
    return text;
}

std::string CompressRun::removalNote(const std::vector<std::string>& removed) {
    std::string text =
        removed.empty() ? "" : "\n\nLeft over by an interrupted earlier run, and removed:\n";
    for (const std::string& path : removed) text += "\n" + path;
    return text;
}

// The file's pass runs on a thread of its own while the window keeps its turns: a disk that
// stalls a write or a sync, or a file system that takes its time to free a replaced page,
// never freezes the window. The pass itself is never abandoned halfway.
PassResult CompressRun::runPass(const std::string& resolved, YieldPacer& pacer) {
    std::future<PassResult> pass =
        std::async(std::launch::async, [resolved] { return compressResolved(resolved); });
    while (pass.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) pacer.tick();
    return pass.get();
}

void CompressRun::CompressFiles() {
    YieldPacer pacer([this] { host_.yield(); });
    host_.setProgressMaximum(list_.count());
    pacer.yieldNow();

    const int rows = list_.count();
    std::string ratioText;
    std::vector<std::string> failures, removed;
    for (int i = 1; i <= rows; ++i) {
        if (host_.stopRequested()) return;
        pacer.tick();
        const FileRow* row = list_.row(i);
        if (!row) {  // the window keeps the list fixed meanwhile; never claim such a row done
            failures.push_back("Row " + std::to_string(i) + ": it left the list before its turn");
            continue;
        }
        const std::string path = row->path, resolved = row->resolved;
        const PassResult pass = runPass(resolved, pacer);
        // Removals are named in the folder reached, which the row's path may not show.
        const std::string folder = resolved.substr(0, resolved.find_last_of("/\\") + 1);
        for (const std::string& name : pass.removed) removed.push_back(folder + name);
        pacer.tick();

        const RowFigures figures =
            rowFigures(pass.ok, pass.sizeBefore, pass.sizeAfter, ratioText, separator_);
        list_.setColumn(i, FileList::kCompressedSizeColumn, figures.compressedSize);
        list_.setTip(i, pass.ok ? pass.note : pass.error);
        if (!pass.ok) failures.push_back(path + ": " + pass.error);
        pacer.tick();
        list_.setColumn(i, FileList::kRatioColumn, figures.ratio);

        host_.setProgressValue(list_.count() == 1 ? host_.progressMaximum() : i);
    }
    if (host_.stopRequested()) return;

    if (failures.empty())
        host_.showMessage(MessageIcon::Information,
                          "All HTML files are compressed successfully." + removalNote(removed));
    else
        host_.showMessage(MessageIcon::Warning,
                          failureMessage(failures, rows) + removalNote(removed));
}

}  // namespace vellork
