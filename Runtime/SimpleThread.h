#pragma once
// Base for an object that owns one operating-system thread running its Run().
// Stop is cooperative: it sets stopRequested (which Run polls) and waits for the
// thread, terminating it only when the wait times out.
//
// Threads: Start, Stop and DestroyThread are called by the owner (the UI thread
// here), or by the worker itself to stop from inside Run. The worker's own
// exit clears the handle when nobody waits on it; while the owner waits, the
// owner closes it. Either way the handle is closed exactly once and never
// while another thread waits on it.

#include <windows.h>

class CSimpleThread {
public:
    CSimpleThread();
    virtual ~CSimpleThread();

    // Asks the thread to stop and waits for it (terminating it after
    // timeoutMs); afterwards it is not running.
    virtual void Stop(unsigned timeoutMs);
    // Starts the thread; true if it is running afterwards.
    virtual bool Start();

    bool DestroyThread(unsigned timeoutMs);
    bool IsRunning();

    HANDLE ThreadHandle() const { return threadHandle_; }
    unsigned ThreadId() const { return threadId_; }
    bool StopRequested() const { return stopRequested_; }

protected:
    virtual void Run() = 0;

    volatile bool stopRequested_ = false;

private:
    static unsigned __stdcall ThreadEntry(void* self);
    void CloseOwnHandle();  // caller holds lock_

    HANDLE threadHandle_ = nullptr;
    unsigned threadId_ = 0;
    CRITICAL_SECTION lock_;
    // Set while the owner waits on the handle: the worker then leaves closing
    // it to the owner.
    bool ownerWaiting_ = false;

    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;
};
