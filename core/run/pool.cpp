#include "pool.h"

#include <algorithm>

namespace vellork {

PassPool::PassPool(std::size_t count, unsigned workers, Run run, Identity identity,
                   std::size_t underWay)
    : count_(count),
      run_(std::move(run)),
      identity_(std::move(identity)),
      underWay_(underWay ? underWay : std::size_t{kPassesPerWorker} * std::max(workers, 1u)),
      workers_(static_cast<unsigned>(std::clamp<std::size_t>(workers, 1, underWay_))),
      syncs_(std::max<std::size_t>(underWay_ - workers_, 1)),
      done_(count) {
    // A pass waiting in a group of syncs leaves its turn to a further pass, which needs a thread
    // of its own: so there is a thread for every pass that may be under way.
    syncs_.onWait([this] {
        std::lock_guard lock(mutex_);
        turn_.notify_one();  // one turn given up: one further pass
    });
    const std::size_t threads = std::min(underWay_, count);
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

PassPool::~PassPool() {
    stop();
    for (std::thread& thread : threads_) thread.join();
}

void PassPool::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    turn_.notify_all();
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
        turn_.wait(lock,
                   [&] { return stopped_ || next_ == count_ || syncs_.running() < workers_; });
        if (stopped_ || next_ == count_) return;
        const std::size_t index = next_++;
        if (next_ == count_) turn_.notify_all();  // the threads waiting for a turn may leave
        syncs_.begin();  // now, so that the next thread sees this pass running
        lock.unlock();
        const std::optional<FileIdentity> file = hold(index);
        run_(index, options);
        syncs_.end();
        release(file);
        lock.lock();
        done_[index] = true;
        ended_.notify_all();
    }
}

}  // namespace vellork
