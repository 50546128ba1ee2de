#include "run.h"

#include "figures.h"
#include "filepass.h"
#include "pacer.h"
#include "pool.h"

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

void CompressRun::CompressFiles() {
    YieldPacer pacer([this] { host_.yield(); });
    host_.setProgressMaximum(list_.count());
    pacer.yieldNow();
    if (host_.stopRequested()) return;

    // The passes run on threads of their own, several at once, while the window keeps its
    // turns: a disk that stalls a write or a sync never freezes the window, and one page's
    // wait for the disk overlaps the next pages' work. Their ends are told here, row by row,
    // and only here are the rows touched. The window keeps the list fixed meanwhile.
    const int rows = list_.count();
    std::vector<std::string> resolved(static_cast<std::size_t>(rows));
    for (int i = 1; i <= rows; ++i)
        if (const FileRow* row = list_.row(i))
            resolved[static_cast<std::size_t>(i - 1)] = row->resolved;
    std::vector<PassResult> passes(resolved.size());
    PassPool pool(
        resolved.size(), kWorkers,
        [&](std::size_t i, const PassOptions& options) {
            passes[i] = compressResolved(resolved[i], options);
        },
        [&](std::size_t i) { return identityOfFile(resolved[i]); }, kUnderWay);

    std::string ratioText;
    std::vector<std::string> failures, removed;
    for (int i = 1; i <= rows; ++i) {
        const std::size_t at = static_cast<std::size_t>(i - 1);
        do {
            // Closing: no further pass starts, and those under way end with their pages whole.
            if (host_.stopRequested()) return;
            pacer.tick();
        } while (!pool.waitFor(at, std::chrono::milliseconds(2)));
        const PassResult& pass = passes[at];
        const FileRow* row = list_.row(i);
        const std::string path = row ? row->path : resolved[at];
        // Removals are named in the folder reached, which the row's path may not show.
        const std::string folder = resolved[at].substr(0, resolved[at].find_last_of("/\\") + 1);
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
