#pragma once
// Holds a critical section for the guard's scope.
//
// Threads: any; the guard belongs to the thread that made it.

#include <windows.h>

class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~CriticalSectionGuard() { LeaveCriticalSection(cs_); }

private:
    CRITICAL_SECTION* cs_;
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
};
