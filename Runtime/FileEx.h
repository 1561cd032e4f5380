#pragma once
// A thin owner of one operating-system file handle, opened with a classic
// flag word (access, sharing, inheritance, creation). Open reports failure
// through its result; every other operation throws CFileExException when the
// system refuses it, so writers can wrap a whole sequence in one try block.
//
// Positions and lengths are 64-bit so that files of 4 GiB and more (large
// packages) can be read, appended to and cut.
//
// Threads: an object belongs to one thread at a time; it does no locking.
// Ownership: the object owns its handle once Open succeeds and closes it on
// Close, Abort, a further Open or destruction. Objects are not copyable.

#include <windows.h>

#include <cstdint>
#include <string>

class CFileExException {
public:
    // Code of a write that was accepted but stored fewer bytes than asked.
    enum { kShortWrite = -12 };

    CFileExException() = default;
    CFileExException(int code, const std::wstring& message) : message(message), code(code) {}

    std::wstring message;
    int code = 0;  // system error code, or kShortWrite
};

class CFileEx {
public:
    // Open flag bits.
    enum : unsigned int {
        kRead = 0x0000,
        kWrite = 0x0001,
        kReadWrite = 0x0002,
        kNoAccess = 0x0003,
        kAccessMask = 0x0003,
        kShareExclusive = 0x0010,
        kShareRead = 0x0020,   // others may read
        kShareWrite = 0x0030,  // others may write
        kShareAll = 0x0040,    // others may read and write
        kShareMask = 0x0070,
        kNoInherit = 0x0080,
        kCreate = 0x1000,      // create; truncate an existing file unless kNoTruncate
        kNoTruncate = 0x2000,
        kBinary = 0x8000,      // accepted and ignored: handles are always binary
    };
    // Seek origins.
    enum : unsigned int { kBegin = 0, kCurrent = 1, kEnd = 2 };

    CFileEx() = default;
    virtual ~CFileEx();

    virtual uint64_t GetPosition();
    // Never throws. Any file this object had open is released first. On
    // failure, `error` (when given) receives the system error code and the
    // message "INVALID_HANDLE_VALUE".
    virtual bool Open(const std::wstring& path, unsigned int flags, CFileExException* error);
    // Returns the new position. A position before the start throws.
    virtual uint64_t Seek(int64_t offset, unsigned int origin);
    // Moves the position to `length` and ends the file there.
    virtual void SetLength(uint64_t length);
    // The file's length; the position is unchanged.
    virtual uint64_t GetLength();
    // Bytes read; 0 at the end of the file.
    virtual unsigned int Read(void* buffer, unsigned int count);
    // All `count` bytes are written or it throws (message: the file name).
    virtual void Write(const void* data, unsigned int count);
    // Releases the handle ignoring errors; never throws.
    virtual void Abort();
    virtual void Flush();
    // Releases the handle; a failed close throws after the object is reset.
    virtual void Close();

    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle; }
    const std::wstring& FileName() const { return fileName; }

protected:
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool closeOnDelete = false;
    std::wstring fileName;

private:
    CFileEx(const CFileEx&) = delete;
    CFileEx& operator=(const CFileEx&) = delete;
};
