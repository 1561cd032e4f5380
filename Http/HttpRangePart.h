#pragma once
// One part of a download fetched in ranges: a request for the closed range
// [pos, end) of the file, written at its own offset into the one file that
// every part of the download shares.
//
// RangeFile is that file: one handle, opened as a download opens its file
// (others may read, not write; never truncated), written by position.
// RangePartState is the part's range and how far it got: the worker moves
// `pos` as bytes land, the UI thread may lower `end` (a slow part split for
// an idle connection) and reads both for progress and the journal. A part's
// stream writes nothing outside [pos, end): an answer longer than its range
// is cut there and the part fails, unless the end was lowered on purpose.
//
// Threads: CHttpRangePart and its owner's callbacks on the UI thread; the
// stream's Write and Discard on the download worker. RangeFile and
// RangePartState are shared by both, each behind its own lock.
// Ownership: RangeFile and RangePartState are reference counted (the
// download and every stream hold them); the handle closes with the last
// reference, so a transfer let go by its request never holds it. The owner
// outlives its parts.

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "Http/HttpCommand.h"
#include "Runtime/BaseStream.h"
#include "Runtime/RefPtr.h"

class RangeFile : public CRefThreadSafeBase<RangeFile> {
public:
    RangeFile();
    ~RangeFile() override;
    // False, with the system error, when the file cannot be opened.
    bool Open(const std::wstring& path, DWORD* error);
    // All `count` bytes at `offset`, or false with the system error.
    bool WriteAt(uint64_t offset, const void* data, uint32_t count, DWORD* error);
    // Sets the file's length without moving any position (writes may run).
    bool SetLength(uint64_t length);

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint64_t position_ = 0;  // the handle's file position (UINT64_MAX: unknown)
    CRITICAL_SECTION lock_;
};

class RangePartState : public CRefThreadSafeBase<RangePartState> {
public:
    struct Snapshot {
        uint64_t begin, pos, end;
        bool cut;       // stopped at an end lowered on purpose: not a fault
        bool overflow;  // the server sent past the range it was asked for
        bool ignored;   // the answer was not for this range (nothing written)
        int32_t writeError;
    };
    RangePartState(uint64_t begin, uint64_t end);
    ~RangePartState() override;

    Snapshot Read() const;
    // UI thread, as an attempt starts: the range it asks for is [pos, end).
    void BeginAttempt();
    // UI thread: lowers the end to the split point when the part is still
    // short of it; false (nothing changed) otherwise.
    bool LowerEnd(uint64_t end);
    // Worker: bytes of the answer. Returns how many may be written at `at`
    // (the rest is outside the range, and says why in the flags).
    uint32_t Admit(uint32_t count, uint64_t& at);
    void Advance(uint32_t count);
    void SetIgnored();
    void SetWriteError(int32_t code);

private:
    mutable CRITICAL_SECTION lock_;
    uint64_t begin_, pos_, end_, askedEnd_;
    bool cut_ = false, overflow_ = false, ignored_ = false;
    int32_t writeError_ = 0;
};

// Receives what a part learns, on the UI thread. Each call may stop, restart
// or re-assign the part; the part does nothing after it.
class RangePartOwner {
public:
    // A 206 for exactly the range asked.
    virtual void OnPartAnswered(class CHttpRangePart* part) = 0;
    // A 200, or a 206 for another range or total: the server does not serve
    // closed ranges as asked. Nothing of that answer was written.
    virtual void OnRangesRefused(class CHttpRangePart* part) = 0;
    // The part's range is complete (0, 0) or the part failed after its own
    // retries of transport errors (error type, code).
    virtual void OnPartDone(class CHttpRangePart* part, int errType, int code) = 0;
    virtual void OnPartTick() = 0;

protected:
    ~RangePartOwner() = default;
};

class CHttpRangePart : public CHttpBase {
public:
    // On the download channel as it is now.
    CHttpRangePart(RangePartOwner* owner, size_t index);
    ~CHttpRangePart() override;

    // The next attempts fetch `state`'s range of a resource of `total`
    // bytes from `url` into `file`. Not while running.
    void Assign(const std::wstring& url, const CRefPtr<RangeFile>& file, const CRefPtr<RangePartState>& state,
                uint64_t total, size_t mirror);
    size_t Index() const { return index_; }
    size_t Mirror() const { return mirror_; }
    RangePartState* State() const { return state_.get(); }
    // Drops the file and the state (the part is idle, holding nothing).
    void Unassign();

    bool Start() override;
    void Done(CURLcode code) override;
    void OnHttpCode(int status) override;
    void OnProgressTick() override;

private:
    RangePartOwner* owner_;
    size_t index_;
    size_t mirror_ = 0;
    uint64_t total_ = 0;
    uint64_t askedLength_ = 0;  // of the current attempt's range
    CRefPtr<RangeFile> file_;
    CRefPtr<RangePartState> state_;
};
