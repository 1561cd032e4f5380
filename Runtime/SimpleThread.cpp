#include "Runtime/SimpleThread.h"

#include <process.h>

#include "Runtime/CriticalSectionGuard.h"
#include "Runtime/Logger.h"

CSimpleThread::CSimpleThread()
{
    InitializeCriticalSection(&lock_);
}

CSimpleThread::~CSimpleThread()
{
    // A subclass must stop its thread before it is destroyed (Run is gone by
    // now); only the handle is left to release here.
    {
        const CriticalSectionGuard guard(&lock_);
        CloseOwnHandle();
    }
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
    const CriticalSectionGuard guard(&lock_);
    stopRequested_ = false;
    CloseOwnHandle();
    // Holding the lock across the start keeps a very short Run from finishing
    // its exit hand-over before the handle and id are recorded.
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, 0, &CSimpleThread::ThreadEntry, this, 0, &id);
    if (h == 0)
        return false;
    threadHandle_ = reinterpret_cast<HANDLE>(h);
    threadId_ = id;
    return true;
}

void CSimpleThread::Stop(unsigned timeoutMs)
{
    if (!IsRunning())
        return;
    stopRequested_ = true;
    // DestroyThread finds no handle only when the thread ended and handed its
    // handle back between the two checks: it is stopped all the same.
    DestroyThread(timeoutMs);
}

bool CSimpleThread::DestroyThread(unsigned timeoutMs)
{
    HANDLE handle = nullptr;
    unsigned id = 0;
    {
        const CriticalSectionGuard guard(&lock_);
        if (!threadHandle_)
            return false;
        if (threadId_ == GetCurrentThreadId()) {
            // Called from Run itself: nothing to wait for.
            CloseOwnHandle();
            return true;
        }
        handle = threadHandle_;
        id = threadId_;
        ownerWaiting_ = true;
    }

    // Waiting outside the lock: the worker takes it on its way out.
    if (WaitForSingleObject(handle, timeoutMs) == WAIT_TIMEOUT) {
        CSingleton<ConsoleLogger>::Instance().LogEx(LOG_ERROR, __LINE__, L".\\Runtime\\SimpleThread",
                                                    L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", id);
        CSingleton<FileLogger>::Instance().LogEx(LOG_ERROR, __LINE__, L".\\Runtime\\SimpleThread",
                                                 L"CSimpleThread::DestroyThread线程结束超时 tid:%d ", id);
        TerminateThread(handle, 0);
        WaitForSingleObject(handle, 5000);  // termination is asynchronous
    }

    const CriticalSectionGuard guard(&lock_);
    ownerWaiting_ = false;
    if (threadHandle_ == handle)
        CloseOwnHandle();
    return true;
}

bool CSimpleThread::IsRunning()
{
    const CriticalSectionGuard guard(&lock_);
    if (!threadHandle_)
        return false;
    DWORD code = 0;
    if (GetExitCodeThread(threadHandle_, &code) && code == STILL_ACTIVE)
        return true;
    if (!ownerWaiting_)
        CloseOwnHandle();
    return false;
}

unsigned __stdcall CSimpleThread::ThreadEntry(void* param)
{
    CSimpleThread* self = static_cast<CSimpleThread*>(param);
    self->Run();
    {
        const CriticalSectionGuard guard(&self->lock_);
        // Only this thread's own record is cleared: after a Stop from inside
        // Run the owner may already have started a new thread on this object.
        if (!self->ownerWaiting_ && self->threadId_ == GetCurrentThreadId())
            self->CloseOwnHandle();
    }
    // Never returns: the guard above must have left first.
    _endthreadex(0);
    return 0;
}
