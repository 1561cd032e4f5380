#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "Runtime/FileOps.h"
#include "Runtime/Logger.h"
#include "Runtime/TextUtil.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(FileOps, CreateDirMakesParentsAndLogsOnlyFailure)
{
    FileLogger& logger = CSingleton<FileLogger>::Instance();
    const bool capture = logger.Config() == nullptr;  // OV_LOG_FILE not set
    TempDir dir;
    const std::wstring logPath = dir / L"log.txt";
    FILE* stream = capture ? _wfopen(logPath.c_str(), L"wb") : nullptr;
    if (stream) {
        logger.SetConfig(std::make_unique<LoggerConfig>());
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

TEST(FileOps, CreateDirMeetingAFileFails)
{
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"pkg", "x"));
    // The file itself where the directory must be: no success, no retry loop.
    EXPECT_FALSE(CreateDir(dir / L"pkg"));
    EXPECT_FALSE(CreateDir(dir / L"pkg\\sub"));
    EXPECT_EQ(GetFileAttributesW((dir / L"pkg").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(FileOps, DeleteAndMoveMakeOneAttempt)
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

TEST(FileOps, GetFileSize64OfMissingEmptyHeldAndLargeFiles)
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
