#include "foldersyncs.h"

#include <algorithm>

namespace vellork {

FolderSyncs::FolderSyncs(std::size_t most, std::chrono::milliseconds longest)
    : most_(std::max<std::size_t>(most, 1)), longest_(longest) {}

void FolderSyncs::begin() {
    std::lock_guard lock(mutex_);
    ++underWay_;
}

void FolderSyncs::end() {
    std::unique_lock lock(mutex_);
    --underWay_;
    if (!group_.empty() && full()) closeGroup(lock);
}

// Passes waiting in the group are still under way: when all of them wait, none can join.
bool FolderSyncs::full() const {
    return group_.size() >= most_ || group_.size() >= underWay_;
}

int FolderSyncs::synced(Folder folder, const Sync& sync) {
    std::unique_lock lock(mutex_);
    Waiting me{folder, &sync};
    if (group_.empty()) opened_ = std::chrono::steady_clock::now();
    group_.push_back(&me);
    const std::uint64_t mine = generation_;
    if (full()) closeGroup(lock);
    while (!me.done) {
        if (generation_ != mine) {  // another thread is syncing this group
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, opened_ + longest_) == std::cv_status::timeout &&
                   generation_ == mine) {
            closeGroup(lock);
        }
    }
    return me.error;
}

// Takes the open group, syncs each of its folders once (with the lock released, so that the
// next group can gather meanwhile) and wakes its passes. Called with the lock held.
void FolderSyncs::closeGroup(std::unique_lock<std::mutex>& lock) {
    std::vector<Waiting*> group;
    group.swap(group_);
    ++generation_;
    lock.unlock();
    for (auto it = group.begin(); it != group.end(); ++it) {
        const auto first = std::find_if(group.begin(), it, [&](const Waiting* other) {
            return other->folder == (*it)->folder;
        });
        (*it)->error = first != it ? (*first)->error : (*(*it)->sync)();
    }
    lock.lock();
    for (Waiting* waiting : group) waiting->done = true;
    changed_.notify_all();
}

}  // namespace vellork
