// The choice of how the launcher and the licence page are started (with the
// shell's token, by the shell, or directly as before), on recorded
// operations; and the real operations under Wine, which keep the command line.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/UserStart.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::TempDir;

namespace {

// Operations that record what was asked of them and answer as told.
class RecordedOps : public IUserStartOps {
public:
    bool elevated = true;
    bool haveShell = true;
    DWORD tokenStart = 0;  // what StartWithToken answers
    DWORD shellOpen = 0;   // what OpenThroughShell answers
    DWORD direct = 0;      // what both direct starts answer
    std::vector<std::wstring> calls;
    int tokensOpen = 0;

    bool Elevated() override { return elevated; }
    HANDLE ShellToken() override
    {
        calls.push_back(L"token");
        if (!haveShell) {
            SetLastError(ERROR_NOT_FOUND);
            return nullptr;
        }
        ++tokensOpen;
        return reinterpret_cast<HANDLE>(0x1234);
    }
    void CloseToken(HANDLE token) override
    {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(0x1234));
        --tokensOpen;
    }
    DWORD StartWithToken(HANDLE, const std::wstring& program, const std::wstring& cmd) override
    {
        calls.push_back(L"with token " + program + L"|" + cmd);
        return tokenStart;
    }
    DWORD OpenThroughShell(const std::wstring& target) override
    {
        calls.push_back(L"shell " + target);
        return shellOpen;
    }
    DWORD StartDirect(const std::wstring& program, const std::wstring& cmd) override
    {
        calls.push_back(L"direct " + program + L"|" + cmd);
        return direct;
    }
    DWORD OpenDirect(HWND, const std::wstring& target) override
    {
        calls.push_back(L"open " + target);
        return direct;
    }
};

const std::wstring kLauncher = L"D:\\欧维网络\\欧维澄岳\\OrvelLauncher.exe";
const std::wstring kCommand = L"D:\\欧维网络\\欧维澄岳\\OrvelLauncher.exe -i \"7\" -d";
const std::wstring kPage = L"http://www.orvelnet.example/xy/";

// The system's operations with this test process standing in for the shell,
// so the token route runs for real; or with no shell at all.
class OwnProcessAsShell : public SystemUserStartOps {
public:
    explicit OwnProcessAsShell(bool shell) : shell_(shell) {}

protected:
    DWORD ShellProcessId() override { return shell_ ? GetCurrentProcessId() : 0; }

private:
    bool shell_;
};

}  // namespace

TEST(UserStart, TheLauncherStartsWithTheShellsTokenAndFallsBackToADirectStart)
{
    const std::wstring token = L"with token " + kLauncher + L"|" + kCommand;
    const std::wstring direct = L"direct " + kLauncher + L"|" + kCommand;
    struct Case {
        const char* what;
        bool elevated, haveShell;
        DWORD tokenStart, directStart;
        StartRoute route;
        DWORD error;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"shell token", true, true, 0, 0, StartRoute::kShellToken, 0, {L"token", token}},
        {"no shell running", true, false, 0, 0, StartRoute::kDirect, 0, {L"token", direct}},
        {"the token start fails", true, true, 740 /* elevation required */, 0, StartRoute::kDirect, 0,
         {L"token", token, direct}},
        {"not elevated: nothing to drop", false, true, 0, 0, StartRoute::kDirect, 0, {direct}},
        {"both fail: the direct start's error", true, true, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND,
         StartRoute::kDirect, ERROR_FILE_NOT_FOUND, {L"token", token, direct}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedOps ops;
        ops.elevated = c.elevated;
        ops.haveShell = c.haveShell;
        ops.tokenStart = c.tokenStart;
        ops.direct = c.directStart;
        const UserStart started = StartAsSignedInUser(kLauncher, kCommand, ops);
        EXPECT_EQ(started.route, c.route);
        EXPECT_EQ(started.error, c.error);
        EXPECT_EQ(ops.calls, c.calls);
        EXPECT_EQ(ops.tokensOpen, 0) << "the shell's token is closed";
    }
}

TEST(UserStart, TheLicencePageIsOpenedByTheShellAndElseDirectly)
{
    struct Case {
        const char* what;
        bool elevated;
        DWORD shellOpen;
        StartRoute route;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"the shell opens it", true, 0, StartRoute::kShell, {L"shell " + kPage}},
        {"the shell cannot", true, static_cast<DWORD>(E_FAIL), StartRoute::kDirect,
         {L"shell " + kPage, L"open " + kPage}},
        {"not elevated", false, 0, StartRoute::kDirect, {L"open " + kPage}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedOps ops;
        ops.elevated = c.elevated;
        ops.shellOpen = c.shellOpen;
        EXPECT_EQ(OpenAsSignedInUser(nullptr, kPage, ops).route, c.route);
        EXPECT_EQ(ops.calls, c.calls);
    }
}

TEST(UserStart, BothRoutesGiveTheLauncherExactlyTheSameCommandLine)
{
    // Wine models no elevation, but it runs the token route's calls
    // (OpenProcessToken, DuplicateTokenEx, CreateProcessWithTokenW), so
    // the launcher stand-in records what each route handed it.
    std::vector<std::string> records;
    for (bool shell : {true, false}) {
        TempDir dir;
        const std::wstring launcher = dir / L"OrvelLauncher.exe";
        ASSERT_TRUE(CopyFileW((testsupport::StandinDir() + L"\\OrvelLauncher.exe").c_str(), launcher.c_str(), FALSE));
        const std::wstring command = launcher + L" -i \"7\" -d";
        OwnProcessAsShell ops(shell);
        if (shell) {
            ASSERT_TRUE(ops.Elevated()) << "Wine runs every process elevated";
        }
        const UserStart started = StartAsSignedInUser(launcher, command, ops);
        EXPECT_EQ(started.error, 0u);
        EXPECT_EQ(started.route, shell ? StartRoute::kShellToken : StartRoute::kDirect);
        const std::wstring log = dir / L"launched.txt";
        ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
        Sleep(100);
        std::string got = ReadBytes(log);
        // The folder differs per run; the rest must not.
        records.push_back(got.substr(got.find("OrvelLauncher.exe")));
    }
    EXPECT_EQ(records[0], "OrvelLauncher.exe -i \"7\" -d\n");
    EXPECT_EQ(records[0], records[1]);
}
