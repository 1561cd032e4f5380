#include "Http/HttpTestFixture.h"

namespace httptest {

int RecordCommand(uintptr_t user, std::string& body, int type, int code)
{
    CommandOutcome* out = reinterpret_cast<CommandOutcome*>(user);
    ++out->calls;
    out->type = type;
    out->code = code;
    out->body = body;
    return 0;
}

void RecordDownloadDone(uintptr_t user, int type, int code)
{
    DownloadOutcome* out = reinterpret_cast<DownloadOutcome*>(user);
    ++out->calls;
    out->type = type;
    out->code = code;
}

void RecordDownloadProgress(uintptr_t user, uint64_t total, uint64_t completed, uint32_t speed)
{
    reinterpret_cast<DownloadOutcome*>(user)->progress.push_back({total, completed, speed});
}

void HttpEngineTest::SetUp()
{
    server_ = &FaultServer::Get();
    ASSERT_NE(0, server_->Port()) << "the test HTTP server did not start";
    InitMainThreadDispatch();
    ASSERT_TRUE(StartCommandChannel());
    ASSERT_TRUE(StartDownloadChannel());
    timer_ = SetTimer(nullptr, 0, kTimerMs, &HttpTimerProc);
    ASSERT_NE(0u, timer_);
}

void HttpEngineTest::TearDown()
{
    if (timer_)
        KillTimer(nullptr, timer_);
    // Workers are joined first (within a bound, so a hung one fails the test
    // rather than the run); the events they left queued are then dropped
    // unrun, as at application exit.
    for (CCurlWorkshop* workshop : {CommandWorkshop(), DownloadWorkshop()}) {
        if (workshop) {
            EXPECT_TRUE(testsupport::StopWithin(*workshop, 10000)) << "an HTTP worker did not end";
        }
    }
    StopCommandChannel();
    StopDownloadChannel();
    ShutdownMainThreadDispatch();
}

std::string HttpEngineTest::Path(const std::string& suffix) const
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string path = "/" + std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : path)
        if (c == '/' && &c != &path[0])
            c = '_';
    return path + "/" + suffix;
}

}  // namespace httptest
