#include "pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vellork;

namespace {

// A pass that waits in the group before its data sync, as a real one does, and keeps count of
// how many passes are under way at once and how many are at work outside the groups.
struct Counting {
    std::atomic<int> underWay = 0, mostUnderWay = 0, atWork = 0, mostAtWork = 0, ran = 0;
    // Raises `most` to `now`, never lowering what another thread raised it to meanwhile.
    static void raise(std::atomic<int>& most, int now) {
        for (int seen = most; seen < now && !most.compare_exchange_weak(seen, now);) {
        }
    }
    void pass(std::size_t index, const PassOptions& options) {
        ++ran;
        raise(mostUnderWay, ++underWay);
        raise(mostAtWork, ++atWork);
        std::this_thread::sleep_for(std::chrono::milliseconds(index % 2 ? 50 : 2));
        --atWork;
        options.folderSyncs->gather();
        --underWay;
    }
};

}  // namespace

TEST(PassPool, PassesWaitingForASharedSyncLeaveTheirTurnToFurtherPassesAndAStopStartsNoMore) {
    // Two at work, and while one waits in a group, another starts; four under way at most.
    Counting counting;
    {
        PassPool pool(
            12, 2, [&](std::size_t i, const PassOptions& options) { counting.pass(i, options); },
            [](std::size_t) { return std::nullopt; }, 4);
        for (std::size_t i = 0; i < 12; ++i) ASSERT_TRUE(pool.waitFor(i, std::chrono::seconds(10)));
    }
    const int most = counting.mostUnderWay;
    EXPECT_EQ(std::tuple(counting.ran.load(), counting.mostAtWork.load(), most > 2 && most <= 4),
              std::tuple(12, 2, true))
        << most;

    // Stopped while its threads wait for a turn: the passes under way end, and no other starts.
    Counting stopped;
    std::atomic<bool> release = false;
    {
        PassPool pool(
            100, 1,
            [&](std::size_t, const PassOptions& options) {
                while (!release) std::this_thread::yield();
                stopped.pass(0, options);
            },
            [](std::size_t) { return std::nullopt; }, 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pool.stop();
        release = true;
    }
    EXPECT_EQ(stopped.ran.load(), 1);
}
