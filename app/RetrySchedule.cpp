#include "app/RetrySchedule.h"

namespace {

const unsigned kQuickMs = 5000;
const unsigned kLongestMs = 120000;
const int kQuickFailures = 3;
// Up to a tenth of a doubled wait is taken off, in steps of 1/10000.
const uint32_t kJitterSteps = 1000;

}  // namespace

unsigned RetryDelayMs(int failures, RetryKind kind, uint32_t random)
{
    int n = failures < 1 ? 1 : failures;
    if (kind == RetryKind::kPackageCheck)
        n += kQuickFailures;
    if (n <= kQuickFailures)
        return kQuickMs;
    unsigned delay = kQuickMs;
    for (int i = kQuickFailures; i < n && delay < kLongestMs; ++i)
        delay *= 2;
    if (delay > kLongestMs)
        delay = kLongestMs;
    const uint64_t jitter = static_cast<uint64_t>(delay) * (random % kJitterSteps) / 10000;
    return delay - static_cast<unsigned>(jitter);
}
