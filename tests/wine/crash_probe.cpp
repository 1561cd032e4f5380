// Crashes on a worker thread, as a fault in an HTTP worker would: the test
// prefix must let the process end at once instead of holding it in the crash
// dialog of Wine's debugger until the test run's time-out.
#include <windows.h>

#include <process.h>

#include <cstdio>

namespace {

unsigned __stdcall CrashingBody(void*)
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

}  // namespace

int main()
{
    std::printf("crash probe: crashing a worker thread\n");
    std::fflush(stdout);
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CrashingBody, nullptr, 0, nullptr));
    if (!thread)
        return 2;
    WaitForSingleObject(thread, 30000);
    std::printf("crash probe: still alive\n");
    return 0;
}
