#pragma once

#include <chrono>
#include <functional>
#include <utility>

namespace vellork {

// How long work may run before the window gets a turn at its waiting events: short enough to
// repaint smoothly, long enough that a page of a million lines does not pay a million turns.
inline constexpr std::chrono::milliseconds kYieldSlice{15};

// Calls `yield` from tick() only once a time slice has passed since the last call.
class YieldPacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit YieldPacer(std::function<void()> yield, Clock::duration slice = kYieldSlice)
        : yield_(std::move(yield)), slice_(slice), last_(Clock::now()) {}

    void tick() {
        if (Clock::now() - last_ >= slice_) yieldNow();
    }
    void yieldNow() {
        if (yield_) yield_();
        last_ = Clock::now();
    }

private:
    std::function<void()> yield_;
    Clock::duration slice_;
    Clock::time_point last_;
};

}  // namespace vellork
