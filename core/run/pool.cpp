#include "pool.h"

namespace vellork {

PassPool::PassPool(std::size_t count, unsigned workers, Run run, Identity identity)
    : count_(count),
      run_(std::move(run)),
      identity_(std::move(identity)),
      // A group can hold at most one pass of each worker.
      syncs_(std::max(workers, 1u)),
      done_(count) {
    const std::size_t threads = std::min<std::size_t>(std::max(workers, 1u), count);
    for (std::size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

PassPool::~PassPool() {
    stop();
    for (std::thread& worker : workers_) worker.join();
}

void PassPool::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
}

bool PassPool::waitFor(std::size_t index, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [&] { return done_[index]; });
}

// Holds the file the pass's name leads to once no other pass holds it.
std::optional<FileIdentity> PassPool::hold(std::size_t index) {
    for (;;) {
        const std::optional<FileIdentity> file = identity_(index);
        if (!file) return file;
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return !busy_.count(*file); });
        busy_.insert(*file);
        lock.unlock();
        if (identity_(index) == file) return file;
        release(file);
    }
}

void PassPool::release(const std::optional<FileIdentity>& file) {
    if (!file) return;
    std::lock_guard lock(mutex_);
    busy_.erase(*file);
    released_.notify_all();
}

void PassPool::work() {
    PassOptions options;
    options.folderSyncs = &syncs_;
    for (;;) {
        std::unique_lock lock(mutex_);
        if (stopped_ || next_ == count_) return;
        const std::size_t index = next_++;
        lock.unlock();
        const std::optional<FileIdentity> file = hold(index);
        run_(index, options);
        release(file);
        lock.lock();
        done_[index] = true;
        ended_.notify_all();
    }
}

}  // namespace vellork
