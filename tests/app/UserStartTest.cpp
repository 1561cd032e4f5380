// The choice of how the launcher and the licence page are started (the
// shell's token, the shell, a standard user's token, or not at all), on
// recorded operations; and both token routes for real under Wine.

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
    bool haveLowered = true;
    DWORD tokenStart = 0;  // what StartWithShellToken answers
    DWORD loweredStart = 0;  // what StartWithLoweredToken answers
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
    HANDLE LoweredToken() override
    {
        calls.push_back(L"lowered");
        SetLastError(ERROR_NOT_FOUND);
        tokensOpen += haveLowered ? 1 : 0;
        return haveLowered ? reinterpret_cast<HANDLE>(0x1234) : nullptr;
    }
    void CloseToken(HANDLE token) override
    {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(0x1234));
        --tokensOpen;
    }
    DWORD StartWithShellToken(HANDLE, const std::wstring& program, const std::wstring& cmd) override
    {
        calls.push_back(L"with token " + program + L"|" + cmd);
        return tokenStart;
    }
    DWORD StartWithLoweredToken(HANDLE, const std::wstring& program, const std::wstring& cmd) override
    {
        calls.push_back(L"lowered " + program + L"|" + cmd);
        return loweredStart;
    }
    DWORD OpenThroughShell(const std::wstring& target, const std::wstring& parameters) override
    {
        calls.push_back(L"shell " + target + parameters);
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

TEST(UserStart, AnElevatedInstallerNeverStartsTheLauncherOrThePageWithItsOwnToken)
{
    const std::wstring token = L"with token " + kLauncher + L"|" + kCommand;
    const std::wstring lowered = L"lowered " + kLauncher + L"|" + kCommand;
    const std::wstring shell = L"shell " + kLauncher + L"-i \"7\" -d";  // asks for elevation as any program does
    const DWORD denied = ERROR_ACCESS_DENIED, elevation = kErrorElevationRequired, failed = E_FAIL;
    struct Case {
        bool haveShell, haveLowered;
        DWORD tokenStart, loweredStart, shellOpen;
        StartRoute route;
        std::vector<std::wstring> calls;
    } cases[] = {
        {true, true, 0, 0, 0, StartRoute::kShellToken, {L"token", token}},
        {true, true, elevation, 0, 0, StartRoute::kShell, {L"token", token, shell}},
        {true, true, elevation, 0, failed, StartRoute::kNone, {L"token", token, shell}},
        {false, true, 0, 0, 0, StartRoute::kLoweredToken, {L"token", L"lowered", lowered}},
        {true, true, denied, 0, 0, StartRoute::kLoweredToken, {L"token", token, L"lowered", lowered}},
        {true, true, denied, elevation, 0, StartRoute::kShell, {L"token", token, L"lowered", lowered, shell}},
        {false, false, 0, 0, 0, StartRoute::kNone, {L"token", L"lowered"}},
        {false, true, 0, elevation, 0, StartRoute::kNone, {L"token", L"lowered", lowered}},  // no shell to ask
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        RecordedOps ops;
        ops.haveShell = c.haveShell;
        ops.haveLowered = c.haveLowered;
        ops.tokenStart = c.tokenStart;
        ops.loweredStart = c.loweredStart;
        ops.shellOpen = c.shellOpen;
        const UserStart started = StartAsSignedInUser(kLauncher, kCommand, ops);
        EXPECT_EQ(started.route, c.route);
        EXPECT_EQ(started.error == 0, c.route != StartRoute::kNone);
        EXPECT_EQ(ops.calls, c.calls);
        EXPECT_EQ(ops.tokensOpen, 0) << "every token is closed";
    }
    // The licence page: the shell, else the system's URL handler as a
    // standard user (else nothing, as above); directly only when not elevated.
    RecordedOps page;
    page.shellOpen = failed;
    EXPECT_EQ(OpenAsSignedInUser(nullptr, kPage, page).route, StartRoute::kLoweredToken);
    EXPECT_NE(page.calls.back().find(L"\\rundll32.exe url.dll,FileProtocolHandler " + kPage), std::wstring::npos);
    RecordedOps plain;
    plain.elevated = false;
    EXPECT_EQ(StartAsSignedInUser(kLauncher, kCommand, plain).route, StartRoute::kDirect);
    EXPECT_EQ(OpenAsSignedInUser(nullptr, kPage, plain).route, StartRoute::kDirect);
    EXPECT_EQ(plain.calls, (std::vector<std::wstring>{L"direct " + kLauncher + L"|" + kCommand, L"open " + kPage}));
}

TEST(UserStart, BothTokenRoutesGiveTheLauncherItsCommandLineAndNoAdministratorRights)
{
    // Wine models no elevation, but it runs both token routes' calls
    // (CreateProcessWithTokenW with the shell's; CreateRestrictedToken and
    // CreateProcessAsUserW), so the launcher stand-in records what it got.
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
        EXPECT_EQ(started.route, shell ? StartRoute::kShellToken : StartRoute::kLoweredToken);
        const std::wstring log = dir / L"launched.txt";
        ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
        Sleep(100);
        std::string got = ReadBytes(log);
        // The folder differs per run; the rest must not.
        records.push_back(got.substr(got.find("OrvelLauncher.exe")));
        // (Wine carries the groups into the child, not the integrity level.)
        EXPECT_TRUE(shell || ReadBytes(dir / L"launched-token.txt") == "administrators=deny-only\n");
    }
    EXPECT_EQ(records[0], "OrvelLauncher.exe -i \"7\" -d\n");
    EXPECT_EQ(records[0], records[1]);
}
