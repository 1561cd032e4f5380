#pragma once
// A clock for measuring short intervals on the UI thread that never runs
// backwards, even when the system clock is set back.
//
// It follows the system time but advances with the performance counter: the
// counter gives smooth, fine-grained steps, and the system time re-anchors it
// when the two drift apart (more than 31.25 ms) or when the counter disagrees
// with the millisecond tick count by more than 500 ms (a counter that jumps).
//
// The arithmetic is plain; the readings come from a Source, so the behaviour
// under clock changes can be exercised with scripted readings. Not thread-safe:
// one clock is used by one thread.

#include <cstdint>

class MonotonicClock {
public:
    struct Source {
        virtual ~Source() = default;
        // UTC milliseconds since 1970 (fractional).
        virtual double SystemMs() = 0;
        // Counts per second; false when there is no performance counter.
        virtual bool CounterFrequency(int64_t& frequency) = 0;
        virtual int64_t Counter() = 0;
        virtual uint32_t TickMs() = 0;
        // Brackets the re-anchoring read of the system time (finer timer resolution).
        virtual void BeginFineResolution() {}
        virtual void EndFineResolution() {}
    };

    // `source` is not owned and must outlive the clock.
    explicit MonotonicClock(Source& source) : source_(source) {}

    // Seconds; never smaller than any earlier result.
    double NowSeconds();

private:
    double NowMs();

    Source& source_;
    bool probed_ = false;
    bool hasCounter_ = false;
    int64_t frequency_ = 0;
    bool haveReading_ = false;
    int64_t lastCounter_ = 0;
    uint32_t lastTick_ = 0;
    bool calibrated_ = false;
    double baseSystemMs_ = 0;
    double baseCounterMs_ = 0;
    double lastResultMs_ = 0;
    double maxSeconds_ = 0;
};

// The real readings: system time, QueryPerformanceCounter, GetTickCount, winmm.
MonotonicClock::Source& SystemClockSource();
