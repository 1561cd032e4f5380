#pragma once
// Shared set-up of the engine tests: the real dispatcher on this thread's
// message loop, both channels, the HTTP timer as a real thread timer, and
// recorders for the callbacks.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Http/CurlHttp.h"
#include "Http/CurlWorkshop.h"
#include "Http/FaultServer.h"
#include "Http/HttpCommand.h"
#include "Http/HttpDownloadFile.h"
#include "Http/HttpMgr.h"
#include "Runtime/MainThreadDispatch.h"
#include "support/TestSupport.h"

namespace httptest {

struct CommandOutcome {
    int calls = 0;
    int type = -1;
    int code = -1;
    std::string body;
};

int RecordCommand(uintptr_t user, std::string& body, int type, int code);

struct DownloadOutcome {
    struct Progress {
        uint64_t total, completed;
        uint32_t speed;
    };
    int calls = 0;
    int type = -1;
    int code = -1;
    std::vector<Progress> progress;
};

void RecordDownloadDone(uintptr_t user, int type, int code);
void RecordDownloadProgress(uintptr_t user, uint64_t total, uint64_t completed, uint32_t speed);

class HttpEngineTest : public ::testing::Test {
protected:
    // The timer runs faster than the product's 500 ms so retry waits are
    // released promptly; the release rule (> 500 ms) is what is tested.
    static const UINT kTimerMs = 100;

    void SetUp() override;
    void TearDown() override;

    // Pumps this thread's messages until `done` or the time-out.
    bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 10000)
    {
        return testsupport::PumpMessagesUntil(done, timeoutMs);
    }
    // "/Suite.Test/" + suffix: unique to the running test, so its requests can
    // be told apart in the server log (filter on Path()).
    std::string Path(const std::string& suffix = "") const;
    // Submits `cmd` for `url` and pumps until its callback ran.
    bool RunCommand(CHttpCommand& cmd, const std::wstring& url, CommandOutcome& out, DWORD timeoutMs = 15000)
    {
        cmd.SetUrl(url);
        cmd.SetCallback(&RecordCommand, reinterpret_cast<uintptr_t>(&out));
        return SubmitCommand(&cmd) && WaitFor([&] { return out.calls > 0; }, timeoutMs);
    }

    FaultServer* server_ = nullptr;
    UINT_PTR timer_ = 0;
};

// Downloads into one file of a scratch directory, with recorded callbacks.
class DownloadEngineTest : public HttpEngineTest {
protected:
    void SetUp() override
    {
        HttpEngineTest::SetUp();
        file_ = dir_ / L"package.exe.yw";
    }

    bool Start(CHttpDownloadFile& dl, const std::string& path, uint64_t expected, DownloadOutcome& out)
    {
        return dl.Download(server_->Url(path), file_, expected, reinterpret_cast<uintptr_t>(&out), &RecordDownloadDone,
                           &RecordDownloadProgress);
    }
    bool Finish(DownloadOutcome& out, DWORD timeoutMs = 10000)
    {
        return WaitFor([&] { return out.calls > 0; }, timeoutMs);
    }
    std::string FileBytes() const { return testsupport::ReadBytes(file_); }

    testsupport::TempDir dir_;
    std::wstring file_;
};

}  // namespace httptest
