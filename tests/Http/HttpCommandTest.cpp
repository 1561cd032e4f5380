// Commands through the real engine: the command channel's worker, the
// dispatcher on this thread's message loop and the fault-injecting server.

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

// Records when each attempt starts and the statuses routed to the request.
class ProbeCommand : public CHttpCommand {
public:
    bool Start() override
    {
        bool started = CHttpCommand::Start();
        if (started) {
            starts.push_back(GetTickCount());
            waitSince.push_back(retryWaitSince_);
        }
        return started;
    }
    void OnHttpCode(int status) override
    {
        statuses.push_back(status);
        CHttpCommand::OnHttpCode(status);
    }
    std::vector<DWORD> starts;
    std::vector<DWORD> waitSince;
    std::vector<int> statuses;
};

class CommandTest : public HttpEngineTest {};

TEST_F(CommandTest, BodyArrivesWholeAndEmptyBodyIsSuccess)
{
    struct Case {
        uint64_t size;
        int seed;
    } cases[] = {{5000, 3}, {0, 1}, {3 * 1024 * 1024 + 7, 9}};  // the last one outgrows the 2 MiB buffer
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        CHttpCommand cmd;
        CommandOutcome out;
        ASSERT_TRUE(RunCommand(cmd, server_->Url(Path("c?size=" + std::to_string(c.size) + "&seed=" + std::to_string(c.seed))), out));
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(0, out.type);
        EXPECT_EQ(0, out.code);
        EXPECT_TRUE(out.body == ExpectedContent(c.size, c.seed)) << "body of " << out.body.size() << " bytes differs";
        EXPECT_FALSE(cmd.IsRunning());
        EXPECT_EQ(nullptr, cmd.Manager());
        EXPECT_EQ(0, cmd.Attempts());
    }
}

TEST_F(CommandTest, HttpErrorIsReportedAtOnceWithoutBodyOrRetry)
{
    for (int status : {404, 500}) {
        SCOPED_TRACE(status);
        ProbeCommand cmd;
        CommandOutcome out;
        const std::string path = Path(std::to_string(status) + "?mode=status&code=" + std::to_string(status));
        ASSERT_TRUE(RunCommand(cmd, server_->Url(path), out));
        EXPECT_EQ(ERR_HTTP, out.type);
        EXPECT_EQ(status, out.code);
        EXPECT_TRUE(out.body.empty());
        EXPECT_EQ(1u, cmd.starts.size());
        EXPECT_EQ(1u, server_->Requests(path).size());
        ASSERT_FALSE(cmd.statuses.empty());
        EXPECT_EQ(status, cmd.statuses.back());
    }
}

TEST_F(CommandTest, RefusedConnectionIsRetriedTwiceAfterWaitsThenReported)
{
    ProbeCommand cmd;
    CommandOutcome out;
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(RefusingPort()) + L"/refused";
    ASSERT_TRUE(RunCommand(cmd, url, out, 15000));
    EXPECT_EQ(1, out.calls);
    EXPECT_EQ(ERR_CURL, out.type);
    EXPECT_EQ(CURLE_COULDNT_CONNECT, out.code);
    ASSERT_EQ(3u, cmd.starts.size());
    for (size_t i = 1; i < cmd.starts.size(); ++i) {
        // Each retry starts more than 500 ms after its wait began.
        EXPECT_GT(cmd.starts[i] - cmd.waitSince[i], 500u) << "retry " << i;
        EXPECT_LT(cmd.starts[i] - cmd.waitSince[i], 500u + 3 * kTimerMs + 200) << "retry " << i;
    }
    EXPECT_FALSE(cmd.IsRetryWait());
}

TEST_F(CommandTest, ConnectTimeoutAgainstAListenerThatNeverAccepts)
{
    const int deaf = server_->DeafPort();
    ASSERT_NE(0, deaf);
    ProbeCommand cmd;
    cmd.SetConnectTimeout(1);
    cmd.SetMaxRetries(0);
    CommandOutcome out;
    const DWORD begin = GetTickCount();
    ASSERT_TRUE(RunCommand(cmd, L"http://127.0.0.1:" + std::to_wstring(deaf) + L"/deaf", out, 10000));
    EXPECT_EQ(ERR_CURL, out.type);
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, out.code);
    EXPECT_GE(GetTickCount() - begin, 900u);
    EXPECT_EQ(1u, cmd.starts.size());
}

TEST_F(CommandTest, RedirectChainReportsEachStatusInOrder)
{
    ProbeCommand cmd;
    CommandOutcome out;
    ASSERT_TRUE(RunCommand(cmd, server_->Url(Path("r?mode=redirect&hops=1&size=300&seed=4")), out));
    EXPECT_EQ(0, out.type);
    EXPECT_EQ((std::vector<int>{302, 200}), cmd.statuses);
    EXPECT_TRUE(out.body == ExpectedContent(300, 4));

    ProbeCommand longer;
    CommandOutcome out2;
    ASSERT_TRUE(RunCommand(longer, server_->Url(Path("r5?mode=redirect&hops=5&size=10")), out2));
    EXPECT_EQ(0, out2.type);
    EXPECT_EQ((std::vector<int>{302, 302, 302, 302, 302, 200}), longer.statuses);

    // Six hops exceed the five redirects allowed.
    ProbeCommand tooLong;
    tooLong.SetMaxRetries(0);
    CommandOutcome out3;
    ASSERT_TRUE(RunCommand(tooLong, server_->Url(Path("r6?mode=redirect&hops=6&size=10")), out3));
    EXPECT_EQ(ERR_CURL, out3.type);
    EXPECT_EQ(CURLE_TOO_MANY_REDIRECTS, out3.code);
}

TEST_F(CommandTest, PostSendsItsDataOrAnEmptyBody)
{
    for (const std::string& data : {std::string("name=value&x=1"), std::string()}) {
        SCOPED_TRACE(data);
        CHttpCommand cmd;
        cmd.SetMethod(CHttpBase::kMethodPost);
        cmd.SetPostData(data);
        CommandOutcome out;
        const std::string path = Path("post" + std::to_string(data.size()));
        ASSERT_TRUE(RunCommand(cmd, server_->Url(path), out));
        EXPECT_EQ(0, out.type);
        EXPECT_EQ("posted " + std::to_string(data.size()) + " bytes", out.body);
        std::vector<LoggedRequest> log = server_->Requests(path);
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ("POST", log[0].method);
    }
}

TEST_F(CommandTest, StartOfARunningRequestChangesNothing)
{
    CHttpCommand cmd;
    cmd.SetUrl(server_->Url(Path("s?mode=stall&hold=5")));
    ASSERT_TRUE(SubmitCommand(&cmd));
    ASSERT_TRUE(cmd.IsRunning());
    CCurlBase* transfer = cmd.Transfer();
    EXPECT_FALSE(cmd.Start());
    EXPECT_EQ(1, cmd.Attempts());
    EXPECT_EQ(transfer, cmd.Transfer());
    cmd.Stop();
}

}  // namespace
}  // namespace httptest
