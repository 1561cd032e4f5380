// The request manager: the running limit, duplicates, retry waits, routing of
// stale events, moving between managers and shutting a channel down under load.

#include <cstring>

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

// A request that never reaches the network: enough to watch the manager's
// bookkeeping in isolation.
class FakeRequest : public CHttpBase {
public:
    FakeRequest() : CHttpBase(nullptr, nullptr) {}
    ~FakeRequest() override { Stop(); }
    void Done(CURLcode) override {}
    void OnHttpCode(int) override {}
    void WaitSince(DWORD tick)
    {
        retryWait_ = true;
        retryWaitSince_ = tick;
    }
};

class ManagerTest : public HttpEngineTest {};

TEST_F(ManagerTest, EleventhRequestWaitsForAFreeSlot)
{
    CHttpCommand cmds[11];
    for (int i = 0; i < 11; ++i) {
        cmds[i].SetUrl(server_->Url(Path("s" + std::to_string(i) + "?mode=stall&hold=10")));
        ASSERT_TRUE(SubmitCommand(&cmds[i]));
    }
    CHttpMgr* mgr = CommandManager();
    EXPECT_EQ(10u, mgr->Running());
    EXPECT_EQ(11u, mgr->Requests().size());
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(cmds[i].IsRunning() && cmds[i].IsCounted()) << i;
    EXPECT_FALSE(cmds[10].IsRunning());
    EXPECT_FALSE(cmds[10].IsCounted());
    ASSERT_TRUE(WaitFor([&] { return server_->Requests(Path()).size() == 10; }, 5000));

    cmds[3].Stop();
    EXPECT_TRUE(cmds[10].IsRunning());
    EXPECT_EQ(10u, mgr->Running());
    EXPECT_TRUE(WaitFor([&] { return server_->Requests(Path()).size() == 11; }, 5000));
    EXPECT_EQ(Path("s10?mode=stall&hold=10"), server_->Requests(Path()).back().path);

    for (CHttpCommand& c : cmds)
        c.Stop();
    EXPECT_EQ(0u, mgr->Running());
    EXPECT_TRUE(mgr->Requests().empty());
}

TEST_F(ManagerTest, DuplicateAddKeepsTheFirstIdAndStartsNothingNew)
{
    CHttpCommand cmd;
    cmd.SetUrl(server_->Url(Path("d?mode=stall&hold=5")));
    ASSERT_TRUE(SubmitCommand(&cmd));
    const uint64_t id = cmd.Id();
    EXPECT_EQ(static_cast<uint32_t>(cmd.Sequence()), static_cast<uint32_t>(id & 0xFFFFFFFFu));
    CCurlBase* transfer = cmd.Transfer();

    EXPECT_EQ(id, CommandManager()->Add(&cmd));
    EXPECT_TRUE(SubmitCommand(&cmd));
    EXPECT_EQ(id, cmd.Id());
    EXPECT_EQ(1u, CommandManager()->Requests().size());
    EXPECT_EQ(1u, CommandManager()->Running());
    EXPECT_EQ(1, cmd.Attempts());
    EXPECT_EQ(transfer, cmd.Transfer());
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ(1u, server_->Requests(Path()).size());
    cmd.Stop();
}

