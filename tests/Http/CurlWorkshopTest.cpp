// A transfer object and a workshop on their own, with a listener that records
// every event in order.

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

struct Event {
    const char* slot;
    long long value;
    bool operator==(const Event& o) const { return std::string(slot) == o.slot && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Event& e)
{
    return os << e.slot << "(" << e.value << ")";
}

class RecordingListener : public CurlListener {
public:
    void OnDone(CCurlBase*, CURLcode code) override { events.push_back({"done", code}); }
    void OnRecvBytes(CCurlBase*, unsigned int bytes) override { events.push_back({"recv", bytes}); }
    void OnSendBytes(CCurlBase*, unsigned int bytes) override { events.push_back({"send", bytes}); }
    void OnHttpCode(CCurlBase*, int status) override { events.push_back({"http", status}); }
    void OnRemoved(CCurlBase*, int value) override { events.push_back({"removed", value}); }
    void OnAdded(CCurlBase*, int value) override { events.push_back({"added", value}); }

    bool Has(const char* slot) const
    {
        for (const Event& e : events)
            if (std::string(e.slot) == slot)
                return true;
        return false;
    }
    std::vector<Event> events;
};

class WorkshopTest : public HttpEngineTest {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(testsupport::StopWithin(workshop_, 10000));
        workshop_.Uninit();
        HttpEngineTest::TearDown();
    }
    CRefPtr<CCurlBase> NewTransfer(const std::string& path)
    {
        CCurlHttp* http = new CCurlHttp(&listener_);
        CRefPtr<CCurlBase> ref(http);
        http->SetWriteStream(new OBufferStream());
        EXPECT_TRUE(http->Prepare(server_->Url(path), CCurlHttp::kMethodGet, 0, 5));
        return ref;
    }
    bool RunUntilDone()
    {
        return WaitFor([&] { return listener_.Has("done"); });
    }

    RecordingListener listener_;
    CCurlWorkshop workshop_;
};

TEST_F(WorkshopTest, QueueChangesNeedAMultiHandle)
{
    CRefPtr<CCurlBase> t = NewTransfer(Path("x"));
    EXPECT_FALSE(workshop_.AddTransfer(t));
    EXPECT_FALSE(workshop_.RemoveTransfer(t));
    ASSERT_TRUE(workshop_.Init());
    EXPECT_TRUE(workshop_.AddTransfer(t));
    workshop_.Uninit();
    EXPECT_FALSE(workshop_.AddTransfer(t));
    EXPECT_EQ(0u, workshop_.PendingCount());
}

TEST_F(WorkshopTest, WithdrawBeforeTheNextCycleNeverReachesTheNetwork)
{
    ASSERT_TRUE(workshop_.Init());
    CRefPtr<CCurlBase> t = NewTransfer(Path("w"));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(workshop_.RemoveTransfer(t));
    t->SetActive(false);
    ASSERT_TRUE(workshop_.Start());
    ASSERT_TRUE(WaitFor([&] { return listener_.events.size() >= 2; }, 3000));
    testsupport::PumpMessagesFor(200);
    EXPECT_EQ((std::vector<Event>{{"removed", 0}, {"removed", 0}}), listener_.events);
    EXPECT_EQ(0u, workshop_.PendingCount());
    EXPECT_EQ(0u, workshop_.RunningCount());
    EXPECT_TRUE(server_->Requests(Path()).empty());
}

TEST_F(WorkshopTest, RemoveThenAddOfAnActiveTransferRunsIt)
{
    ASSERT_TRUE(workshop_.Init());
    CRefPtr<CCurlBase> t = NewTransfer(Path("ra?size=10"));
    ASSERT_TRUE(workshop_.RemoveTransfer(t));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(workshop_.Start());
    ASSERT_TRUE(RunUntilDone());
    ASSERT_FALSE(listener_.events.empty());
    EXPECT_EQ((Event{"added", 0}), listener_.events.front());
    EXPECT_EQ((Event{"done", CURLE_OK}), listener_.events.back());
    EXPECT_FALSE(listener_.Has("removed"));
    // Done is posted just before the worker detaches the handle.
    EXPECT_TRUE(WaitFor([&] { return workshop_.RunningCount() == 0; }, 1000));
    EXPECT_EQ(nullptr, t->EasyHandle()) << "the worker cleans the handle up when it is done";
}

