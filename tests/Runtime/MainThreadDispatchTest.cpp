#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Runtime/MainThreadDispatch.h"
#include "support/TestSupport.h"

namespace {

// What ran, in which drain, and when it ended.
struct Record {
    int source;
    int seq;
    int drain;
    double endedAt;
};

struct Journal {
    std::mutex mutex;
    std::vector<Record> records;
    int currentDrain = 0;
    std::atomic<int> destroyed{0};
};

struct Work {
    Journal* journal;
    int source;
    int seq;
    int sleepMs;
    bool followUp = false;  // posts the next one of its source once it ran
};

void Post(Journal& j, int source, int seq, int sleepMs = 0);

void DoWork(Work w, int)
{
    if (w.sleepMs)
        Sleep(static_cast<DWORD>(w.sleepMs));
    {
        std::lock_guard<std::mutex> lock(w.journal->mutex);
        w.journal->records.push_back(Record{w.source, w.seq, w.journal->currentDrain, NowSeconds()});
    }
    if (w.followUp)
        Post(*w.journal, w.source, w.seq + 1);
}

typedef MainThreadTask2<Work, Work, int, int> WorkTask;

// Counts its own destruction so tests can see tasks released exactly once.
class CountedTask : public WorkTask {
public:
    CountedTask(const Work& w) : WorkTask(&DoWork, w, 0), journal_(w.journal) {}
    ~CountedTask() override { ++journal_->destroyed; }

private:
    Journal* journal_;
};

void Post(Journal& j, int source, int seq, int sleepMs)
{
    CRefPtr<MainThreadTaskBase> task(new CountedTask(Work{&j, source, seq, sleepMs}));
    PostMainThreadTask(&RunTaskTrampoline, task);
}

// Removes and counts the wake-up messages waiting in this thread's queue.
int TakeWakeUps()
{
    int n = 0;
    MSG msg;
    while (PeekMessageW(&msg, MainThreadDispatchWindow(), MainThreadFiredMessage(), MainThreadFiredMessage(),
                        PM_REMOVE))
        ++n;
    return n;
}

// The UI thread's loop, numbering each drain so tasks can record which one ran them.
bool RunLoopUntil(Journal& j, size_t expected, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == MainThreadFiredMessage() && msg.hwnd == MainThreadDispatchWindow()) {
                std::lock_guard<std::mutex> lock(j.mutex);
                ++j.currentDrain;
            }
            DispatchMessageW(&msg);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(j.mutex);
            if (j.records.size() >= expected)
                return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return false;
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitMainThreadDispatch();
        TakeWakeUps();
        DrainMainThreadTasks();  // nothing left over from an earlier test
        ASSERT_NE(MainThreadDispatchWindow(), nullptr);
        ASSERT_NE(MainThreadFiredMessage(), 0u);
    }
};

}  // namespace

