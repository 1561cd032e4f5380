// Servers that misbehave in ways a resumable download must survive: one that
// stops sending mid-exchange (a dead link, a captive portal that holds the
// connection) must end the request with a failure the caller can retry, and an
// answer rejected for its length must leave nothing of itself in the file.

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

class ServerFaultTest : public HttpEngineTest {};

TEST_F(ServerFaultTest, SilentAnswersEndInARetryableFailure)
{
    // The server would hold both connections for a minute; the requests must
    // give up long before. Both run at once, so the case costs one stall.
    const DWORD kMustEndWithinMs = 30000;

    testsupport::TempDir dir;
    CHttpDownloadFile dl;
    dl.SetMaxRetries(0);
    DownloadOutcome download;
    ASSERT_TRUE(dl.Download(server_->Url(Path("d?mode=stallhdr&size=100000&hold=60")), dir / L"p.yw", 100000,
                            reinterpret_cast<uintptr_t>(&download), &RecordDownloadDone, &RecordDownloadProgress));

    CHttpCommand cmd;  // a manifest endpoint that never answers at all
    cmd.SetMaxRetries(0);
    cmd.SetUrl(server_->Url(Path("c?mode=stall&hold=60")));
    CommandOutcome command;
    cmd.SetCallback(&RecordCommand, reinterpret_cast<uintptr_t>(&command));
    ASSERT_TRUE(SubmitCommand(&cmd));

    const DWORD started = GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return download.calls > 0 && command.calls > 0; }, kMustEndWithinMs))
        << "a stalled exchange never ended";
    EXPECT_EQ(ERR_CURL, download.type) << "a curl failure, so the engine and the window retry it";
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, download.code);
    EXPECT_EQ(ERR_CURL, command.type);
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, command.code);
    // Not so eager that a slow but living link is cut at once.
    EXPECT_GE(GetTickCount() - started, 5000u);
}

TEST_F(ServerFaultTest, AStoppedRequestOnAStalledConnectionIsGoneWithinASecond)
{
    // Nothing arrives on these connections, so no callback of libcurl's can
    // notice that the requests were let go: only the worker's withdrawal ends
    // the transfers.
    testsupport::TempDir dir;
    CHttpDownloadFile dl;
    DownloadOutcome download;
    ASSERT_TRUE(dl.Download(server_->Url(Path("d?mode=stallhdr&size=100000&hold=30")), dir / L"p.yw", 100000,
                            reinterpret_cast<uintptr_t>(&download), &RecordDownloadDone, &RecordDownloadProgress));
    CHttpCommand cmd;
    cmd.SetUrl(server_->Url(Path("c?mode=stall&hold=30")));
    ASSERT_TRUE(SubmitCommand(&cmd));
    ASSERT_TRUE(WaitFor([&] { return dl.ContentLength() != 0 && server_->Requests(Path()).size() == 2; }));
    ASSERT_EQ(1u, DownloadWorkshop()->RunningCount());
    ASSERT_EQ(1u, CommandWorkshop()->RunningCount());

    dl.Stop();
    cmd.Stop();
    auto idle = [](CCurlWorkshop* w) {
        return w->RunningCount() == 0 && w->PendingCount() == 0 && w->WithdrawnCount() == 0;
    };
    EXPECT_TRUE(WaitFor([&] { return idle(DownloadWorkshop()) && idle(CommandWorkshop()); }, 1000));
    EXPECT_EQ(0, download.calls);
}

TEST_F(ServerFaultTest, AnAnswerOfTheWrongLengthLeavesThePartialFileAsItWas)
{
    // The body streams in on the worker while the length check travels to
    // this thread: plenty of it arrives before the answer is rejected.
    const uint64_t kSize = 4000000;
    testsupport::TempDir dir;
    const std::wstring file = dir / L"p.yw";
    const std::string partial = ExpectedContent(400, 3);
    ASSERT_TRUE(testsupport::WriteBytes(file, partial));
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(dl.Download(server_->Url(Path("m?size=4000000&seed=9&mode=badlen&len=3000000")), file, kSize,
                            reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone, &RecordDownloadProgress));
    ASSERT_TRUE(WaitFor([&] { return out.calls > 0; }));
    EXPECT_EQ(ERR_USER, out.type);
    EXPECT_EQ(DOWNLOAD_ERR_LENGTH_MISMATCH, out.code);
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(partial.size(), testsupport::ReadBytes(file).size()) << "a later resume would build on foreign bytes";
    EXPECT_TRUE(testsupport::ReadBytes(file) == partial);
}

}  // namespace
}  // namespace httptest
