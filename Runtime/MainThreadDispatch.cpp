#include "Runtime/MainThreadDispatch.h"

#include <deque>

#include "Runtime/CriticalSectionGuard.h"
#include "Runtime/MonotonicClock.h"

namespace {

const double kDrainBudgetSeconds = 0.05;

struct MainThreadEntry {
    MainThreadEntryFunction entry;
    CRefPtr<MainThreadTaskBase> task;
};

// Created on first use so that a worker may post before Init (its task then
// waits for the first wake-up).
struct DispatchState {
    CRITICAL_SECTION lock;
    std::deque<MainThreadEntry> queue;
    HWND window = nullptr;
    UINT firedMessage = 0;

    DispatchState() { InitializeCriticalSection(&lock); }
    ~DispatchState() { DeleteCriticalSection(&lock); }
};

DispatchState& State()
{
    static DispatchState state;
    return state;
}

void PostWakeUp(DispatchState& s)
{
    // A failed post is not retried: the next post into an empty queue, or a
    // drain that runs out of time, sends another.
    PostMessageW(s.window, s.firedMessage, 0, 0);
}

LRESULT CALLBACK ThreadingWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    DispatchState& s = State();
    if (msg == s.firedMessage && msg != 0) {
        DrainMainThreadTasks();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void RunTaskTrampoline(CRefPtr<MainThreadTaskBase>* task)
{
    if (task && *task)
        (*task)->Run();
}

void InitMainThreadDispatch()
{
    DispatchState& s = State();
    // The stored handle is kept after shutdown, so "exists" means a live window.
    if (s.window && IsWindow(s.window))
        return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ThreadingWindowProc;
    wc.lpszClassName = L"ThreadingWindowClass";
    RegisterClassW(&wc);  // fails harmlessly when already registered
    HWND window = CreateWindowExW(0, L"ThreadingWindowClass", nullptr, 0, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                  HWND_MESSAGE, nullptr, nullptr, nullptr);
    UINT message = RegisterWindowMessageW(L"com.orvel.MainThreadFired");
    bool pending = false;
    {
        const CriticalSectionGuard guard(&s.lock);
        s.window = window;
        s.firedMessage = message;
        pending = !s.queue.empty();
    }
    // Tasks posted before the window existed had nobody to wake.
    if (pending)
        PostWakeUp(s);
}

void PostMainThreadTask(MainThreadEntryFunction entry, const CRefPtr<MainThreadTaskBase>& task)
{
    DispatchState& s = State();
    bool wasEmpty = false;
    {
        const CriticalSectionGuard guard(&s.lock);
        wasEmpty = s.queue.empty();
        s.queue.push_back(MainThreadEntry{entry, task});
    }
    if (wasEmpty)
        PostWakeUp(s);
}

void DrainMainThreadTasks()
{
    DispatchState& s = State();
    const double start = NowSeconds();
    CRefPtr<MainThreadTaskBase> current;
    for (;;) {
        MainThreadEntryFunction entry = nullptr;
        {
            const CriticalSectionGuard guard(&s.lock);
            if (s.queue.empty())
                break;
            entry = s.queue.front().entry;
            current = s.queue.front().task;
            s.queue.pop_front();
        }

        if (entry)
            entry(&current);

        if (NowSeconds() - start > kDrainBudgetSeconds) {
            PostWakeUp(s);
            break;
        }
    }
}

void ShutdownMainThreadDispatch()
{
    DispatchState& s = State();
    const CriticalSectionGuard guard(&s.lock);
    // Pending tasks are released, not run: their targets may be gone by now.
    std::deque<MainThreadEntry>().swap(s.queue);
    if (s.window)
        DestroyWindow(s.window);
}

double NowSeconds()
{
    static MonotonicClock clock(SystemClockSource());
    return clock.NowSeconds();
}

HWND MainThreadDispatchWindow()
{
    return State().window;
}

UINT MainThreadFiredMessage()
{
    return State().firedMessage;
}

size_t PendingMainThreadTasks()
{
    DispatchState& s = State();
    const CriticalSectionGuard guard(&s.lock);
    return s.queue.size();
}
