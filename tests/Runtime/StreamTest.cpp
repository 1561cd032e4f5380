#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Runtime/BaseStream.h"

namespace {

const uint32_t KiB = 1024;
const uint32_t MiB = 1024 * KiB;

std::vector<uint8_t> Pattern(uint32_t count)
{
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    return bytes;
}

class FailingAllocStream : public OBufferStream {
public:
    bool fail = false;

protected:
    uint8_t* Allocate(uint32_t bytes) override
    {
        if (fail)
            throw std::bad_alloc();
        return OBufferStream::Allocate(bytes);
    }
};

}  // namespace

TEST(IBufferStream, ReadsAreAllOrNothing)
{
    std::string source = "0123456789";
    IBufferStream stream(10, source.data());
    source[0] = 'X';  // the stream holds its own copy
    EXPECT_EQ(stream.Size(), 10u);

    struct Step { uint32_t count; int32_t result; const char* bytes; };
    const Step steps[] = {{4, 4, "0123"}, {4, 4, "4567"}, {4, -1, ""}, {2, 2, "89"}, {1, 0, ""}};
    for (const Step& s : steps) {
        char buffer[8] = {};
        EXPECT_EQ(stream.Read(buffer, s.count), s.result) << "reading " << s.count;
        EXPECT_STREQ(buffer, s.bytes);
    }

    stream.Close();
    EXPECT_EQ(stream.Size(), 0u);
    char one;
    EXPECT_EQ(stream.Read(&one, 1), 0);
}

TEST(OBufferStream, GrowsByDoublingAndKeepsTheBytes)
{
    struct Case { const char* what; bool closeFirst; uint32_t write; uint32_t capacity; };
    const Case cases[] = {
        {"fits with spare", false, 2 * MiB - 10, 2 * MiB},
        {"one byte over", false, 2 * MiB - 9, 4 * MiB},
        {"3 MiB at once", false, 3 * MiB, 4 * MiB},
        {"after Close", true, 1, 512 * KiB},
        {"after Close, spare over", true, 512 * KiB - 9, 1 * MiB},
        {"after Close, big", true, 3 * MiB, 4 * MiB},
    };
    for (const Case& c : cases) {
        OBufferStream stream;
        EXPECT_EQ(stream.Capacity(), 2 * MiB);
        if (c.closeFirst) {
            ASSERT_EQ(stream.Write("old", 3), 3);
            stream.Close();
            EXPECT_EQ(stream.Capacity(), 0u);
            EXPECT_EQ(stream.Buffer(), nullptr);
        }
        std::vector<uint8_t> bytes = Pattern(c.write);
        EXPECT_EQ(stream.Write(bytes.data(), c.write), static_cast<int32_t>(c.write)) << c.what;
        EXPECT_EQ(stream.Capacity(), c.capacity) << c.what;
        ASSERT_EQ(stream.Size(), c.write) << c.what;
        EXPECT_EQ(std::memcmp(stream.Buffer(), bytes.data(), c.write), 0) << c.what;
        EXPECT_EQ(stream.ErrorCode(), 0);
        EXPECT_EQ(stream.ErrorType(), 0);
    }
}

TEST(OBufferStream, GrowthAcrossWritesCopiesWhatWasWritten)
{
    OBufferStream stream;
    stream.Discard();
    std::vector<uint8_t> bytes = Pattern(3 * MiB);
    for (uint32_t at = 0; at < bytes.size(); at += 100 * KiB) {
        uint32_t count = std::min<uint32_t>(100 * KiB, static_cast<uint32_t>(bytes.size()) - at);
        ASSERT_EQ(stream.Write(bytes.data() + at, count), static_cast<int32_t>(count));
        EXPECT_GE(stream.Capacity() - stream.Size(), OBufferStream::kSpare);
    }
    EXPECT_EQ(stream.Capacity(), 4 * MiB);
    EXPECT_EQ(std::memcmp(stream.Buffer(), bytes.data(), bytes.size()), 0);
}

TEST(OBufferStream, FailedWritesLeaveTheStreamAsItWas)
{
    FailingAllocStream stream;
    ASSERT_EQ(stream.Write("kept", 4), 4);
    const uint8_t* buffer = stream.Buffer();

    std::vector<uint8_t> big = Pattern(3 * MiB);
    stream.fail = true;
    EXPECT_THROW(stream.Write(big.data(), 3 * MiB), std::bad_alloc);

    // Counts that cannot be reported or would overflow a 32-bit size must be
    // refused before any byte is touched (the data pointer is far too short).
    char tiny[4] = {};
    EXPECT_EQ(stream.Write(tiny, 0xFFFFFFFFu), -1);
    EXPECT_EQ(stream.Write(tiny, 0xFFFFFFF6u), -1);
    EXPECT_EQ(stream.Write(tiny, 0x80000000u), -1);
    EXPECT_EQ(stream.Write(nullptr, 1), -1);

    EXPECT_EQ(stream.Buffer(), buffer);
    EXPECT_EQ(stream.Size(), 4u);
    EXPECT_EQ(stream.Capacity(), 2 * MiB);
    EXPECT_EQ(std::memcmp(stream.Buffer(), "kept", 4), 0);
    EXPECT_EQ(stream.Write("!", 1), 1) << "no growth needed, so no allocation";
}
