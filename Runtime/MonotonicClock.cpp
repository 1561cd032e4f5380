#include "Runtime/MonotonicClock.h"

#include <windows.h>

#include <cmath>

double MonotonicClock::NowMs()
{
    if (!probed_) {
        probed_ = true;
        hasCounter_ = source_.CounterFrequency(frequency_) && frequency_ > 0;
    }
    if (!hasCounter_)
        return source_.SystemMs();

    double sys = source_.SystemMs();
    const int64_t counter = source_.Counter();
    const uint32_t tick = source_.TickMs();
    if (haveReading_) {
        const int64_t counterElapsed = (counter - lastCounter_) * 1000 / frequency_;
        const int64_t tickElapsed = static_cast<uint32_t>(tick - lastTick_);  // wraps at 2^32
        if (std::llabs(counterElapsed - tickElapsed) > 500)
            calibrated_ = false;
    }
    haveReading_ = true;
    lastCounter_ = counter;
    lastTick_ = tick;
    const double counterMs = static_cast<double>(counter) * 1000.0 / static_cast<double>(frequency_);

    if (!calibrated_) {
        source_.BeginFineResolution();
        sys = source_.SystemMs();
        baseSystemMs_ = sys;
        source_.EndFineResolution();
        baseCounterMs_ = counterMs;
        calibrated_ = true;
    }

    const double elapsed = counterMs - baseCounterMs_;
    const double estimate = baseSystemMs_ + elapsed;
    if (std::fabs(elapsed - (sys - baseSystemMs_)) > 31.25)
        calibrated_ = false;  // re-anchor on the next call

    // Small backward steps are hidden; a large one (the clock was really set
    // back) is taken, and the final max below keeps the result monotonic.
    if (estimate >= lastResultMs_ || lastResultMs_ - estimate >= 2000) {
        lastResultMs_ = estimate;
        return estimate;
    }
    return lastResultMs_;
}

double MonotonicClock::NowSeconds()
{
    double seconds = NowMs() / 1000.0;
    if (seconds < maxSeconds_)
        seconds = maxSeconds_;
    maxSeconds_ = seconds;
    return seconds;
}

namespace {

class SystemSource : public MonotonicClock::Source {
public:
    double SystemMs() override
    {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        ULARGE_INTEGER t;
        t.LowPart = ft.dwLowDateTime;
        t.HighPart = ft.dwHighDateTime;
        // 100 ns units since 1601 → milliseconds since 1970.
        return static_cast<double>(static_cast<int64_t>(t.QuadPart - 116444736000000000ULL)) / 10000.0;
    }
    bool CounterFrequency(int64_t& frequency) override
    {
        LARGE_INTEGER f;
        if (!QueryPerformanceFrequency(&f))
            return false;
        frequency = f.QuadPart;
        return true;
    }
    int64_t Counter() override
    {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return c.QuadPart;
    }
    uint32_t TickMs() override { return GetTickCount(); }
    void BeginFineResolution() override { timeBeginPeriod(1); }
    void EndFineResolution() override { timeEndPeriod(1); }
};

}  // namespace

MonotonicClock::Source& SystemClockSource()
{
    static SystemSource source;
    return source;
}
