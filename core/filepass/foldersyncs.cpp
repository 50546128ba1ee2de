#include "foldersyncs.h"

#include <algorithm>

namespace vellork {

FolderSyncs::FolderSyncs(std::size_t most, std::chrono::milliseconds longest)
    : most_(std::max<std::size_t>(most, 1)), longest_(longest) {}

void FolderSyncs::begin() {
    std::lock_guard lock(mutex_);
    ++underWay_;
    ++running_;
}

void FolderSyncs::end() {
    std::unique_lock lock(mutex_);
    --underWay_;
    --running_;
    closeFull(lock);
    lock.unlock();
    if (onWait_) onWait_();
}

// Passes waiting in a group are still under way: when all of them wait, none can join.
bool FolderSyncs::full(const Group& group) const {
    return !group.members.empty() && (group.members.size() >= most_ ||
                                      data_.members.size() + folders_.members.size() >= underWay_);
}

void FolderSyncs::closeFull(std::unique_lock<std::mutex>& lock) {
    if (full(data_)) close(data_, lock);
    if (full(folders_)) close(folders_, lock);
}

void FolderSyncs::gather() {
    Waiting me;
    wait(data_, me);
}

int FolderSyncs::synced(Folder folder, const Sync& sync) {
    Waiting me;
    me.folder = folder;
    me.sync = &sync;
    return wait(folders_, me);
}

int FolderSyncs::wait(Group& group, Waiting& me) {
    std::unique_lock lock(mutex_);
    if (group.members.empty()) group.opened = std::chrono::steady_clock::now();
    group.members.push_back(&me);
    const std::uint64_t mine = group.generation;
    --running_;
    closeFull(lock);
    if (onWait_) {
        lock.unlock();
        onWait_();
        lock.lock();
    }
    while (!me.done) {
        if (group.generation != mine) {  // another thread is closing this group
            me.wake.wait(lock);
        } else if (me.wake.wait_until(lock, group.opened + longest_) == std::cv_status::timeout &&
                   group.generation == mine) {
            close(group, lock);
        }
    }
    ++running_;
    return me.error;
}

// Takes the open group, syncs each of its folders once (with the lock released, so that the
// next group can gather meanwhile) and wakes its passes. Called with the lock held.
void FolderSyncs::close(Group& group, std::unique_lock<std::mutex>& lock) {
    std::vector<Waiting*> members;
    members.swap(group.members);
    ++group.generation;
    lock.unlock();
    for (auto it = members.begin(); it != members.end(); ++it) {
        if (!(*it)->sync) continue;
        const auto first = std::find_if(members.begin(), it, [&](const Waiting* other) {
            return other->folder == (*it)->folder;
        });
        (*it)->error = first != it ? (*first)->error : (*(*it)->sync)();
    }
    lock.lock();
    // Woken with the lock held: a pass leaves, and its Waiting with it, only once it has the
    // lock again.
    for (Waiting* waiting : members) {
        waiting->done = true;
        waiting->wake.notify_one();
    }
}

}  // namespace vellork