TEST_F(Dispatch, OneWakeUpForABurstAndALongTaskEndsTheDrain)
{
    Journal j;
    Post(j, 0, 1, 80);
    Post(j, 0, 2);
    Post(j, 0, 3);
    EXPECT_EQ(TakeWakeUps(), 1);  // only the empty-to-non-empty post woke the window
    EXPECT_EQ(PendingMainThreadTasks(), 3u);

    DrainMainThreadTasks();
    ASSERT_EQ(j.records.size(), 1u);
    EXPECT_EQ(PendingMainThreadTasks(), 2u);
    EXPECT_EQ(TakeWakeUps(), 1);  // re-posted by the drain that ran out of time

    DrainMainThreadTasks();
    ASSERT_EQ(j.records.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(j.records[i].seq, i + 1);  // in posting order
    EXPECT_EQ(j.destroyed, 3);  // the queue's and the drain's references are gone
    EXPECT_EQ(TakeWakeUps(), 0);

    // The queue is empty again, so the next post wakes the window again.
    Post(j, 0, 4);
    EXPECT_EQ(TakeWakeUps(), 1);
    DrainMainThreadTasks();
}

TEST_F(Dispatch, ManyThreadsKeepTheirOrderAndEveryDrainKeepsItsBudget)
{
    Journal j;
    const int kThreads = 4, kPerThread = 150;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&j, t] {
            for (int i = 0; i < kPerThread; ++i)
                Post(j, t, i, (i % 10 == 0) ? 3 : 0);
        });
    const size_t total = kThreads * kPerThread;
    ASSERT_TRUE(RunLoopUntil(j, total, 20000));
    for (auto& w : workers)
        w.join();

    std::map<int, int> next;
    std::map<int, std::vector<const Record*>> byDrain;
    for (const Record& r : j.records) {
        EXPECT_EQ(r.seq, next[r.source]++) << "thread " << r.source;
        byDrain[r.drain].push_back(&r);
    }
    EXPECT_EQ(j.destroyed, static_cast<int>(total));

    // Within a drain only the last task may end past 50 ms after the first began.
    int cutByBudget = 0;
    for (auto& d : byDrain) {
        const auto& tasks = d.second;
        const double first = tasks.front()->endedAt;
        for (size_t k = 0; k + 1 < tasks.size(); ++k)
            EXPECT_LE(tasks[k]->endedAt - first, 0.05 + 0.01) << "drain " << d.first;
        if (tasks.back()->endedAt - first > 0.04)
            ++cutByBudget;
    }
    EXPECT_GT(byDrain.size(), 1u);
    EXPECT_GT(cutByBudget, 0) << "about 180 ms of work should need more than one drain";
    EXPECT_EQ(PendingMainThreadTasks(), 0u);
}

TEST_F(Dispatch, ATaskPostedDuringADrainRunsInTheSameDrain)
{
    Journal j;
    CRefPtr<MainThreadTaskBase> first(new CountedTask(Work{&j, 1, 1, 0, true}));
    PostMainThreadTask(first);
    first = nullptr;
    ASSERT_EQ(TakeWakeUps(), 1);

    DrainMainThreadTasks();
    ASSERT_EQ(j.records.size(), 2u);
    EXPECT_EQ(j.records[1].seq, 2);
    // The follow-up found the queue empty, so it posted a wake-up of its own;
    // the drain it causes has nothing to do.
    EXPECT_EQ(TakeWakeUps(), 1);
    DrainMainThreadTasks();
    EXPECT_EQ(j.records.size(), 2u);
}

TEST_F(Dispatch, ShutdownReleasesPendingTasksWithoutRunningThem)
{
    Journal j;
    Post(j, 0, 1);
    Post(j, 0, 2);
    TakeWakeUps();
    ShutdownMainThreadDispatch();
    EXPECT_EQ(j.destroyed, 2);
    EXPECT_TRUE(j.records.empty());
    EXPECT_EQ(PendingMainThreadTasks(), 0u);
    EXPECT_FALSE(IsWindow(MainThreadDispatchWindow()));

    // A start after shutdown brings up a working window again.
    InitMainThreadDispatch();
    ASSERT_TRUE(IsWindow(MainThreadDispatchWindow()));
    Post(j, 0, 3);
    ASSERT_TRUE(RunLoopUntil(j, 1, 2000));
}

TEST(RefPtr, CountsReferencesAndDeletesOnce)
{
    Journal j;
    {
        CRefPtr<MainThreadTaskBase> a(new CountedTask(Work{&j, 0, 0, 0}));
        EXPECT_EQ(a->RefCount(), 1);
        CRefPtr<MainThreadTaskBase> b = a;
        EXPECT_EQ(a->RefCount(), 2);
        b = a;  // assigning the same object keeps it alive
        EXPECT_EQ(a->RefCount(), 2);
        CRefPtr<MainThreadTaskBase> c(std::move(b));
        EXPECT_FALSE(b);
        EXPECT_EQ(a->RefCount(), 2);
        c = nullptr;
        EXPECT_EQ(j.destroyed, 0);
    }
    EXPECT_EQ(j.destroyed, 1);
}
