#pragma once
// How long the install window waits before it tries a failed stage (the
// manifest or the package download) again.
//
// The first three consecutive failures wait 5 seconds each, as a quick retry
// rides out a blip; then the wait doubles (10, 20, 40, 80 s) up to 2 minutes,
// so a server that stays down is not hammered by every installer at once. From
// the doubled waits up to a tenth is taken off at random, so installers that
// failed together do not come back together. A package that failed its check
// starts at the doubled waits: the server would send the same bytes again.
//
// Threads: any; no state (the caller owns the failure count and the random
// source).

#include <cstdint>

enum class RetryKind { kOrdinary, kPackageCheck };

// `failures`: consecutive failures including the one just seen (1 for the
// first). `random`: a uniform 32-bit value. Milliseconds, 5000 to 120000.
unsigned RetryDelayMs(int failures, RetryKind kind, uint32_t random);
