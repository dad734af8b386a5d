#include "app/convert/PreparationPool.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;

// Waits (a few seconds at most) until the condition holds; the machine may be busy.
template <typename TCondition>
bool Eventually(TCondition condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(10ms);
    return condition();
}

// Records how many prepares run at once and which entries were started.
struct TRecorder
{
    std::atomic<int> Running{0};
    std::atomic<int> MostRunning{0};
    std::atomic<int> Started{0};
    std::atomic<int> HighestStarted{-1};

    void Enter(int index)
    {
        const int now = ++Running;
        int most = MostRunning.load();
        while (now > most && !MostRunning.compare_exchange_weak(most, now))
        {
        }
        ++Started;
        int highest = HighestStarted.load();
        while (index > highest && !HighestStarted.compare_exchange_weak(highest, index))
        {
        }
    }
    void Leave() { --Running; }
};

TPreparationLimits Limits(int workers)
{
    TPreparationLimits limits;
    limits.Workers = workers;
    return limits;
}

TEST(TPreparationPool, EntriesComeBackInListOrderWhateverTheWorkers)
{
    for (int workers = 1; workers <= 4; ++workers)
    {
        TPreparationPool pool(
            20, Limits(workers), [](int) { return 1000; },
            [](int i) {
                // Later entries finish first now and then.
                std::this_thread::sleep_for(std::chrono::microseconds((20 - i) % 7 * 300));
                if (i == 5)
                    throw std::runtime_error("cannot decode");
                return TPreparedPicture{"jpeg" + std::to_string(i), ""};
            });
        for (int i = 0; i < 20; ++i)
        {
            const TPreparedPicture picture = pool.Take(i);
            if (i == 5)
            {
                EXPECT_EQ(picture.Jpeg, "");
                EXPECT_EQ(picture.Failure, "cannot decode");
            }
            else
                EXPECT_EQ(picture.Jpeg, "jpeg" + std::to_string(i)) << workers;
        }
    }
}

TEST(TPreparationPool, EntriesPassedOverAreDroppedAndTakingGoesForwardOnly)
{
    TPreparationPool pool(
        6, Limits(3), [](int) { return 1; },
        [](int i) {
            return TPreparedPicture{std::to_string(i), ""};
        });
    EXPECT_EQ(pool.Take(1).Jpeg, "1");
    EXPECT_EQ(pool.Take(4).Jpeg, "4");
    EXPECT_THROW(pool.Take(4), std::logic_error);
    EXPECT_THROW(pool.Take(2), std::logic_error);
    EXPECT_THROW(pool.Take(6), std::logic_error);
    EXPECT_EQ(pool.Take(5).Jpeg, "5");
}

TEST(TPreparationPool, WorkAheadStopsAtTheCountAndByteLimits)
{
    TRecorder recorder;
    TPreparationLimits limits = Limits(4);
    limits.Ahead = 2;
    TPreparationPool byCount(
        10, limits, [](int) { return 1; },
        [&](int i) {
            recorder.Enter(i);
            recorder.Leave();
            return TPreparedPicture{"x", ""};
        });
    // Entries 0, 1 and 2 (the one the run will ask for, and two ahead of it), no more.
    ASSERT_TRUE(Eventually([&] { return recorder.Started == 3; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.HighestStarted, 2);
    byCount.Take(0);
    ASSERT_TRUE(Eventually([&] { return recorder.Started == 4; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.HighestStarted, 3);

    // 8 bytes each and room for 10 waiting: once two wait, nothing more starts.
    TRecorder bytes;
    limits.Ahead = 100;
    limits.AheadBytes = 10;
    TPreparationPool byBytes(
        10, limits, [](int) { return 1; },
        [&](int i) {
            bytes.Enter(i);
            bytes.Leave();
            return TPreparedPicture{"12345678", ""};
        });
    ASSERT_TRUE(Eventually([&] { return bytes.Started >= 2; }));
    std::this_thread::sleep_for(50ms);
    // Up to four workers may have started before the first two were done.
    EXPECT_LE(bytes.Started, 5);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(byBytes.Take(i).Jpeg, "12345678");
}

TEST(TPreparationPool, TheMemoryBudgetKeepsLargePicturesApart)
{
    TPreparationLimits limits = Limits(4);
    limits.MemoryBudget = 100;
    for (const std::int64_t need : {60, 0, 500})
    {
        // Each one more than half the budget, unknown, or beyond it: one at a time.
        TRecorder recorder;
        TPreparationPool pool(
            6, limits, [need](int) { return need; },
            [&](int i) {
                recorder.Enter(i);
                std::this_thread::sleep_for(5ms);
                recorder.Leave();
                return TPreparedPicture{"x", ""};
            });
        for (int i = 0; i < 6; ++i)
            pool.Take(i);
        EXPECT_EQ(recorder.MostRunning, 1) << need;
    }

    // Two that fit side by side are prepared at once: each waits for the other to arrive.
    std::atomic<int> arrived{0};
    std::atomic<bool> together{true};
    TPreparationPool pool(
        2, limits, [](int) { return 40; },
        [&](int) {
            ++arrived;
            together = together && Eventually([&] { return arrived == 2; });
            return TPreparedPicture{"x", ""};
        });
    pool.Take(0);
    pool.Take(1);
    EXPECT_TRUE(together);
}

TEST(TPreparationPool, StopWaitsForTheWorkInHandAndStartsNoMore)
{
    std::atomic<bool> release{false};
    TRecorder recorder;
    auto pool = std::make_unique<TPreparationPool>(
        50, Limits(3), [](int) { return 1; },
        [&](int i) {
            recorder.Enter(i);
            Eventually([&] { return release.load(); });
            recorder.Leave();
            return TPreparedPicture{"x", ""};
        });
    ASSERT_TRUE(Eventually([&] { return recorder.Running == 3; }));
    // The work is released only once the stopping thread runs (starting a thread can take
    // longer than the pause on a loaded machine, and the workers would start more meanwhile).
    std::atomic<bool> stopping{false};
    std::thread stopper([&] {
        stopping = true;
        pool->Stop();
    });
    EXPECT_TRUE(Eventually([&] { return stopping.load(); }));
    std::this_thread::sleep_for(20ms);
    release = true;
    stopper.join();
    EXPECT_EQ(recorder.Running, 0);
    const int started = recorder.Started;
    EXPECT_EQ(started, 3);
    pool.reset();
    EXPECT_EQ(recorder.Started, started);
}

} // namespace
