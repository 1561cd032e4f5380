#pragma once
// Byte sources and sinks, so that the transfer code can read request bodies and
// write response bodies without knowing where the bytes live. Bytes are copied
// as they are; no byte order or encoding is applied.
//
// Threads: a stream is used by one thread at a time. During a transfer the
// worker thread reads and writes it; afterwards the request reads the result on
// the UI thread. Nothing here locks.

#include <cstdint>

// A byte source.
class IBaseStream {
public:
    virtual ~IBaseStream() {}
    // Copies up to `count` bytes into `buffer`; returns the number copied or a
    // negative value on failure.
    virtual int32_t Read(void* buffer, uint32_t count) = 0;
    // Total size of the source in bytes.
    virtual uint32_t Size() const = 0;
    virtual void Close() = 0;
};

// A byte sink. Sinks that can fail record why in the error code and type
// (0 when there is no error; the type is one of the request error types), which
// the request reads after the exchange.
class OBaseStream {
public:
    virtual ~OBaseStream() {}
    // Appends `count` bytes; returns `count`, or a negative value on failure.
    virtual int32_t Write(const void* data, uint32_t count) = 0;
    virtual void Close() = 0;
    // Drops what was written.
    virtual void Discard() = 0;

    int32_t ErrorCode() const { return errorCode_; }
    int32_t ErrorType() const { return errorType_; }

protected:
    void SetError(int32_t code, int32_t type)
    {
        errorCode_ = code;
        errorType_ = type;
    }

    int32_t errorCode_ = 0;
    int32_t errorType_ = 0;
};

// A source over a private copy of a memory block (a request body to send).
// Reads are all or nothing: a request for more than remains reads nothing.
class IBufferStream : public IBaseStream {
public:
    // Copies `count` bytes from `data` (null `data` gives a stream of `count`
    // zero bytes). Throws std::bad_alloc when the copy cannot be allocated.
    IBufferStream(uint32_t count, const void* data);
    // Frees the copy if Close() has not done so already.
    ~IBufferStream() override;

    // 0 at the end; -1 (nothing read) if fewer than `count` bytes remain or
    // `count` does not fit the result; otherwise `count`.
    int32_t Read(void* buffer, uint32_t count) override;
    uint32_t Size() const override { return size_; }
    // Frees the data if this stream allocated it; size and position become 0.
    void Close() override;

    uint32_t Position() const { return position_; }

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t position_ = 0;  // next byte to read
    bool owned_ = false;     // data_ was allocated here and is freed by Close()

    IBufferStream(const IBufferStream&) = delete;
    IBufferStream& operator=(const IBufferStream&) = delete;
};

// A growable memory sink (a response body collected in memory). Its error code
// and type stay 0: writing to memory fails only when memory runs out, which
// throws std::bad_alloc and keeps the stream as it was. Callers inside C
// callbacks must catch it there.
//
// Readers take Buffer() and Size() directly; at least 10 spare bytes always
// follow the data in the buffer after a write.
class OBufferStream : public OBaseStream {
public:
    static constexpr uint32_t kInitialCapacity = 0x200000;   // 2 MiB, allocated at construction
    static constexpr uint32_t kReopenCapacity = 0x80000;     // 512 KiB, first growth after Close
    static constexpr uint32_t kSpare = 10;

    OBufferStream();
    ~OBufferStream() override;

    // Appends the bytes, growing the buffer as needed, and returns `count`.
    // Returns -1 and changes nothing when `data` is null with a non-zero count,
    // when `count` does not fit the signed result, or when the data would not
    // fit a 32-bit size.
    int32_t Write(const void* data, uint32_t count) override;
    // Both free the buffer; capacity and size become 0. A later Write allocates again.
    void Close() override;
    void Discard() override;

    const uint8_t* Buffer() const { return buffer_; }
    uint32_t Size() const { return size_; }
    uint32_t Capacity() const { return capacity_; }

protected:
    // Where growth gets its memory; throws std::bad_alloc on failure. The
    // result is released with delete[]. Overridable so tests can make it fail.
    virtual uint8_t* Allocate(uint32_t bytes);

private:
    // Makes room for `needed` bytes in total.
    void Reserve(uint32_t needed);

    uint8_t* buffer_ = nullptr;
    uint32_t capacity_ = 0;  // bytes allocated
    uint32_t size_ = 0;      // bytes written

    OBufferStream(const OBufferStream&) = delete;
    OBufferStream& operator=(const OBufferStream&) = delete;
};
