#include "api/AnswerCollectors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(AnswerCollectors, EveryCollectRunsOnceAndASingleOneStartsNoThread) {
    for (size_t count : {1u, 2u, 8u, 32u}) {
        AnswerCollectors collectors;
        std::vector<std::atomic<int>> calls(count);
        for (int step = 0; step < 50; ++step) collectors.run(count, [&](size_t i) { ++calls[i]; });
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(calls[i], 50) << count << " collects, index " << i;
        if (count == 1) {
            EXPECT_EQ(collectors.threadCount(), 0u);
        }
    }
}

// Six of eight answers come 500 ms late: they are awaited side by side, on
// threads that the next step finds parked again.
TEST(AnswerCollectors, LateCollectsWaitSideBySide) {
    constexpr auto kLate = milliseconds(500);
    const std::set<size_t> late = {0, 2, 3, 5, 6, 7};
    AnswerCollectors collectors;
    std::vector<std::atomic<int>> calls(8);
    size_t threadsAfterFirst = 0;
    for (int step = 0; step < 2; ++step) {
        const auto begin = Clock::now();
        collectors.run(8, [&](size_t i) {
            ++calls[i];
            if (late.count(i) != 0) std::this_thread::sleep_for(kLate);
        });
        const auto took = Clock::now() - begin;
        EXPECT_GE(took, kLate);
        EXPECT_LT(took, kLate + milliseconds(400)) << "step " << step;
        if (step == 0) threadsAfterFirst = collectors.threadCount();
    }
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(calls[i], 2) << i;
    EXPECT_GE(threadsAfterFirst, late.size() - 1);
    EXPECT_EQ(collectors.threadCount(), threadsAfterFirst);
}

TEST(AnswerCollectors, AnExceptionIsPassedOnOnceEveryCollectHasEnded) {
    AnswerCollectors collectors;
    std::atomic<int> ended{0};
    try {
        collectors.run(8, [&](size_t i) {
            if (i == 0 || i == 4) std::this_thread::sleep_for(milliseconds(100));
            ++ended;
            if (i == 4 || i == 6) throw std::runtime_error(std::to_string(i));
        });
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "4");
    }
    EXPECT_EQ(ended, 8);
    // The pool is still usable.
    ended = 0;
    collectors.run(3, [&](size_t) { ++ended; });
    EXPECT_EQ(ended, 3);
}

}  // namespace
