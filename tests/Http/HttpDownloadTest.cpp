// File downloads through the real engine against the fault-injecting server:
// resume, servers that ignore ranges or announce the wrong length, dropped
// connections, and a download stopped while its body is being written.

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

class DownloadTest : public DownloadEngineTest {};

TEST_F(DownloadTest, FreshDownloadIsByteIdenticalAndReportsProgress)
{
    CHttpDownloadFile dl;
    DownloadOutcome out;
    const std::string path = Path("f?size=300000&seed=5&mode=trickle&chunk=60000&delay=150");
    ASSERT_TRUE(Start(dl, path, 300000, out));
    ASSERT_TRUE(Finish(out));
    EXPECT_EQ(0, out.type);
    EXPECT_EQ(0, out.code);
    EXPECT_TRUE(FileBytes() == ExpectedContent(300000, 5));
    ASSERT_FALSE(out.progress.empty());
    EXPECT_EQ(300000u, out.progress.front().total);
    EXPECT_EQ(0u, out.progress.front().completed);
    for (const DownloadOutcome::Progress& p : out.progress) {
        EXPECT_EQ(300000u, p.total);
        EXPECT_LE(p.completed, 300000u);
    }
    EXPECT_GT(out.progress.back().completed, 0u) << "no progress tick counted any byte";
    std::vector<LoggedRequest> log = server_->Requests(Path());
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("-", log[0].range);
}

