// The arithmetic of ranged downloads on plain values: answers a server may
// send, and how the missing bytes are cut into parts.

#include <gtest/gtest.h>

#include "Http/RangePlan.h"

namespace {

TEST(RangePlanTest, ContentRangeIsReadStrictly)
{
    struct Case {
        const wchar_t* value;
        bool ok;
        uint64_t first, last, total;
    } cases[] = {
        {L"bytes 0-99/1000", true, 0, 99, 1000},
        {L"bytes  5-5/6", true, 5, 5, 6},
        {L"BYTES 1-2/3", true, 1, 2, 3},
        {L"bytes 0-99/*", false},                       // no total: nothing to check the size against
        {L"bytes 100-99/1000", false},                  // backwards
        {L"bytes 0-1000/1000", false},                  // past the end
        {L"bytes 0-99/1000x", false},
        {L"bytes -1-99/1000", false},
        {L"bytes 0-99/99999999999999999999999", false},  // overflows 64 bits
        {L"items 0-99/1000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value);
        ContentRange r;
        ASSERT_EQ(c.ok, ParseContentRange(c.value, r));
        if (c.ok) {
            EXPECT_EQ(c.first, r.first);
            EXPECT_EQ(c.last, r.last);
            EXPECT_EQ(c.total, r.total);
        }
    }
}

TEST(RangePlanTest, MissingBytesAreCutIntoParts)
{
    const uint64_t M = 1u << 20;
    struct Case {
        const char* name;
        RangeSet done;
        uint64_t size;
        std::vector<ByteRange> parts;
    } cases[] = {
        {"fresh", {}, 16 * M, {{0, 4 * M}, {4 * M, 8 * M}, {8 * M, 12 * M}, {12 * M, 16 * M}}},
        {"fewerAtTheMinimum", {}, 9 * M, {{0, 4 * M + M / 2}, {4 * M + M / 2, 9 * M}}},
        {"afterAPrefix", {{0, 8 * M}}, 17 * M, {{8 * M, 12 * M + M / 2}, {12 * M + M / 2, 17 * M}}},
        // A restart: the holes of the last run, a short one kept whole.
        {"holes", {{0, 3 * M}, {4 * M, 10 * M}}, 20 * M, {{3 * M, 4 * M}, {10 * M, 15 * M}, {15 * M, 20 * M}}},
        {"complete", {{0, 5 * M}}, 5 * M, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.parts, PlanParts(Missing(c.size, c.done), 4, 4 * M));
    }
}

TEST(RangePlanTest, AJournalHoldsOnlyForItsReleaseAndInsideTheFile)
{
    RangeJournalHeader header;
    header.size = 1000;
    header.md5 = "ab12";
    RangeJournalHeader bigger = header, otherSum = header;
    bigger.size = 2000;
    otherSum.md5 = "ab13";
    struct Case {
        const char* name;
        const RangeJournalHeader& written;
        RangeSet done;
        bool holds;
    } cases[] = {
        {"kept", header, {{0, 100}, {200, 1000}}, true},
        {"pastTheEnd", header, {{0, 100}, {200, 1001}}, false},
        {"overlapping", header, {{0, 100}, {50, 200}}, false},
        {"otherSize", bigger, {{0, 100}}, false},
        {"otherChecksum", otherSum, {{0, 100}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeSet read;
        ASSERT_EQ(c.holds, DecodeRangeJournal(EncodeRangeJournal(c.written, c.done), header, read));
        if (c.holds) {
            EXPECT_EQ(c.done, read);
        }
    }
}

}  // namespace
