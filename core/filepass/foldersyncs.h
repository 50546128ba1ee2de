#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace vellork {

// Lets passes that run at the same time share the sync of their folders. A replaced page is on
// disk only once its folder is synced after the rename, and one sync of a folder puts every
// rename made in it before the sync on disk. So a pass that has renamed its page waits here,
// with the others that renamed theirs meanwhile, and the group's folders are each synced once.
//
// A group closes as soon as every pass under way is waiting in it (no other can join), when it
// holds `most` passes, or when its first pass has waited `longest`, so that rows keep moving.
// Every pass is still renamed only after its own page's data is on disk, and still checks the
// original just before its own rename: the group only shares what comes after.
class FolderSyncs {
public:
    // A folder, as the system tells one from another (device and inode on POSIX).
    using Folder = std::pair<std::uint64_t, std::uint64_t>;
    // Syncs a folder; returns 0 or the system's error number.
    using Sync = std::function<int()>;

    explicit FolderSyncs(std::size_t most = 64,
                         std::chrono::milliseconds longest = std::chrono::milliseconds(100));

    // A pass begins and ends: while it is under way, a group waits for it to join or to end.
    void begin();
    void end();
    // begin() and end() around a pass, for passes that may have no FolderSyncs.
    class UnderWay {
    public:
        explicit UnderWay(FolderSyncs* syncs) : syncs_(syncs) {
            if (syncs_) syncs_->begin();
        }
        ~UnderWay() {
            if (syncs_) syncs_->end();
        }
        UnderWay(const UnderWay&) = delete;
        UnderWay& operator=(const UnderWay&) = delete;

    private:
        FolderSyncs* syncs_;
    };

    // Called by a pass once its page is renamed: waits for the group to close and its folders
    // to be synced, and returns the error of the sync of `folder` (0: on disk). `sync` syncs
    // this pass's folder, if it is the first of the group in it; it is called on any thread of
    // the group, while this pass waits.
    int synced(Folder folder, const Sync& sync);

private:
    struct Waiting {
        Folder folder;
        const Sync* sync;
        int error = 0;
        bool done = false;
    };
    void closeGroup(std::unique_lock<std::mutex>& lock);
    bool full() const;

    const std::size_t most_;
    const std::chrono::milliseconds longest_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t underWay_ = 0;
    std::vector<Waiting*> group_;   // the passes of the open group, waiting for its syncs
    std::uint64_t generation_ = 0;  // counts the groups closed, telling a waiter's own apart
    std::chrono::steady_clock::time_point opened_;
};

}  // namespace vellork
