#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace vellork {

// Lets passes that run at the same time share the costs of putting their pages on disk. A
// file system with a journal commits it for every sync that finds something new to put on
// disk, and every commit waits for the disk; so passes meet twice on their way:
//   - before each syncs its new page's data (gather): the new pages of the group are all
//     written out first, and the first of their syncs then commits them all;
//   - after each has renamed its page (synced): a replaced page is on disk only once its folder
//     is synced after the rename, and one sync of a folder puts every rename made in it before
//     the sync on disk, so the group's folders are each synced once.
//
// A group closes as soon as every pass under way is waiting in one (no other can join), when
// it holds `most` passes, or when its first pass has waited `longest`, so that rows keep
// moving. Every pass still syncs its own page's data before its own rename, and still checks
// the original just before that rename: the groups only share the disk's work.
//
// A pass waiting in a group does nothing meanwhile; `running()` counts those that do, so that
// a pool of threads can start further passes in their place (see `onWait`).
class FolderSyncs {
public:
    // A folder, as the system tells one from another (device and inode on POSIX).
    using Folder = std::pair<std::uint64_t, std::uint64_t>;
    // Syncs a folder; returns 0 or the system's error number.
    using Sync = std::function<int()>;

    explicit FolderSyncs(std::size_t most = 64,
                         std::chrono::milliseconds longest = std::chrono::milliseconds(100));

    // A pass begins and ends: while it is under way, a group waits for it to join or to end.
    // Told by whoever starts the passes (PassPool), before the pass's thread runs.
    void begin();
    void end();

    // Called by a pass once its new page's data is written out, right before it syncs it:
    // waits for the group of passes that got there meanwhile to close.
    void gather();

    // Called by a pass once its page is renamed: waits for the group to close and its folders
    // to be synced, and returns the error of the sync of `folder` (0: on disk). `sync` syncs
    // this pass's folder, if it is the first of the group in it; it is called on any thread of
    // the group, while this pass waits.
    int synced(Folder folder, const Sync& sync);

    // The passes under way that are not waiting in a group.
    std::size_t running() const { return running_; }
    // Called, with no lock of this class held, whenever running() has gone down.
    void onWait(std::function<void()> call) { onWait_ = std::move(call); }

private:
    struct Waiting {
        Folder folder{};
        const Sync* sync = nullptr;  // none for a gathering before the data syncs
        int error = 0;
        bool done = false;
        std::condition_variable wake;  // its own, so that a group's end wakes only its passes
    };
    struct Group {
        std::vector<Waiting*> members;  // the passes of the open group, waiting for it to close
        std::uint64_t generation = 0;   // counts the groups closed, telling a waiter's own apart
        std::chrono::steady_clock::time_point opened;
    };
    int wait(Group& group, Waiting& me);
    void closeFull(std::unique_lock<std::mutex>& lock);
    void close(Group& group, std::unique_lock<std::mutex>& lock);
    bool full(const Group& group) const;

    const std::size_t most_;
    const std::chrono::milliseconds longest_;
    std::mutex mutex_;
    std::size_t underWay_ = 0;
    Group data_, folders_;
    std::atomic<std::size_t> running_ = 0;
    std::function<void()> onWait_;
};

}  // namespace vellork