TEST_F(ManagerTest, EventsOfAnEarlierAttemptAreDropped)
{
    testsupport::TempDir dir;
    const std::wstring file = dir / L"f.yw";
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(dl.Download(server_->Url(Path("a?size=20000&mode=trickle&chunk=1000&delay=50")), file, 20000,
                            reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone, &RecordDownloadProgress));
    // Keep the old transfer alive so its address cannot be reused.
    CRefPtr<CCurlBase> old(dl.Transfer());
    ASSERT_TRUE(old);
    dl.Stop();
    testsupport::RemoveTree(file);
    ASSERT_TRUE(dl.Download(server_->Url(Path("b?size=20000&seed=2")), file, 20000, reinterpret_cast<uintptr_t>(&out),
                            &RecordDownloadDone, &RecordDownloadProgress));
    ASSERT_NE(old.get(), dl.Transfer());

    CHttpMgr* mgr = DownloadManager();
    mgr->OnHttpCode(old.get(), 404);
    mgr->OnRecvBytes(old.get(), 123456);
    mgr->OnDone(old.get(), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(0, out.calls);
    EXPECT_TRUE(dl.IsRunning());

    ASSERT_TRUE(WaitFor([&] { return out.calls > 0; }));
    EXPECT_EQ(1, out.calls);
    EXPECT_EQ(0, out.type);
    EXPECT_EQ(0, out.code);
    EXPECT_TRUE(testsupport::ReadBytes(file) == ExpectedContent(20000, 2));
}

TEST_F(ManagerTest, RetryWaitIsReleasedOnlyAfterMoreThan500ms)
{
    CHttpMgr mgr(2);
    const DWORD now = 100000;
    FakeRequest waiting[2], other;
    for (FakeRequest& r : waiting) {
        r.WaitSince(now);
        r.SetManager(&mgr);
        mgr.Add(&r);
    }
    other.SetManager(&mgr);
    mgr.Add(&other);  // its Schedule must leave the waiting ones alone
    EXPECT_TRUE(other.IsRunning());
    EXPECT_FALSE(waiting[0].IsRunning());

    EXPECT_FALSE(mgr.ReleaseRetryWaits(now + 500));
    EXPECT_FALSE(waiting[0].IsRunning());
    // Released together, they still start only up to the limit.
    EXPECT_TRUE(mgr.ReleaseRetryWaits(now + 501));
    EXPECT_TRUE(waiting[0].IsRunning());
    EXPECT_FALSE(waiting[1].IsRunning());
    EXPECT_EQ(2u, mgr.Running());

    // Across the wrap of the 32-bit tick count, and a start "in the future".
    struct Case {
        DWORD since, now;
        bool released;
    } cases[] = {
        {0xFFFFFF00u, 0x00000100u, true},   // 512 ms across the wrap
        {0xFFFFFF00u, 0x00000050u, false},  // 336 ms across the wrap
        {5000u, 4000u, false},              // began after "now"
    };
    for (const Case& c : cases) {
        CHttpMgr m;
        FakeRequest r;
        r.WaitSince(c.since);
        r.SetManager(&m);
        m.Add(&r);
        EXPECT_EQ(c.released, m.ReleaseRetryWaits(c.now)) << c.since << " " << c.now;
        EXPECT_EQ(c.released, r.IsRunning());
    }
}

TEST_F(ManagerTest, SubmitMovesARequestBoundToAnotherManager)
{
    CHttpMgr first, second;
    FakeRequest r;
    ASSERT_TRUE(Submit(&first, &r));
    ASSERT_TRUE(r.IsRunning());
    ASSERT_EQ(1u, first.Running());

    ASSERT_TRUE(Submit(&second, &r));
    EXPECT_FALSE(first.Contains(&r));
    EXPECT_EQ(0u, first.Running());
    EXPECT_TRUE(second.Contains(&r));
    EXPECT_EQ(&second, r.Manager());
    EXPECT_TRUE(r.IsRunning());
    EXPECT_EQ(2, r.Attempts());
    EXPECT_FALSE(Submit(nullptr, &r));
}

// A download whose file is already complete reports from inside its own
// start; its callback deletes it, as an owner that is done with it may. The
// freed memory is overwritten, as a reused heap block would be, so that any
// later read of the request shows.
class SelfEndingDownload : public CHttpDownloadFile {
public:
    SelfEndingDownload(CCurlWorkshop* workshop, CHttpMgr* manager) : CHttpDownloadFile(workshop, manager) {}
    static void operator delete(void* p, size_t size)
    {
        memset(p, 0xDD, size);
        ::operator delete(p);
    }
    static void DeleteOnDone(uintptr_t user, int, int)
    {
        SelfEndingDownload* self = reinterpret_cast<SelfEndingDownload*>(user);
        *self->idSeen = self->Id();
        delete self;
    }
    uint64_t* idSeen = nullptr;
};

TEST_F(ManagerTest, AddReturnsTheIdOfARequestItsOwnCallbackDeleted)
{
    testsupport::TempDir dir;
    const std::wstring file = dir / L"done.yw";
    ASSERT_TRUE(testsupport::WriteBytes(file, ExpectedContent(1000, 1)));
    CHttpMgr mgr;
    uint64_t idSeen = 0;
    SelfEndingDownload* dl = new SelfEndingDownload(DownloadWorkshop(), &mgr);
    dl->idSeen = &idSeen;
    dl->SetUrl(server_->Url(Path("x")));
    dl->SetLocalPath(file);
    dl->SetExpectedSize(1000);
    dl->SetCallbacks(&SelfEndingDownload::DeleteOnDone, nullptr, reinterpret_cast<uintptr_t>(dl));
    dl->SetManager(&mgr);
    const uint64_t id = mgr.Add(dl);
    ASSERT_NE(0u, idSeen) << "the request did not report from its start";
    EXPECT_EQ(idSeen, id);
    EXPECT_TRUE(mgr.Requests().empty());
    EXPECT_EQ(0u, mgr.Running());
}

TEST_F(ManagerTest, StoppingChannelsUnderLoadJoinsAndLeaksNothing)
{
    testsupport::TempDir dir;
    {
        CHttpCommand cmds[3];
        for (int i = 0; i < 3; ++i) {
            cmds[i].SetUrl(server_->Url(Path("c" + std::to_string(i) + "?mode=stall&hold=10")));
            ASSERT_TRUE(SubmitCommand(&cmds[i]));
        }
        CHttpDownloadFile dl;
        DownloadOutcome out;
        ASSERT_TRUE(dl.Download(server_->Url(Path("d?size=100000&mode=trickle&chunk=1000&delay=20")), dir / L"d.yw", 100000,
                                reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone, &RecordDownloadProgress));
        ASSERT_TRUE(WaitFor([&] { return server_->Requests(Path()).size() == 4; }, 5000));
        ASSERT_TRUE(WaitFor([&] { return DownloadLocalFileSize(dir / L"d.yw") > 0; }, 5000));

        const DWORD begin = GetTickCount();
        StopCommandChannel();
        StopDownloadChannel();
        EXPECT_LT(GetTickCount() - begin, 2000u);
        EXPECT_EQ(nullptr, CommandManager());
        EXPECT_EQ(nullptr, DownloadWorkshop());
        for (CHttpCommand& c : cmds) {
            EXPECT_EQ(nullptr, c.Manager());
            EXPECT_EQ(nullptr, c.Workshop());
        }
        EXPECT_EQ(nullptr, dl.Manager());
        EXPECT_FALSE(SubmitDownload(&dl));
        EXPECT_FALSE(SubmitCommand(&cmds[0]));
        // Events the workers queued before they were joined are dropped unrun.
        ShutdownMainThreadDispatch();
        EXPECT_EQ(0, out.calls);
    }
    EXPECT_EQ(0, CCurlBase::LiveCount());

    // A request bound to a channel that was stopped before it was ever queued
    // can still be destroyed.
    InitMainThreadDispatch();
    ASSERT_TRUE(StartCommandChannel());
    {
        CHttpCommand unqueued;
        EXPECT_EQ(CommandManager(), unqueued.Manager());
        StopCommandChannel();
    }
    ASSERT_TRUE(StartCommandChannel());
    ASSERT_TRUE(StartDownloadChannel());
}

}  // namespace
}  // namespace httptest