TEST_F(WorkshopTest, EachAnswerPostsItsStatusAndOnlyTheFinalOneKeepsHeaders)
{
    ASSERT_TRUE(workshop_.Init());
    ASSERT_TRUE(workshop_.Start());
    struct Case {
        const char* query;
        int first;
        const wchar_t* passedBy;  // a header only the passing answer carries
        const wchar_t* length;    // the final answer's Content-Length
    } cases[] = {
        {"mode=redirect&hops=1&rbody=300", 302, L"Location", L"1000"},
        {"mode=early&hintlen=5", 103, L"Link", L"1000"},
        // The trailer after a chunked body is no answer of its own.
        {"mode=early&hintlen=5&then=chunked&trailer=1", 103, L"Link", L""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        listener_.events.clear();
        CRefPtr<CCurlBase> t = NewTransfer(Path(std::to_string(++n)) + "?size=1000&seed=3&" + c.query);
        ASSERT_TRUE(workshop_.AddTransfer(t));
        ASSERT_TRUE(RunUntilDone());
        EXPECT_EQ((std::vector<Event>{{"added", 0}, {"http", c.first}, {"http", 200}, {"done", CURLE_OK}}), listener_.events);

        CCurlHttp* http = static_cast<CCurlHttp*>(t.get());
        EXPECT_EQ(200, http->HttpStatus());
        EXPECT_EQ(c.length, http->Headers().Find(L"Content-Length").string());
        EXPECT_FALSE(http->Headers().Has(c.passedBy)) << "headers of an answer that passed by stay";
        EXPECT_FALSE(http->Headers().Has(L"content-length")) << "names are kept as received";
        OBufferStream* body = static_cast<OBufferStream*>(http->WriteStream());
        ASSERT_EQ(1000u, body->Size());
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(body->Buffer()), body->Size()) == ExpectedContent(1000, 3));
    }
}

TEST_F(WorkshopTest, ErrorStatusPostsPerHeaderLineAndWritesNoBody)
{
    ASSERT_TRUE(workshop_.Init());
    ASSERT_TRUE(workshop_.Start());
    CRefPtr<CCurlBase> t = NewTransfer(Path("e?mode=status&code=404"));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(RunUntilDone());
    size_t statusEvents = 0;
    for (const Event& e : listener_.events)
        if (std::string(e.slot) == "http") {
            EXPECT_EQ(404, e.value);
            ++statusEvents;
        }
    EXPECT_GE(statusEvents, 4u) << "status line, headers and the blank line each post one";
    EXPECT_EQ((Event{"done", CURLE_WRITE_ERROR}), listener_.events.back());
    CCurlHttp* http = static_cast<CCurlHttp*>(t.get());
    EXPECT_EQ(0u, http->Headers().Count());
    EXPECT_EQ(0u, static_cast<OBufferStream*>(http->WriteStream())->Size());
}

TEST_F(WorkshopTest, ARestartedWorkerRunsTransfersAgain)
{
    ASSERT_TRUE(workshop_.Init());
    ASSERT_TRUE(workshop_.Start());
    ASSERT_TRUE(testsupport::StopWithin(workshop_, 5000));
    ASSERT_TRUE(workshop_.Start());
    CRefPtr<CCurlBase> t = NewTransfer(Path("again?size=10"));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ((Event{"done", CURLE_OK}), listener_.events.back());
}

