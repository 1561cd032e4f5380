#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "Runtime/Logger.h"
#include "Runtime/SimpleThread.h"
#include "support/TestSupport.h"

namespace {

// A worker whose behaviour each test picks.
class Worker : public CSimpleThread {
public:
    enum Mode { kPollStop, kReturnAtOnce, kIgnoreStop, kStopFromInside };

    explicit Worker(Mode m) : mode(m) {}
    ~Worker() override
    {
        release = true;
        Stop(5000);
    }

    Mode mode;
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    std::atomic<bool> insideStopReturned{false};

protected:
    void Run() override
    {
        ++runs;
        switch (mode) {
        case kPollStop:
            while (!stopRequested_)
                Sleep(1);
            break;
        case kReturnAtOnce:
            break;
        case kIgnoreStop:
            while (!release)
                Sleep(1);
            break;
        case kStopFromInside:
            Stop(INFINITE);
            insideStopReturned = true;
            break;
        }
    }
};

bool WaitFor(const std::function<bool()>& cond)
{
    return testsupport::PumpMessagesUntil(cond, 5000);
}

}  // namespace

TEST(SimpleThread, StartTwiceKeepsOneThreadStopFromOutsideJoinsAndARestartBeginsAfresh)
{
    Worker w(Worker::kPollStop);
    ASSERT_TRUE(w.Start());
    HANDLE h = w.ThreadHandle();
    unsigned id = w.ThreadId();
    ASSERT_NE(h, nullptr);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(w.Start());
    EXPECT_EQ(w.ThreadHandle(), h);
    ASSERT_TRUE(WaitFor([&] { return w.runs == 1; }));

    EXPECT_TRUE(testsupport::StopWithin(w, 5000));
    EXPECT_TRUE(w.StopRequested());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.ThreadHandle(), nullptr);
    EXPECT_EQ(w.ThreadId(), 0u);
    EXPECT_EQ(w.runs, 1);
    // Nothing left to stop or destroy.
    w.Stop(0);
    EXPECT_FALSE(w.DestroyThread(0));

    // A restarted thread does not take the earlier stop request for its own.
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitFor([&] { return w.runs == 2; }));
    EXPECT_FALSE(w.StopRequested());
    Sleep(100);
    EXPECT_TRUE(w.IsRunning());
    EXPECT_TRUE(testsupport::StopWithin(w, 5000));
}

TEST(SimpleThread, TimedOutStopLogsAndTerminates)
{
    testsupport::TempDir dir;
    FileLogger& file = CSingleton<FileLogger>::Instance();
    if (file.Config())
        GTEST_SKIP() << "OV_LOG_FILE is set for this run";
    std::wstring path = dir / L"log.txt";
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    file.SetConfig(std::make_unique<LoggerConfig>());
    file.SetStream(f);

    Worker w(Worker::kIgnoreStop);
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitFor([&] { return w.runs == 1; }));
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), w.ThreadHandle(), GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    const unsigned id = w.ThreadId();

    w.Stop(0);
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.ThreadHandle(), nullptr);
    EXPECT_EQ(WaitForSingleObject(copy, 2000), WAIT_OBJECT_0) << "the thread was not terminated";
    CloseHandle(copy);

    file.SetStream(nullptr);
    file.SetConfig(nullptr);
    fclose(f);
    std::string bytes = testsupport::ReadBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    // An error line that names the thread (the line's layout is the logger's).
    EXPECT_EQ(text.find(L"[ERRO]"), 0u) << bytes.size();
    EXPECT_NE(text.find(L"tid:" + std::to_wstring(id) + L" "), std::wstring::npos);
}

TEST(SimpleThread, ABodyThatEndsByItselfLeavesTheObjectRestartable)
{
    // Also after it asked for its own stop, which must not wait on itself.
    Worker w(Worker::kReturnAtOnce);
    for (int round = 1; round <= 3; ++round) {
        w.mode = round == 2 ? Worker::kStopFromInside : Worker::kReturnAtOnce;
        ASSERT_TRUE(w.Start());
        ASSERT_TRUE(WaitFor([&] { return !w.IsRunning(); })) << "round " << round;
        EXPECT_EQ(w.runs, round);
        EXPECT_EQ(w.ThreadHandle(), nullptr);
        if (round == 2) {
            EXPECT_TRUE(w.insideStopReturned);
            EXPECT_TRUE(w.StopRequested());
        }
    }
}

TEST(SimpleThread, RacingExitAndStopCloseEachHandleOnce)
{
    // Bodies that end by themselves while the owner stops them: the exit
    // hand-over and the owner's wait meet in every order. A double close would
    // surface as an invalid-handle failure or a growing handle count.
    DWORD before = 0, after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    for (int i = 0; i < 300; ++i) {
        Worker w(i % 2 ? Worker::kReturnAtOnce : Worker::kPollStop);
        ASSERT_TRUE(w.Start());
        if (i % 3 == 0)
            Sleep(0);
        ASSERT_TRUE(testsupport::StopWithin(w, 5000));
        EXPECT_FALSE(w.IsRunning());
        EXPECT_EQ(w.ThreadHandle(), nullptr);
    }
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LE(after, before + 5);
}
