#include <gtest/gtest.h>

#include "Runtime/MainThreadDispatch.h"
#include "Runtime/MonotonicClock.h"

namespace {

// Scripted readings: a counter at 1 MHz, a tick count and a system clock that
// the test can move independently, as a user or a time service would.
class FakeSource : public MonotonicClock::Source {
public:
    bool hasCounter = true;
    double systemMs = 1.7e12;
    int64_t counter = 5000000;
    uint32_t tick = 0xFFFFF000u;  // close to wrapping
    int anchors = 0;

    void Advance(double ms)
    {
        systemMs += ms;
        counter += static_cast<int64_t>(ms * 1000);
        tick += static_cast<uint32_t>(ms);
    }

    double SystemMs() override { return systemMs; }
    bool CounterFrequency(int64_t& f) override
    {
        f = 1000000;
        return hasCounter;
    }
    int64_t Counter() override { return counter; }
    uint32_t TickMs() override { return tick; }
    void BeginFineResolution() override { ++anchors; }
};

}  // namespace

TEST(MonotonicClock, FollowsTheCounterAcrossTickWrap)
{
    FakeSource src;
    MonotonicClock clock(src);
    double t0 = clock.NowSeconds();
    EXPECT_NEAR(t0, 1.7e9, 1e-3);
    for (int i = 0; i < 100; ++i)
        src.Advance(100);  // 10 s: the tick count wraps on the way
    EXPECT_NEAR(clock.NowSeconds() - t0, 10.0, 1e-6);
    EXPECT_EQ(src.anchors, 1);  // counter and system agree: no re-anchoring
}

TEST(MonotonicClock, NeverDecreasesWhenTheSystemClockIsSetBack)
{
    // Set back by a little, a lot, and with the counter standing still.
    const double backSteps[] = {-40, -1500, -3000, -3600e3};
    for (double back : backSteps) {
        FakeSource src;
        MonotonicClock clock(src);
        double last = clock.NowSeconds();
        for (int i = 0; i < 50; ++i) {
            src.Advance(10);
            if (i == 20)
                src.systemMs += back;
            double now = clock.NowSeconds();
            EXPECT_GE(now, last) << "step " << back << " call " << i;
            last = now;
        }
        EXPECT_GE(src.anchors, 2) << "the drift should have re-anchored the clock (step " << back << ")";
    }
}

TEST(MonotonicClock, ReanchorsWhenTheCounterJumps)
{
    FakeSource src;
    MonotonicClock clock(src);
    double t0 = clock.NowSeconds();
    src.counter += 60LL * 1000000;  // counter leaps a minute; tick and system do not
    src.Advance(10);
    clock.NowSeconds();
    src.Advance(10);
    double t2 = clock.NowSeconds();
    src.Advance(10);
    double t3 = clock.NowSeconds();
    EXPECT_GE(src.anchors, 2);
    // Once re-anchored it advances with real time again, never backwards.
    EXPECT_GE(t2, t0);
    EXPECT_NEAR(t3 - t2, 0.010, 1e-6);
}

TEST(MonotonicClock, WithoutCounterItIsTheSystemTimeClampedToMonotonic)
{
    FakeSource src;
    src.hasCounter = false;
    MonotonicClock clock(src);
    EXPECT_NEAR(clock.NowSeconds(), 1.7e9, 1e-3);
    src.systemMs -= 5000;
    EXPECT_NEAR(clock.NowSeconds(), 1.7e9, 1e-3);
    src.systemMs += 7000;
    EXPECT_NEAR(clock.NowSeconds(), 1.7e9 + 2, 1e-3);
}

TEST(MonotonicClock, TheRealClockNeverDecreases)
{
    double last = NowSeconds();
    const double start = last;
    for (int i = 0; i < 200000; ++i) {
        double now = NowSeconds();
        ASSERT_GE(now, last);
        last = now;
    }
    Sleep(20);
    EXPECT_GT(NowSeconds() - start, 0.015);
}