TEST_F(DownloadTest, ExistingFileDecidesWhatIsFetched)
{
    struct Case {
        const char* name;
        size_t existing;
        uint64_t expected;
        size_t requests;
        const char* range;
    } cases[] = {
        {"complete", 1000, 1000, 0, ""},     // nothing fetched, success at once
        {"larger", 1200, 1000, 1, "-"},      // emptied, fetched whole
        {"unknownSize", 600, 0, 1, "-"},     // no expected size: always whole
        {"missing", 0, 1000, 1, "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::RemoveTree(file_);
        if (std::string(c.name) != "missing") {
            ASSERT_TRUE(testsupport::WriteBytes(file_, ExpectedContent(c.existing, 2)));
        }
        CHttpDownloadFile dl;
        DownloadOutcome out;
        const std::string path = Path(std::string(c.name) + "?size=1000&seed=2");
        ASSERT_TRUE(Start(dl, path, c.expected, out));
        ASSERT_TRUE(Finish(out));
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(0, out.type);
        EXPECT_EQ(0, out.code);
        std::vector<LoggedRequest> log = server_->Requests(path);
        ASSERT_EQ(c.requests, log.size());
        if (c.requests) {
            EXPECT_EQ(c.range, log[0].range);
        }
        EXPECT_TRUE(FileBytes() == ExpectedContent(1000, 2));
        // The finished file is not held open: the caller can move it at once.
        const std::wstring moved = file_ + L".done";
        EXPECT_TRUE(MoveFileW(file_.c_str(), moved.c_str())) << GetLastError();
        testsupport::RemoveTree(moved);
    }
}

TEST_F(DownloadTest, AWrongLengthOrAnHttpErrorIsFinalAndWithdrawsTheTransfer)
{
    struct Case {
        const char* name;
        const char* query;
        int type, code;
    } cases[] = {{"length", "?size=1000&mode=badlen&len=900", ERR_USER, DOWNLOAD_ERR_LENGTH_MISMATCH},
                 {"status", "?mode=status&code=404", ERR_HTTP, 404}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpDownloadFile dl;
        DownloadOutcome out;
        ASSERT_TRUE(Start(dl, Path(c.name) + c.query, 1000, out));
        ASSERT_TRUE(Finish(out));
        EXPECT_EQ(c.type, out.type);
        EXPECT_EQ(c.code, out.code);
        EXPECT_FALSE(dl.IsRunning());
        EXPECT_EQ(nullptr, dl.Transfer());
        EXPECT_FALSE(DownloadManager()->Contains(&dl));
        EXPECT_TRUE(WaitFor([] { return DownloadWorkshop()->RunningCount() == 0; }, 3000));
        // Nothing more arrives for it: no retry, no second callback.
        testsupport::PumpMessagesFor(700);
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(1u, server_->Requests(Path(c.name)).size());
        if (c.type == ERR_HTTP) {
            EXPECT_EQ("", FileBytes());
        }
    }
}

TEST_F(DownloadTest, DroppedConnectionsAreResumedByTheRetries)
{
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(Start(dl, Path("d?size=1000&seed=6&mode=drop&after=400"), 1000, out));
    ASSERT_TRUE(Finish(out, 15000));
    EXPECT_EQ(0, out.type) << "code " << out.code;
    std::vector<LoggedRequest> log = server_->Requests(Path());
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("-", log[0].range);
    EXPECT_EQ("bytes=400-", log[1].range);
    EXPECT_EQ("bytes=800-", log[2].range);
    EXPECT_TRUE(FileBytes() == ExpectedContent(1000, 6));
}

TEST_F(DownloadTest, StopWhileRunningKeepsTheFileIntactAndResumable)
{
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(Start(dl, Path("t?size=40000&seed=3&mode=trickle&chunk=2000&delay=40"), 40000, out));
    ASSERT_TRUE(WaitFor([&] { return DownloadLocalFileSize(file_) >= 6000; }, 5000));
    dl.Stop();
    EXPECT_FALSE(dl.IsRunning());
    EXPECT_EQ(nullptr, dl.Transfer());
    // The file is closed by now: an exclusive open succeeds.
    HANDLE h = CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    testsupport::PumpMessagesFor(400);
    EXPECT_EQ(0, out.calls) << "a stopped download must not report";
    EXPECT_TRUE(WaitFor([] { return DownloadWorkshop()->RunningCount() == 0; }, 3000));

    const std::string partial = FileBytes();
    ASSERT_GE(partial.size(), 6000u);
    ASSERT_LT(partial.size(), 40000u);
    EXPECT_TRUE(partial == ExpectedContent(40000, 3).substr(0, partial.size()));

    // Submitting it again resumes where the file ends.
    DownloadOutcome again;
    ASSERT_TRUE(dl.Download(server_->Url(Path("t2?size=40000&seed=3")), file_, 40000, reinterpret_cast<uintptr_t>(&again),
                            &RecordDownloadDone, &RecordDownloadProgress));
    ASSERT_TRUE(Finish(again));
    EXPECT_EQ(0, again.type);
    std::vector<LoggedRequest> log = server_->Requests(Path("t2"));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("bytes=" + std::to_string(partial.size()) + "-", log[0].range);
    EXPECT_TRUE(FileBytes() == ExpectedContent(40000, 3));
    EXPECT_EQ(0, out.calls);
}

TEST_F(DownloadTest, SpeedIsTheMeanOfTheLastTenSamples)
{
    // The ticks are driven by hand here, so the timer must not add samples.
    KillTimer(nullptr, timer_);
    timer_ = 0;
    // Headers and then nothing: the download runs, with its length known.
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(Start(dl, Path("s?size=100000000&mode=stallhdr&hold=20"), 100000000, out));
    ASSERT_TRUE(WaitFor([&] { return dl.ContentLength() != 0; }));
    out.progress.clear();

    const uint32_t samples[] = {1000, 3000, 2000, 4000, 6000, 5000, 7000, 9000, 8000, 10000, 500000, 12000};
    for (uint32_t bytes : samples) {
        dl.AddRecvBytes(bytes);
        dl.OnProgressTick();
    }
    ASSERT_EQ(12u, out.progress.size());
    EXPECT_EQ(1000u, out.progress[0].speed) << "one second, one sample: its own rate";
    EXPECT_EQ(2000u, out.progress[1].speed);
    EXPECT_EQ(5500u, out.progress[9].speed);
    EXPECT_EQ((3000u + 2000 + 4000 + 6000 + 5000 + 7000 + 9000 + 8000 + 10000 + 500000) / 10, out.progress[10].speed);
    EXPECT_EQ((2000u + 4000 + 6000 + 5000 + 7000 + 9000 + 8000 + 10000 + 500000 + 12000) / 10, out.progress[11].speed);
    EXPECT_EQ(567000u, out.progress[11].completed);
    dl.Stop();
}

TEST_F(DownloadTest, UnopenableFileIsReportedWithoutRunning)
{
    CHttpDownloadFile dl;
    DownloadOutcome out;
    const std::wstring bad = dir_ / L"no-such-dir\\file.yw";
    ASSERT_TRUE(dl.Download(server_->Url(Path("x")), bad, 1000, reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone,
                            &RecordDownloadProgress));
    EXPECT_EQ(1, out.calls);
    EXPECT_EQ(ERR_SYS, out.type);
    EXPECT_EQ(DOWNLOAD_ERR_OPEN, out.code);
    EXPECT_FALSE(dl.IsRunning());
    EXPECT_TRUE(server_->Requests(Path()).empty());
    dl.Stop();
}

}  // namespace
}  // namespace httptest
