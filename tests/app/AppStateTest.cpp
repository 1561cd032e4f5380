#include <gtest/gtest.h>
#include <winsock2.h>  // before windows.h, as the HTTP headers need
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Http/CurlWorkshop.h"
#include "Http/HttpMgr.h"
#include "Runtime/MainThreadDispatch.h"
#include "Runtime/FileSecurity.h"
#include "app/AppState.h"
#include "app/SingleInstance.h"

TEST(AppState, LaunchNumberFromTheCommandLine)
{
    struct Case { const wchar_t* commandLine; uint16_t number; };
    const Case cases[] = {
        {L"12345", 12345}, {L"70000", 4464},  // cut to 16 bits
        {L"abc", 0},       {L"", 0},          {L"   42x", 42},
        {L"-1", 65535},    {L"+7", 7},        {L"99999999999", 65535},  // clamped to LONG_MAX first
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseLaunchNumber(c.commandLine), c.number) << "[" << std::string(c.commandLine, c.commandLine + wcslen(c.commandLine)) << "]";
}

TEST(AppState, ChannelsComeAfterTheFirstFrameOrWithTheFirstRequestAndOnlyOnce)
{
    CAppState& app = CAppState::Instance();
    app.Start(nullptr);
    EXPECT_FALSE(app.HttpStarted()) << "the window's first frame does not wait for the channels";
    EXPECT_EQ(nullptr, CommandWorkshop());
    EXPECT_EQ(nullptr, DownloadManager());

    // A click before the deferred start: the first request finds its channels.
    ASSERT_TRUE(app.StartHttp());
    CCurlWorkshop* command = CommandWorkshop();
    CCurlWorkshop* download = DownloadWorkshop();
    ASSERT_NE(nullptr, command);
    ASSERT_NE(nullptr, download);
    EXPECT_TRUE(command->IsRunning());
    EXPECT_TRUE(download->HasMultiHandle());
    EXPECT_NE(nullptr, CommandManager());

    app.StartAfterFirstPaint();
    EXPECT_TRUE(app.StartedAfterFirstPaint());
    EXPECT_TRUE(app.StartHttp());
    EXPECT_EQ(command, CommandWorkshop()) << "the channels are started once";
    EXPECT_EQ(download, DownloadWorkshop());

    app.Stop();
    EXPECT_FALSE(app.HttpStarted());
    EXPECT_EQ(nullptr, CommandWorkshop());
    // Leave the dispatcher as the other cases of this program expect it.
    InitMainThreadDispatch();
}

namespace {

// The installer executable beside the test suites' folder.
std::wstring InstallerPath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir = dir.substr(0, dir.find_last_of(L'\\'));
    return dir.substr(0, dir.find_last_of(L'\\')) + L"\\OvSetup.exe";
}

}  // namespace

TEST(InstallerExecutable, CarriesItsVersionTextIconsManifestAndSkin)
{
    const std::wstring exe = InstallerPath();
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot open the installer's resources";

    // Version information: the description users see in the file's properties.
    HRSRC version = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(version, nullptr);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, version)));
    const DWORD size = SizeofResource(module, version);
    std::vector<BYTE> copy(data, data + size);
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\StringFileInfo\\080404b0\\FileDescription", &value, &length));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), L"澄岳安装程序");

    // Icon group 101 with the six sizes.
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));
    ASSERT_NE(group, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE w = dir[6 + i * 14];
        sizes.push_back(w == 0 ? 256 : w);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 128, 256}));

    // The application manifest asks for administrator rights and common controls 6.
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    EXPECT_NE(text.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);

    // The skin archive: a zip in resource "ZIPRES" 150.
    HRSRC skin = FindResourceW(module, MAKEINTRESOURCEW(150), L"ZIPRES");
    ASSERT_NE(skin, nullptr);
    const char* zip = static_cast<const char*>(LockResource(LoadResource(module, skin)));
    EXPECT_EQ(std::string(zip, 4), std::string("PK\x03\x04", 4));
    FreeLibrary(module);
}

// One installer at a time, on real mutexes (two installers meet end to end).
TEST(SingleInstance, TheSecondInstallerStepsBackAndASquattedNameStopsNobody)
{
    const std::wstring name = L"Global\\OvSetupTest." + std::to_wstring(GetCurrentProcessId());
    SystemSingleInstanceOps ops(name);
    {
        SingleInstance first, second;
        ASSERT_EQ(first.Claim(ops), InstanceClaim::kFirst);
        EXPECT_EQ(second.Claim(ops), InstanceClaim::kAnotherIsRunning);
    }
    // A standard user took the name first: their own owner (Wine keeps the
    // owner it is given), open to all or shutting everyone else out.
    const std::wstring user = L"S-1-5-21-3623811015-3361044348-30300820-1013";
    for (const std::wstring& dacl : {std::wstring(L"(A;;GA;;;WD)"), L"(A;;GA;;;" + user + L")"}) {
        const SecurityDescriptor sd = SecurityDescriptor::FromSddl(L"O:" + user + L"D:" + dacl);
        SECURITY_ATTRIBUTES sa = {sizeof sa, sd.Get(), FALSE};
        HANDLE squatter = CreateMutexW(&sa, FALSE, name.c_str());
        ASSERT_NE(squatter, nullptr);
        SingleInstance installer;
        EXPECT_EQ(installer.Claim(ops), InstanceClaim::kUnguarded) << testing::PrintToString(dacl);
        CloseHandle(squatter);
    }
}
