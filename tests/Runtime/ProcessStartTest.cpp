#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/ProcessStart.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::TempDir;

TEST(ProcessStart, StartAndRunProcessStartARealChild)
{
    wchar_t sys[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(sys, MAX_PATH), 0u);
    const std::wstring cmd = std::wstring(sys) + L"\\cmd.exe";
    TempDir dir;

    PROCESS_INFORMATION pi{};
    ASSERT_EQ(RunProcess(cmd, cmd + L" /c exit 7", &pi), 0u);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread));
    EXPECT_EQ(RunProcess(cmd, cmd + L" /c exit 0", nullptr), 0u);
    EXPECT_EQ(RunProcess(dir / L"missing.exe", L"", &pi), (uint64_t{1} << 32) | ERROR_FILE_NOT_FOUND);

    // The child proves it ran by leaving a file; the handles are not handed out.
    const std::wstring marker = dir / L"ran.txt";
    pi = PROCESS_INFORMATION{};
    ASSERT_EQ(StartProcess(cmd, cmd + L" /c echo ok>" + marker, &pi), 0u);
    EXPECT_NE(pi.dwProcessId, 0u);
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_EQ(pi.hThread, nullptr);
    EXPECT_TRUE(testsupport::PumpMessagesUntil([&] { return PathExists(marker); }, 10000));
    if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, pi.dwProcessId)) {
        WaitForSingleObject(child, 30000);  // let it go before the folder is removed
        CloseHandle(child);
    }
    EXPECT_EQ(StartProcess(dir / L"missing.exe", L"", nullptr), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
