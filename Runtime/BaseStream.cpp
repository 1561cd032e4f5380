#include "Runtime/BaseStream.h"

#include <cstring>
#include <limits>

namespace {

const uint32_t kMaxResult = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
const uint64_t kMaxSize = std::numeric_limits<uint32_t>::max();

}  // namespace

// --- IBufferStream ------------------------------------------------------------

IBufferStream::IBufferStream(uint32_t count, const void* data)
{
    if (count > 0) {
        data_ = new uint8_t[count];
        if (data)
            std::memcpy(data_, data, count);
        else
            std::memset(data_, 0, count);
    }
    size_ = count;
    owned_ = true;
}

IBufferStream::~IBufferStream()
{
    // Owners are expected to Close() first; freeing here as well means a
    // forgotten Close() costs nothing instead of leaking the body.
    Close();
}

int32_t IBufferStream::Read(void* buffer, uint32_t count)
{
    if (position_ == size_)
        return 0;
    if (count > size_ - position_ || count > kMaxResult || (count > 0 && !buffer))
        return -1;
    if (count > 0)
        std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return static_cast<int32_t>(count);
}

void IBufferStream::Close()
{
    if (owned_)
        delete[] data_;
    data_ = nullptr;
    owned_ = false;
    size_ = 0;
    position_ = 0;
}

// --- OBufferStream ------------------------------------------------------------

OBufferStream::OBufferStream()
{
    buffer_ = new uint8_t[kInitialCapacity];
    capacity_ = kInitialCapacity;
}

OBufferStream::~OBufferStream()
{
    delete[] buffer_;
}

uint8_t* OBufferStream::Allocate(uint32_t bytes)
{
    return new uint8_t[bytes];
}

void OBufferStream::Reserve(uint32_t needed)
{
    if (capacity_ >= needed)
        return;
    // Doubling in 64 bits: past 2 GiB a 32-bit capacity would wrap to 0 and
    // never reach `needed`. The last step is capped at the largest 32-bit size,
    // which `needed` never exceeds.
    uint64_t grown = capacity_ == 0 ? kReopenCapacity : capacity_;
    while (grown < needed)
        grown *= 2;
    if (grown > kMaxSize)
        grown = kMaxSize;
    const uint32_t newCapacity = static_cast<uint32_t>(grown);

    // Allocate before touching anything, so a failure keeps the old buffer.
    uint8_t* fresh = Allocate(newCapacity);
    if (size_ > 0)
        std::memcpy(fresh, buffer_, size_);
    delete[] buffer_;
    buffer_ = fresh;
    capacity_ = newCapacity;
}

int32_t OBufferStream::Write(const void* data, uint32_t count)
{
    if (count > kMaxResult || (count > 0 && !data))
        return -1;
    const uint64_t needed = static_cast<uint64_t>(size_) + count + kSpare;
    if (needed > kMaxSize)
        return -1;
    Reserve(static_cast<uint32_t>(needed));
    if (count > 0)
        std::memcpy(buffer_ + size_, data, count);
    size_ += count;
    return static_cast<int32_t>(count);
}

void OBufferStream::Close()
{
    delete[] buffer_;
    buffer_ = nullptr;
    capacity_ = 0;
    size_ = 0;
}

void OBufferStream::Discard()
{
    Close();
}
