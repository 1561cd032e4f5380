#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "Runtime/Logger.h"
#include "Runtime/TextUtil.h"
#include "app/CommonUtils.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(CommonUtils, FormatSizeAtEveryUnitBorder)
{
    const uint64_t MiB = 1 << 20, GiB = MiB << 10, TiB = GiB << 10;
    struct Case { uint64_t bytes; const wchar_t* text; };
    const Case cases[] = {
        {0, L"0B"},           {999, L"999B"},           {1000, L"0KB"},  // 1000 of a unit moves on
        {1023, L"0KB"},       {1024, L"1KB"},           {1023999, L"999KB"},
        {1024000, L"0MB"},    {MiB, L"1MB"},            {120 * MiB, L"120MB"},
        {1048576000, L"0GB"}, {GiB, L"1GB"},            {4 * GiB + 10, L"4GB"},
        {1000 * GiB, L"0TB"}, {TiB, L"1TB"},            {1000 * TiB, L"1000TB"},  // no unit above TB
        {TiB << 10, L"1024TB"}, {~uint64_t{0}, L"16777215TB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(CommonUtils, CreateDirMakesParentsAndLogsOnlyFailure)
{
    FileLogger& logger = CSingleton<FileLogger>::Instance();
    const bool capture = logger.Config() == nullptr;  // OV_LOG_FILE not set
    TempDir dir;
    const std::wstring logPath = dir / L"log.txt";
    FILE* stream = capture ? _wfopen(logPath.c_str(), L"wb") : nullptr;
    if (stream) {
        logger.SetConfig(new LoggerConfig);
        logger.SetStream(stream);
    }
    const std::wstring deep = dir / L"a\\欧维网络\\欧维澄岳";  // the default install folder's names
    const std::wstring blocked = dir / L"file\\sub";  // a regular file in the way
    const bool created = CreateDir(deep);
    const bool again = CreateDir(deep);
    const bool refused = WriteBytes(dir / L"file", "x") && !CreateDir(blocked);
    if (stream) {
        logger.SetStream(nullptr);
        logger.SetConfig(nullptr);
        fclose(stream);
    }
    EXPECT_TRUE(created);
    EXPECT_TRUE(GetFileAttributesW(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(again);
    EXPECT_TRUE(refused);
    if (stream) {
        const std::string bytes = ReadBytes(logPath);
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        const std::wstring expected = L"[ERRO][.\\CommonUtils:708]CreateDir：" + blocked + L" ret：";
        EXPECT_EQ(text.rfind(expected, 0), 0u) << ToNarrow(text);
        EXPECT_EQ(text.find(L"CreateDir", expected.size()), std::wstring::npos);  // one line only
    }
}

TEST(CommonUtils, DeleteAndMoveMakeOneAttempt)
{
    TempDir dir;
    const std::wstring from = dir / L"pkg.exe.yw", to = dir / L"pkg.exe";
    ASSERT_TRUE(WriteBytes(from, "new") && WriteBytes(to, "old"));
    EXPECT_TRUE(MoveFileOnce(from, to));  // replaces the target
    EXPECT_EQ(ReadBytes(to), "new");
    EXPECT_FALSE(MoveFileOnce(from, to));  // missing source
    EXPECT_EQ(ReadBytes(to), "new");

    HANDLE held = CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileOnce(to));  // no delete sharing
    CloseHandle(held);
    EXPECT_TRUE(DeleteFileOnce(to));
    EXPECT_TRUE(DeleteFileOnce(to));  // already gone counts as deleted
}

TEST(CommonUtils, GetFileSize64OfMissingEmptyHeldAndLargeFiles)
{
    TempDir dir;
    EXPECT_EQ(GetFileSize64(dir / L"missing"), -1);
    EXPECT_EQ(GetFileSize64(dir / L"*"), -1);  // a pattern is not a file name
    ASSERT_TRUE(WriteBytes(dir / L"empty", "") && WriteBytes(dir / L"text", "a\r\nb\r\n\x1a z"));
    EXPECT_EQ(GetFileSize64(dir / L"empty"), 0);
    EXPECT_EQ(GetFileSize64(dir / L"text"), 9);  // bytes, not translated characters

    // Nobody else may open this one: measured through the directory entry.
    HANDLE h = CreateFileW((dir / L"held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = (int64_t{5} << 30) + 3;
    const bool grown = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    const int64_t whileHeld = GetFileSize64(dir / L"held");
    CloseHandle(h);
    if (!grown)
        GTEST_SKIP() << "the disk refuses a file above 4 GiB";
    EXPECT_EQ(whileHeld, end.QuadPart);
    EXPECT_EQ(GetFileSize64(dir / L"held"), end.QuadPart);
}

TEST(CommonUtils, TerminateFolderPathAddsOneBackslash)
{
    EXPECT_EQ(TerminateFolderPath(L""), L"");
    EXPECT_EQ(TerminateFolderPath(L"D:\\"), L"D:\\");
    EXPECT_EQ(TerminateFolderPath(L"D:\\Games\\欧维澄岳"), L"D:\\Games\\欧维澄岳\\");
}

TEST(CommonUtils, StartAndRunProcessStartARealChild)
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
