// The package fetched in parts through the real engine against the fault
// server: parts at their offsets, a part retried alone, slow parts split,
// servers that do not serve closed ranges as asked, the size limit of a
// part, a restart that keeps the parts on disk, and two addresses at once.

#include <cstdio>
#include <functional>

#include "Http/HttpTestFixture.h"
#include "Http/RangePlan.h"
#include "Updater/MirrorSet.h"
#include "Updater/ParallelDownload.h"

namespace httptest {
namespace {

const uint64_t kSize = 16ull << 20;  // four parts of 4 MiB
const uint64_t kPart = 4ull << 20;
const char kSizeQuery[] = "?size=16777216&seed=9";
// Slow enough per connection that the first part is split.
const char kPaced[] = "&rate=4000000";

struct ParsedRange {
    uint64_t first, last;  // last == UINT64_MAX: open-ended; first == UINT64_MAX: no Range
};

ParsedRange Parse(const std::string& range)
{
    unsigned long long a = 0, b = 0;
    if (sscanf(range.c_str(), "bytes=%llu-%llu", &a, &b) == 2)
        return {a, b};
    if (sscanf(range.c_str(), "bytes=%llu-", &a) == 1)
        return {a, UINT64_MAX};
    return {UINT64_MAX, UINT64_MAX};
}

// One download: its request, its addresses and what it reported.
struct Attempt {
    ParallelDownload dl;
    MirrorSet mirrors;
    DownloadOutcome out;
};

class ParallelDownloadTest : public DownloadEngineTest {
protected:
    // Starts `a` on `paths`, with a fresh outcome.
    void Begin(Attempt& a, const std::vector<std::string>& paths)
    {
        std::vector<std::wstring> urls;
        for (const std::string& p : paths)
            urls.push_back(server_->Url(p));
        a.mirrors.Reset(urls);
        a.mirrors.BeginRound();
        a.out = DownloadOutcome();
        a.dl.Download(urls[0], file_, kSize, L"", &a.mirrors, reinterpret_cast<uintptr_t>(&a.out), &RecordDownloadDone,
                      &RecordDownloadProgress);
    }
    // Begin, then wait for the end.
    bool Run(Attempt& a, const std::vector<std::string>& paths)
    {
        Begin(a, paths);
        return Finish(a.out, 30000);
    }
    // Every request a closed range, none for bytes already on disk.
    static void ExpectNotAskedAgain(const std::vector<LoggedRequest>& log, const RangeSet& kept)
    {
        for (const LoggedRequest& r : log) {
            const ParsedRange p = Parse(r.range);
            ASSERT_NE(UINT64_MAX, p.last) << r.range;
            for (const ByteRange& k : kept)
                EXPECT_FALSE(p.first >= k.begin && p.first < k.end) << "bytes on disk asked again: " << r.range;
        }
    }
    bool Identical() const { return FileBytes() == ExpectedContent(kSize, 9); }
    std::wstring Journal() const { return file_ + L".parts"; }
};

TEST_F(ParallelDownloadTest, ServersAndTheirAnswers)
{
    struct Case {
        const char* name;
        const char* fault;
        // Checks of the requests the download made.
        std::function<void(const std::vector<LoggedRequest>&)> check;
    } cases[] = {
        // Parts that finish first take halves of the others' rest, so there
        // may be more requests than parts.
        {"fourParts", kPaced, [](const std::vector<LoggedRequest>& log) {
             ASSERT_GE(log.size(), 4u);
             EXPECT_EQ("bytes=0-16777215", log[0].range) << "the first part probes alone, for all of it";
             for (const LoggedRequest& r : log)
                 EXPECT_NE(UINT64_MAX, Parse(r.range).last) << "every part is a closed range: " << r.range;
         }},
        // Part 3 loses its connection after 500000 bytes: only it asks again,
        // from where it got to.
        {"partDropped", "&rate=4000000&mode=drop&after=500000&rfrom=8388608", [](const std::vector<LoggedRequest>& log) {
             // A split of part 3 starts at least 2 MiB into it; bytes in flight
             // when the connection was reset may be lost, so a little earlier.
             int again = 0;
             for (const LoggedRequest& r : log)
                 again += Parse(r.range).first > 2 * kPart && Parse(r.range).first <= 8888608;
             EXPECT_EQ(1, again);
         }},
        // Part 2 trickles: the parts that finish take halves of its rest.
        {"slowPartSplit", "&rate=4000000&mode=trickle&chunk=16384&delay=40&rfrom=4194304", [](const std::vector<LoggedRequest>& log) {
             int inside = 0;
             for (const LoggedRequest& r : log) {
                 const ParsedRange p = Parse(r.range);
                 inside += p.first > kPart && p.first < 2 * kPart;
             }
             EXPECT_GE(inside, 1) << "no part took over the slow one's rest";
         }},
        // A 200 to the closed range, or a 206 for other bytes: one
        // connection for the whole file, nothing of the refused answer kept.
        {"rangesIgnored", "&mode=norange", [](const std::vector<LoggedRequest>& log) {
             ASSERT_EQ(2u, log.size());
             EXPECT_EQ("bytes=0-16777215", log[0].range);
             EXPECT_EQ("-", log[1].range);
         }},
        {"wrongContentRange", "&mode=wrongrange&rstart=100", [](const std::vector<LoggedRequest>& log) {
             ASSERT_EQ(2u, log.size());
             EXPECT_EQ("-", log[1].range);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::RemoveTree(file_);
        Attempt a;
        const DownloadOutcome& out = a.out;
        ASSERT_TRUE(Run(a, {Path(std::string(c.name) + kSizeQuery + c.fault)}));
        EXPECT_EQ(0, out.type);
        EXPECT_EQ(0, out.code);
        EXPECT_TRUE(Identical());
        EXPECT_EQ(-1, DownloadLocalFileSize(Journal())) << "the journal goes with a complete file";
        c.check(server_->Requests(Path(c.name)));
        ASSERT_FALSE(out.progress.empty());
        uint64_t last = 0;
        for (const DownloadOutcome::Progress& p : out.progress) {
            EXPECT_EQ(kSize, p.total);
            EXPECT_GE(p.completed, last) << "progress is the sum of the parts: it never goes back";
            last = p.completed;
        }
    }
}

TEST_F(ParallelDownloadTest, APartLongerThanItsRangeFailsAndNothingPassesTheEnd)
{
    // All but the last MiB on disk (one part left, too short to be split),
    // and its server sends 5000 bytes past the end of the file.
    const uint64_t kept = kSize - (1u << 20);
    ASSERT_TRUE(testsupport::WriteBytes(file_, ExpectedContent(kept, 9) + std::string(kSize - kept, '\0')));
    ASSERT_TRUE(testsupport::WriteBytes(Journal(), EncodeRangeJournal({kSize, ""}, {{0, kept}})));
    Attempt a;
    ASSERT_TRUE(Run(a, {Path(std::string("long") + kSizeQuery + "&mode=overrange&extra=5000")}));
    EXPECT_EQ(ERR_USER, a.out.type);
    EXPECT_EQ(DOWNLOAD_ERR_LENGTH_MISMATCH, a.out.code);
    EXPECT_EQ(static_cast<int64_t>(kSize), DownloadLocalFileSize(file_));
    EXPECT_EQ(std::string::npos, FileBytes().find("XXXX", kept));
    // What is on disk is kept; a healed server completes it.
    ASSERT_TRUE(Run(a, {Path(std::string("healed") + kSizeQuery)}));
    EXPECT_EQ(0, a.out.type);
    EXPECT_TRUE(Identical());
    // (The range itself had arrived whole before the surplus: it may need
    // no request at all.)
    const std::vector<LoggedRequest> log = server_->Requests(Path("healed"));
    EXPECT_LE(log.size(), 1u);
    ExpectNotAskedAgain(log, {{0, kept}});
}

TEST_F(ParallelDownloadTest, AKilledRunKeepsItsPartsUnlessTheJournalIsDamaged)
{
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged journal" : "journal intact");
        testsupport::RemoveTree(file_);
        std::string file, journal;
        {
            Attempt killed;
            Begin(killed, {Path(std::string("slow") + kSizeQuery + "&rate=2000000")});
            ASSERT_TRUE(WaitFor([&] { return DownloadLocalFileSize(Journal()) > 0; }));
            testsupport::PumpMessagesFor(1200);
            // What a kill leaves: the file and the journal as they are now
            // (a stopped run would write its journal once more).
            journal = testsupport::ReadBytes(Journal());
            file = FileBytes();
            ASSERT_EQ(0, killed.out.calls);
        }
        ASSERT_TRUE(testsupport::WriteBytes(file_, file));
        if (damaged) {
            // Well-formed but wrong: the second range said to begin a MiB
            // early, over bytes no part wrote (4194304 -> 3194304).
            const size_t second = journal.find("\ndone ", journal.find("\ndone ") + 1) + 6;
            ASSERT_EQ('4', journal[second]);
            journal[second] = '3';
        }
        ASSERT_TRUE(testsupport::WriteBytes(Journal(), journal));
        RangeSet kept;
        RangeJournalHeader header;
        header.size = kSize;
        if (!damaged) {
            ASSERT_TRUE(DecodeRangeJournal(journal, header, kept));
            ASSERT_EQ(4u, kept.size()) << "each part had written some of its range";
        }

        Attempt again;
        ASSERT_TRUE(Run(again, {Path(std::string(damaged ? "bad" : "good") + kSizeQuery)}));
        EXPECT_EQ(0, again.out.type);
        EXPECT_TRUE(Identical());
        const std::vector<LoggedRequest> log = server_->Requests(Path(damaged ? "bad" : "good"));
        ASSERT_FALSE(log.empty());
        if (damaged) {
            EXPECT_EQ("bytes=0-16777215", log[0].range) << "nothing kept from a journal that does not hold";
        }
        ExpectNotAskedAgain(log, kept);
    }
}

TEST_F(ParallelDownloadTest, OneConnectionTakesOnlyTheInOrderStartOfAJournalledFile)
{
    // Once a server ignored the ranges, this download asks with one connection.
    Attempt a;
    ASSERT_TRUE(Run(a, {Path(std::string("norange") + kSizeQuery + "&mode=norange")}));
    ASSERT_EQ(0, a.out.type);
    // An earlier run's parts: the first and the third, the second not written.
    const std::string content = ExpectedContent(kSize, 9);
    ASSERT_TRUE(testsupport::WriteBytes(file_, content.substr(0, kPart) + std::string(kPart, 'X') +
                                                   content.substr(2 * kPart, kPart) + std::string(kPart, '\0')));
    ASSERT_TRUE(testsupport::WriteBytes(Journal(), EncodeRangeJournal({kSize, ""}, {{0, kPart}, {2 * kPart, 3 * kPart}})));
    ASSERT_TRUE(Run(a, {Path(std::string("ranged") + kSizeQuery)}));
    EXPECT_EQ(0, a.out.type);
    EXPECT_TRUE(Identical());
}

TEST_F(ParallelDownloadTest, TwoAddressesServePartsAndAFailingOneGetsNoMore)
{
    struct Case {
        const char* name;
        const char* fault;
        bool badStaysHealthy;
        size_t minBad, maxBad;
    } cases[] = {
        // Parts 2 and 4 started there, each with its own retries, then moved.
        {"drops", "&mode=drop&after=300000", false, 2, 6},
        // It answers a closed range with the whole file: those parts move,
        // the download stays in parts (and that address may still serve a
        // whole file later).
        {"norange", "&mode=norange", true, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::RemoveTree(file_);
        Attempt a;
        const std::string good = Path(std::string("good-") + c.name + kSizeQuery + kPaced);
        const std::string bad = Path(std::string("bad-") + c.name + kSizeQuery + kPaced + c.fault);
        ASSERT_TRUE(Run(a, {good, bad}));
        EXPECT_EQ(0, a.out.type);
        EXPECT_TRUE(Identical());
        EXPECT_FALSE(a.dl.RangesRefused());
        EXPECT_TRUE(a.mirrors.Healthy(0));
        EXPECT_EQ(c.badStaysHealthy, a.mirrors.Healthy(1));
        const size_t badRequests = server_->Requests(Path(std::string("bad-") + c.name)).size();
        EXPECT_GE(badRequests, c.minBad);
        EXPECT_LE(badRequests, c.maxBad);
        const std::vector<LoggedRequest> log = server_->Requests(Path(std::string("good-") + c.name));
        EXPECT_GE(log.size(), 3u);
        for (const LoggedRequest& r : log)
            EXPECT_NE(UINT64_MAX, Parse(r.range).last) << "every request a closed range: " << r.range;
    }
}

}  // namespace
}  // namespace httptest
