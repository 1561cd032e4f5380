#pragma once
// Hands work from worker threads to the UI thread.
//
// A worker packages an event as a reference-counted task and posts it; the
// queue is drained on the UI thread when a registered message reaches a hidden
// message-only window. A drain stops after the first task that ends more than
// 50 ms after the drain began, so a burst of tasks cannot freeze the window;
// the rest wait for the next wake-up message.
//
// Threads: PostMainThreadTask from any thread; everything else on the UI
// thread (the thread that called InitMainThreadDispatch and runs its loop).

#include <windows.h>

#include "Runtime/RefPtr.h"

class MainThreadTaskBase : public CRefThreadSafeBase<MainThreadTaskBase> {
public:
    virtual void Run() = 0;

protected:
    ~MainThreadTaskBase() override = default;
};

// A task that calls `func(arg1, arg2)` on the UI thread. The arguments are
// stored as T1/T2 (a CRefPtr keeps its object alive until the task is
// released) and passed as P1/P2.
template <typename T1, typename P1, typename T2, typename P2>
class MainThreadTask2 : public MainThreadTaskBase {
public:
    typedef void (*Function)(P1, P2);

    MainThreadTask2(Function func, const T1& arg1, const T2& arg2) : func_(func), arg1_(arg1), arg2_(arg2) {}
    void Run() override { func_(arg1_, arg2_); }

private:
    Function func_;
    T1 arg1_;
    T2 arg2_;
};

typedef void (*MainThreadEntryFunction)(CRefPtr<MainThreadTaskBase>* task);

// The entry function used for every task: runs the task.
void RunTaskTrampoline(CRefPtr<MainThreadTaskBase>* task);

// UI thread, once at start-up: creates the hidden window "ThreadingWindowClass"
// and registers "com.orvel.MainThreadFired". Calling it again after
// ShutdownMainThreadDispatch creates a new window.
void InitMainThreadDispatch();

// Any thread. The queue takes its own reference to `task`. Only the post that
// finds the queue empty sends a wake-up message.
void PostMainThreadTask(MainThreadEntryFunction entry, const CRefPtr<MainThreadTaskBase>& task);

// Convenience for the common case: post with RunTaskTrampoline.
inline void PostMainThreadTask(const CRefPtr<MainThreadTaskBase>& task)
{
    PostMainThreadTask(&RunTaskTrampoline, task);
}

// UI thread, from the hidden window's procedure only.
void DrainMainThreadTasks();

// UI thread, once at exit after the message loop: releases every pending task
// without running it and destroys the hidden window.
void ShutdownMainThreadDispatch();

// Monotonic seconds for the drain budget; never decreases. UI thread only.
double NowSeconds();

// For diagnostics and tests: the hidden window (null before Init), the
// registered message, and the number of queued tasks.
HWND MainThreadDispatchWindow();
UINT MainThreadFiredMessage();
size_t PendingMainThreadTasks();
