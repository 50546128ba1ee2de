#pragma once

#include "filepass.h"
#include "foldersyncs.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace vellork {

// Runs the passes of many pages on several threads, since most of a pass is waiting for the
// disk: while one pass waits for its page's sync, others read and squeeze theirs, and passes
// that renamed their pages at the same time share their folders' syncs (FolderSyncs). The
// passes are started in order and their ends are told in order. Two names of one file never
// run at once: the later waits for the earlier, exactly as it would one pass at a time.
class PassPool {
public:
    // Runs pass `index` with `options` (which carry the pool's shared folder syncs), and keeps
    // what it gives; called on a worker thread, once per index.
    using Run = std::function<void(std::size_t index, const PassOptions& options)>;
    // The file a pass's name leads to now, if any: asked before the pass and again once the
    // file is held, since a pass holding the file before may have replaced it meanwhile.
    using Identity = std::function<std::optional<FileIdentity>(std::size_t index)>;

    // How many passes of one worker may be under way at a time: one that works, and those that
    // wait in the groups of syncs meanwhile (each holds its files open).
    static constexpr unsigned kPassesPerWorker = 4;

    // `workers` passes at work at a time, and at most `underWay` under way (0: as many as
    // kPassesPerWorker allows; fewer where each holds files open and open files are scarce).
    PassPool(std::size_t count, unsigned workers, Run run, Identity identity,
             std::size_t underWay = 0);
    // Stops (see stop()) and waits for the passes under way.
    ~PassPool();
    PassPool(const PassPool&) = delete;
    PassPool& operator=(const PassPool&) = delete;

    // Waits up to `timeout` for pass `index` to end, taking indices in order; true when it has.
    // What its Run kept is then the caller's to read.
    bool waitFor(std::size_t index, std::chrono::milliseconds timeout);
    bool waitFor(std::size_t index) { return waitFor(index, std::chrono::hours(24 * 365)); }

    // Starts no further pass; the passes under way end as they would, each page whole.
    void stop();

private:
    void work();
    std::optional<FileIdentity> hold(std::size_t index);
    void release(const std::optional<FileIdentity>& file);

    const std::size_t count_;
    Run run_;
    Identity identity_;
    const std::size_t underWay_;
    const unsigned workers_;
    FolderSyncs syncs_;
    std::mutex mutex_;
    std::condition_variable ended_, released_, turn_;
    std::vector<bool> done_;
    std::set<FileIdentity> busy_;  // files a pass is working on right now
    std::size_t next_ = 0;         // the next pass to start
    bool stopped_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vellork
