#include "Runtime/SimpleThread.h"

#include <process.h>

#include "Runtime/Logger.h"

CSimpleThread::CSimpleThread()
{
    InitializeCriticalSection(&lock_);
}

CSimpleThread::~CSimpleThread()
{
    // A subclass must stop its thread before it is destroyed (Run is gone by
    // now); only the handle is left to release here.
    EnterCriticalSection(&lock_);
    CloseOwnHandle();
    LeaveCriticalSection(&lock_);
    DeleteCriticalSection(&lock_);
}

void CSimpleThread::CloseOwnHandle()
{
    if (threadHandle_)
        CloseHandle(threadHandle_);
    threadHandle_ = nullptr;
    threadId_ = 0;
}

bool CSimpleThread::Start()
{
    if (IsRunning())
        return true;
    EnterCriticalSection(&lock_);
    stopRequested_ = false;
    CloseOwnHandle();
    // Holding the lock across the start keeps a very short Run from finishing
    // its exit hand-over before the handle and id are recorded.
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, 0, &CSimpleThread::ThreadEntry, this, 0, &id);
    if (h != 0) {
        threadHandle_ = reinterpret_cast<HANDLE>(h);
        threadId_ = id;
    }
    LeaveCriticalSection(&lock_);
    return h != 0;
}

bool CSimpleThread::Stop(unsigned timeoutMs)
{
    if (!IsRunning())
        return true;
    stopRequested_ = true;
    // DestroyThread finds no handle only when the thread ended and handed its
    // handle back between the two checks: it is stopped all the same.
    DestroyThread(timeoutMs);
    return true;
}

bool CSimpleThread::DestroyThread(unsigned timeoutMs)
{
    EnterCriticalSection(&lock_);
    if (!threadHandle_) {
        LeaveCriticalSection(&lock_);
        return false;
    }
    if (threadId_ == GetCurrentThreadId()) {
        // Called from Run itself: nothing to wait for.
        CloseOwnHandle();
        LeaveCriticalSection(&lock_);
        return true;
    }
    HANDLE handle = threadHandle_;
    const unsigned id = threadId_;
    ownerWaiting_ = true;
    LeaveCriticalSection(&lock_);

    // Waiting outside the lock: the worker takes it on its way out.
    if (WaitForSingleObject(handle, timeoutMs) == WAIT_TIMEOUT) {
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, __LINE__, L".\\Runtime\\SimpleThread",
                                                    L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", id);
        CSingleton<FileLogger>::Instance().LogEx(LOG_ERROR, __LINE__, L".\\Runtime\\SimpleThread",
                                                 L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", id);
        TerminateThread(handle, 0);
        WaitForSingleObject(handle, 5000);  // termination is asynchronous
    }

    EnterCriticalSection(&lock_);
    ownerWaiting_ = false;
    if (threadHandle_ == handle)
        CloseOwnHandle();
    LeaveCriticalSection(&lock_);
    return true;
}

bool CSimpleThread::IsRunning()
{
    EnterCriticalSection(&lock_);
    bool running = false;
    if (threadHandle_) {
        DWORD code = 0;
        if (GetExitCodeThread(threadHandle_, &code) && code == STILL_ACTIVE)
            running = true;
        else if (!ownerWaiting_)
            CloseOwnHandle();
    }
    LeaveCriticalSection(&lock_);
    return running;
}

unsigned __stdcall CSimpleThread::ThreadEntry(void* param)
{
    CSimpleThread* self = static_cast<CSimpleThread*>(param);
    self->Run();
    EnterCriticalSection(&self->lock_);
    // Only this thread's own record is cleared: after a Stop from inside Run
    // the owner may already have started a new thread on this object.
    if (!self->ownerWaiting_ && self->threadId_ == GetCurrentThreadId())
        self->CloseOwnHandle();
    LeaveCriticalSection(&self->lock_);
    _endthreadex(0);
    return 0;
}
