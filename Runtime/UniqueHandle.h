#pragma once
// Owning wrappers for kernel handles, so who closes what lives in the type
// and not in a comment: a UniqueHandle closes its handle when it goes away
// or is given another, and can be moved but not copied.
//
// Empty is nullptr; a file API's INVALID_HANDLE_VALUE is taken as empty too,
// so a failed CreateFileW can be held without a test first.
//
// Threads: any; an object belongs to one thread at a time.

#include <windows.h>

#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(Normal(handle)) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Closes the held handle and holds `handle` instead.
    void Reset(HANDLE handle = nullptr) {
        HANDLE old = handle_;
        handle_ = Normal(handle);
        if (old != nullptr && old != handle_) CloseHandle(old);
    }
    // Gives the handle up without closing it.
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    // For an API that writes a handle: closes the held one and returns
    // where the new one goes.
    HANDLE* Receive() {
        Reset();
        return &handle_;
    }

private:
    static HANDLE Normal(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }
    void Close() { Reset(); }
    HANDLE handle_ = nullptr;
};

// A started process: both handles of PROCESS_INFORMATION, owned.
struct UniqueProcess {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD processId = 0;

    UniqueProcess() = default;
    // Takes ownership of both handles in `info`.
    explicit UniqueProcess(const PROCESS_INFORMATION& info)
        : process(info.hProcess), thread(info.hThread), processId(info.dwProcessId) {}
    explicit operator bool() const { return static_cast<bool>(process); }
};
