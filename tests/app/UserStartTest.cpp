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
    bool haveLowered = true;
    DWORD shellTokenStart = 0;    // what StartWithShellToken answers
    DWORD loweredTokenStart = 0;  // what StartWithLoweredToken answers
    DWORD shellOpen = 0;          // what OpenThroughShell answers
    DWORD direct = 0;             // what both direct starts answer
    std::vector<std::wstring> calls;
    int tokensOpen = 0;

    bool Elevated() override { return elevated; }
    HANDLE ShellToken() override { return Token(L"shell token?", haveShell, 0x1234); }
    HANDLE LoweredToken() override { return Token(L"lowered token?", haveLowered, 0x5678); }
    void CloseToken(HANDLE token) override
    {
        EXPECT_TRUE(token == reinterpret_cast<HANDLE>(0x1234) || token == reinterpret_cast<HANDLE>(0x5678));
        --tokensOpen;
    }
    DWORD StartWithShellToken(HANDLE token, const std::wstring& program, const std::wstring& cmd) override
    {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(0x1234));
        calls.push_back(L"shell's token " + program + L"|" + cmd);
        return shellTokenStart;
    }
    DWORD StartWithLoweredToken(HANDLE token, const std::wstring& program, const std::wstring& cmd) override
    {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(0x5678));
        calls.push_back(L"lowered token " + program + L"|" + cmd);
        return loweredTokenStart;
    }
    DWORD OpenThroughShell(const std::wstring& target, const std::wstring& parameters) override
    {
        calls.push_back(L"shell opens " + target + L"|" + parameters);
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

private:
    HANDLE Token(const wchar_t* call, bool have, uintptr_t value)
    {
        calls.push_back(call);
        if (!have) {
            SetLastError(ERROR_NOT_FOUND);
            return nullptr;
        }
        ++tokensOpen;
        return reinterpret_cast<HANDLE>(value);
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

TEST(UserStart, AnElevatedInstallerNeverStartsTheLauncherWithItsOwnToken)
{
    const std::wstring shellToken = L"shell's token " + kLauncher + L"|" + kCommand;
    const std::wstring lowered = L"lowered token " + kLauncher + L"|" + kCommand;
    const std::wstring viaShell = L"shell opens " + kLauncher + L"|-i \"7\" -d";
    const DWORD denied = ERROR_ACCESS_DENIED, elevation = kErrorElevationRequired;
    const DWORD failed = static_cast<DWORD>(E_FAIL);
    struct Case {
        const char* what;
        bool haveShell, haveLowered;
        DWORD shellTokenStart, loweredTokenStart, shellOpen;
        StartRoute route;
        DWORD error;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"the shell's token", true, true, 0, 0, 0, StartRoute::kShellToken, 0, {L"shell token?", shellToken}},
        {"a launcher that demands elevation: the shell starts it, Windows asks", true, true, elevation, 0, 0,
         StartRoute::kShell, 0, {L"shell token?", shellToken, viaShell}},
        {"... and the shell cannot", true, true, elevation, 0, failed, StartRoute::kNone, failed,
         {L"shell token?", shellToken, viaShell}},
        {"no shell: a standard user's token", false, true, 0, 0, 0, StartRoute::kLoweredToken, 0,
         {L"shell token?", L"lowered token?", lowered}},
        {"the shell's token fails: a standard user's token", true, true, denied, 0, 0, StartRoute::kLoweredToken, 0,
         {L"shell token?", shellToken, L"lowered token?", lowered}},
        {"... which the launcher refuses for want of elevation: the shell", true, true, denied, elevation, 0,
         StartRoute::kShell, 0, {L"shell token?", shellToken, L"lowered token?", lowered, viaShell}},
        {"no shell, no lowered token: nothing", false, false, 0, 0, 0, StartRoute::kNone, ERROR_NOT_FOUND,
         {L"shell token?", L"lowered token?"}},
        {"no shell to ask for elevation: nothing", false, true, 0, elevation, 0, StartRoute::kNone, elevation,
         {L"shell token?", L"lowered token?", lowered}},
        {"no shell, the lowered start fails: nothing", false, true, 0, ERROR_FILE_NOT_FOUND, 0, StartRoute::kNone,
         ERROR_FILE_NOT_FOUND, {L"shell token?", L"lowered token?", lowered}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedOps ops;
        ops.haveShell = c.haveShell;
        ops.haveLowered = c.haveLowered;
        ops.shellTokenStart = c.shellTokenStart;
        ops.loweredTokenStart = c.loweredTokenStart;
        ops.shellOpen = c.shellOpen;
        ops.direct = ERROR_GEN_FAILURE;  // would show if it were tried
        const UserStart started = StartAsSignedInUser(kLauncher, kCommand, ops);
        EXPECT_EQ(started.route, c.route);
        EXPECT_EQ(started.error, c.error);
        EXPECT_EQ(ops.calls, c.calls);
        EXPECT_EQ(ops.tokensOpen, 0) << "every token is closed";
    }
    // Not elevated (and known to be): its own token is the user's.
    RecordedOps plain;
    plain.elevated = false;
    EXPECT_EQ(StartAsSignedInUser(kLauncher, kCommand, plain).route, StartRoute::kDirect);
    EXPECT_EQ(plain.calls, std::vector<std::wstring>{L"direct " + kLauncher + L"|" + kCommand});
}

TEST(UserStart, TheLicencePageIsOpenedByTheShellOrWithAStandardUsersToken)
{
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring rundll = std::wstring(system) + L"\\rundll32.exe";
    const std::wstring lowered = L"lowered token " + rundll + L"|" + rundll + L" url.dll,FileProtocolHandler " + kPage;
    struct Case {
        const char* what;
        bool elevated, haveLowered;
        DWORD shellOpen;
        StartRoute route;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"the shell opens it", true, true, 0, StartRoute::kShell, {L"shell opens " + kPage + L"|"}},
        {"the shell cannot: the system's handler as a standard user", true, true, static_cast<DWORD>(E_FAIL),
         StartRoute::kLoweredToken, {L"shell opens " + kPage + L"|", L"lowered token?", lowered}},
        {"neither: nothing", true, false, static_cast<DWORD>(E_FAIL), StartRoute::kNone,
         {L"shell opens " + kPage + L"|", L"lowered token?"}},
        {"not elevated", false, true, 0, StartRoute::kDirect, {L"open " + kPage}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedOps ops;
        ops.elevated = c.elevated;
        ops.haveLowered = c.haveLowered;
        ops.shellOpen = c.shellOpen;
        EXPECT_EQ(OpenAsSignedInUser(nullptr, kPage, ops).route, c.route);
        EXPECT_EQ(ops.calls, c.calls);
        EXPECT_EQ(ops.tokensOpen, 0);
    }
}

TEST(UserStart, BothTokenRoutesGiveTheLauncherItsCommandLineAndNoAdministratorRights)
{
    // Wine models no elevation, but it runs both token routes' calls
    // (OpenProcessToken, DuplicateTokenEx, CreateProcessWithTokenW;
    // CreateRestrictedToken, SetTokenInformation, CreateProcessAsUserW), so
    // the launcher stand-in records what each route handed it.
    std::vector<std::string> records;
    for (bool shell : {true, false}) {
        SCOPED_TRACE(shell ? "shell's token" : "lowered token");
        TempDir dir;
        const std::wstring launcher = dir / L"OrvelLauncher.exe";
        ASSERT_TRUE(CopyFileW((testsupport::StandinDir() + L"\\OrvelLauncher.exe").c_str(), launcher.c_str(), FALSE));
        const std::wstring command = launcher + L" -i \"7\" -d";
        OwnProcessAsShell ops(shell);
        ASSERT_TRUE(ops.Elevated()) << "Wine runs every process elevated";
        const UserStart started = StartAsSignedInUser(launcher, command, ops);
        EXPECT_EQ(started.error, 0u);
        EXPECT_EQ(started.route, shell ? StartRoute::kShellToken : StartRoute::kLoweredToken);
        const std::wstring log = dir / L"launched.txt";
        ASSERT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(log); }, 10000));
        Sleep(100);
        std::string got = ReadBytes(log);
        // The folder differs per run; the rest must not.
        records.push_back(got.substr(got.find("OrvelLauncher.exe")));
        if (!shell) {
            // Wine carries the groups into the child, not the integrity
            // level (it accepts the change and keeps "high"); Windows both.
            const std::string token = ReadBytes(dir / L"launched-token.txt");
            EXPECT_NE(token.find(" administrators=deny-only\n"), std::string::npos) << token;
        }
    }
    EXPECT_EQ(records[0], "OrvelLauncher.exe -i \"7\" -d\n");
    EXPECT_EQ(records[0], records[1]);
}
