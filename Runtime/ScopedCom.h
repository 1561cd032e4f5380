#pragma once
// COM (and, when asked, OLE) initialised for one scope on the calling
// thread, and uninitialised at its end only when this scope's call
// succeeded: an S_FALSE ("already initialised") is balanced too, a failure
// (such as another apartment model) is not.
//
// Threads: the thread that made the object; it must also destroy it.

#include <objbase.h>
#include <ole2.h>

class ScopedCom {
public:
    enum Kind { kCom, kOle };
    explicit ScopedCom(Kind kind = kCom) : kind_(kind) {
        result_ = kind_ == kOle ? OleInitialize(nullptr) : CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    ~ScopedCom() {
        if (FAILED(result_)) return;
        if (kind_ == kOle) {
            OleUninitialize();
        } else {
            CoUninitialize();
        }
    }
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;

    bool Ok() const { return SUCCEEDED(result_); }
    HRESULT Result() const { return result_; }

private:
    Kind kind_;
    HRESULT result_;
};