TEST_F(WorkshopTest, InactiveTransferIsDetachedWithoutDone)
{
    ASSERT_TRUE(workshop_.Init());
    ASSERT_TRUE(workshop_.Start());
    CRefPtr<CCurlBase> t = NewTransfer(Path("s?mode=stallhdr&size=1000"));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("http"); }, 5000));
    t->SetActive(false);
    t->CloseStreams();
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("removed"); }, 3000));
    testsupport::PumpMessagesFor(200);
    EXPECT_FALSE(listener_.Has("done"));
    EXPECT_EQ(nullptr, t->EasyHandle());
    EXPECT_EQ(0u, workshop_.RunningCount());
}

// The worker sleeps in libcurl's wait; only the UI thread's wake-up (or a
// socket, or libcurl's own timer) ends that sleep. With an idle limit of a
// minute, anything that happens within seconds proves the wake-up.
class SleepingWorkshopTest : public WorkshopTest {
protected:
    static const int kLongIdleMs = 60000;
    SleepingWorkshopTest() : sleepy_(kLongIdleMs) {}
    void TearDown() override
    {
        sleepy_.Stop(INFINITE);
        sleepy_.Uninit();
        WorkshopTest::TearDown();
    }
    CCurlWorkshop sleepy_;
};

TEST_F(SleepingWorkshopTest, QueueChangesAndStopWakeAnIdleWorker)
{
    ASSERT_TRUE(sleepy_.Init());
    ASSERT_TRUE(sleepy_.Start());
    ASSERT_TRUE(WaitFor([&] { return sleepy_.WaitCount() >= 1; }, 5000));
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(1u, sleepy_.WaitCount()) << "an idle worker sleeps until it is woken";

    CRefPtr<CCurlBase> t = NewTransfer(Path("a?size=10"));
    ASSERT_TRUE(sleepy_.AddTransfer(t));
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("done"); }, 10000)) << "adding a transfer wakes the worker";
    EXPECT_EQ((Event{"done", CURLE_OK}), listener_.events.back());

    CRefPtr<CCurlBase> stalled = NewTransfer(Path("s?mode=stallhdr&size=1000"));
    ASSERT_TRUE(sleepy_.AddTransfer(stalled));
    ASSERT_TRUE(WaitFor([&] { return listener_.events.size() >= 5; }, 10000));  // added, http (x2)
    stalled->SetActive(false);
    ASSERT_TRUE(sleepy_.RemoveTransfer(stalled));
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("removed"); }, 10000)) << "withdrawing wakes the worker";

    const DWORD before = GetTickCount();
    sleepy_.Stop(INFINITE);
    EXPECT_LT(GetTickCount() - before, 10000u) << "a stop wakes the worker instead of waiting out its sleep";
    EXPECT_FALSE(sleepy_.IsRunning());
}

TEST_F(WorkshopTest, AWaitingTransferCostsNoCycles)
{
    // Headers, then silence: the old design polled its sockets every 5 ms;
    // now the worker wakes only for libcurl's own timers (its once-a-second
    // stall check), so a second of waiting is a handful of wake-ups.
    ASSERT_TRUE(workshop_.Init());
    ASSERT_TRUE(workshop_.Start());
    CRefPtr<CCurlBase> t = NewTransfer(Path("s?mode=stallhdr&size=1000&hold=5"));
    ASSERT_TRUE(workshop_.AddTransfer(t));
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("http"); }, 5000));
    testsupport::PumpMessagesFor(100);
    const uint64_t before = workshop_.WaitCount();
    testsupport::PumpMessagesFor(1500);
    EXPECT_LE(workshop_.WaitCount() - before, 20u);
    t->SetActive(false);
    t->CloseStreams();
    ASSERT_TRUE(workshop_.RemoveTransfer(t));
    ASSERT_TRUE(WaitFor([&] { return listener_.Has("removed"); }, 5000));
}

}  // namespace
}  // namespace httptest
