#pragma once
// The arithmetic of a download fetched in ranges: which bytes of a file are
// still missing, how they are cut into parts, where a slow part is split for
// an idle connection, how a Content-Range answer reads, and the journal that
// records which ranges of a partial file are complete (so a restart keeps
// them). Plain values and buffers only: no files, no transfers.
//
// Threads: any. No state.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Bytes [begin, end) of a file.
struct ByteRange {
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t Length() const { return end > begin ? end - begin : 0; }
    bool operator==(const ByteRange& other) const { return begin == other.begin && end == other.end; }
};

// A sorted list of disjoint, non-adjacent ranges.
typedef std::vector<ByteRange> RangeSet;

// Adds `range` to `set`, merging what it touches or overlaps.
void AddRange(RangeSet& set, ByteRange range);
// Bytes held by `set`.
uint64_t Covered(const RangeSet& set);
// Length of the range that starts at byte 0 (0 when there is none).
uint64_t ContiguousPrefix(const RangeSet& set);
// The ranges of [0, size) that `set` does not hold, in order.
RangeSet Missing(uint64_t size, const RangeSet& set);

// Cuts `missing` into parts for `maxParts` connections: as many parts as the
// bytes allow at `minPart` bytes each (at least one, at most `maxParts`),
// about equal, a hole longer than one part cut into several, a short hole
// kept whole. There may be more parts than connections (a file with many
// holes): the caller fetches the rest as connections become free.
std::vector<ByteRange> PlanParts(const RangeSet& missing, size_t maxParts, uint64_t minPart);

// Where a part that has reached `pos` of its range ending at `end` is split
// so that an idle connection takes the second half: the new end of the slow
// part, or 0 when what is left is below twice `minSteal` (not worth another
// request).
uint64_t StealPoint(uint64_t pos, uint64_t end, uint64_t minSteal);

// "bytes FIRST-LAST/TOTAL" (the total a number, not "*").
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
};
bool ParseContentRange(const std::wstring& value, ContentRange& out);

// The journal binds its ranges to one release of the package: its size and
// checksum (lower-case hex, as the manifest gives it).
struct RangeJournalHeader {
    uint64_t size = 0;
    std::string md5;
};
// The journal's text: a header, one line per complete range, and a checksum
// of everything before it.
std::string EncodeRangeJournal(const RangeJournalHeader& header, const RangeSet& done);
// True, with `done` filled, only for a journal whose checksum holds, whose
// header is `expect` (the md5 compared without regard to case), and whose
// ranges are ordered, disjoint and inside the file.
bool DecodeRangeJournal(const std::string& text, const RangeJournalHeader& expect, RangeSet& done);
