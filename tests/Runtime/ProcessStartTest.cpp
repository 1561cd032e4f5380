#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/ProcessStart.h"
#include "support/TestSupport.h"

TEST(ProcessStart, StartsARealChildAndHandsItsHandlesOn)
{
    wchar_t sys[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(sys, MAX_PATH), 0u);
    const std::wstring cmd = std::wstring(sys) + L"\\cmd.exe";
    testsupport::TempDir dir;

    UniqueProcess child;
    ASSERT_EQ(StartProcess(cmd, cmd + L" /c exit 7", &child), 0u);
    ASSERT_TRUE(child);
    EXPECT_NE(child.processId, 0u);
    EXPECT_EQ(WaitForSingleObject(child.process.Get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(child.process.Get(), &code));
    EXPECT_EQ(code, 7u);

    // Started in the folder asked for: the relative name lands there.
    ASSERT_EQ(StartProcess(cmd, cmd + L" /c cd>ran.txt", &child, dir.Path()), 0u);
    EXPECT_EQ(WaitForSingleObject(child.process.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_TRUE(testsupport::PathExists(dir / L"ran.txt"));
    UniqueProcess none;
    EXPECT_EQ(StartProcess(dir / L"missing.exe", L"", &none), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(none);
}
