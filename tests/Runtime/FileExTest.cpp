#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <string>

#include "Runtime/FileEx.h"
#include "support/TestSupport.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

// Reaches the protected handle, to make the system refuse the close.
class TamperedFile : public CFileEx {
public:
    void ReplaceHandle(HANDLE h) { handle = h; }
};

// What `fn` threw; code 0 when it threw nothing.
template <typename Fn>
CFileExException Caught(Fn fn)
{
    try {
        fn();
    } catch (const CFileExException& e) {
        return e;
    }
    return CFileExException();
}

bool OthersCanOpen(const std::wstring& path, DWORD access)
{
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

}  // namespace

TEST(FileEx, CreateFlagsTruncateOrKeepExistingContent)
{
    TempDir dir;
    const std::wstring path = dir / L"part.bin";
    ASSERT_TRUE(WriteBytes(path, "0123456789"));
    CFileEx file;
    ASSERT_TRUE(file.Open(path, 0xB0A2, nullptr));  // the download sink's resume mode
    EXPECT_EQ(file.Seek(0, CFileEx::kEnd), 10u);
    file.Write("ab", 2);
    file.Close();
    EXPECT_EQ(ReadBytes(path), "0123456789ab");

    ASSERT_TRUE(file.Open(path, 0x90A1, nullptr));  // the manifest copy's mode
    EXPECT_EQ(file.GetLength(), 0u);
    file.Close();
    ASSERT_TRUE(file.Open(dir / L"new.bin", 0xB0A2, nullptr));  // creates a missing file
}

TEST(FileEx, FlagWordMapsToAccessSharingAndInheritance)
{
    struct Case { unsigned int flags; bool read, write, othersRead, othersWrite, inherit; };
    const Case cases[] = {
        {0x0000, true, false, false, false, true},  {0x0001, false, true, false, false, true},
        {0x0042, true, true, true, true, true},     {0x0012, true, true, false, false, true},
        {0x00A2, true, true, true, false, false},   {0x0032, true, true, false, true, true},
        {0x0052, true, true, false, false, true},   // unused sharing values are exclusive
    };
    TempDir dir;
    const std::wstring path = dir / L"f.bin";
    ASSERT_TRUE(WriteBytes(path, "data"));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        CFileEx file;
        ASSERT_TRUE(file.Open(path, c.flags, nullptr));
        char buf[4];
        EXPECT_EQ(Caught([&] { file.Read(buf, 4); }).code, c.read ? 0 : ERROR_ACCESS_DENIED);
        CFileExException w = Caught([&] { file.Write("d", 1); });
        EXPECT_EQ(w.code, c.write ? 0 : ERROR_ACCESS_DENIED);
        EXPECT_EQ(w.message, c.write ? L"" : path);
        EXPECT_EQ(OthersCanOpen(path, GENERIC_READ), c.othersRead);
        EXPECT_EQ(OthersCanOpen(path, GENERIC_WRITE), c.othersWrite);
        DWORD info = 0;
        ASSERT_TRUE(GetHandleInformation(file.Handle(), &info));
        EXPECT_EQ((info & HANDLE_FLAG_INHERIT) != 0, c.inherit);
    }
}

TEST(FileEx, ReadSeekLengthAndFailures)
{
    TempDir dir;
    CFileEx file;
    // A file that is not there fails to open, without throwing.
    CFileExException error;
    EXPECT_FALSE(file.Open(dir / L"missing.bin", 0x0002, &error));
    EXPECT_EQ(error.code, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.message, L"INVALID_HANDLE_VALUE");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(dir / L"missing.bin", 0x0002, nullptr));

    const std::wstring path = dir / L"ten.bin";
    ASSERT_TRUE(WriteBytes(path, "0123456789"));
    ASSERT_TRUE(file.Open(path, 0x0042, nullptr));
    EXPECT_EQ(file.Seek(5, CFileEx::kBegin), 5u);
    EXPECT_EQ(file.GetLength(), 10u);
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "567");
    EXPECT_EQ(file.Read(buf, sizeof(buf)), 2u);
    EXPECT_EQ(file.Read(buf, sizeof(buf)), 0u);  // at the end: no exception
    EXPECT_EQ(file.Seek(-2, CFileEx::kCurrent), 8u);
    CFileExException e = Caught([&] { file.Seek(-1, CFileEx::kBegin); });
    EXPECT_EQ(e.code, ERROR_NEGATIVE_SEEK);
    EXPECT_TRUE(e.message.empty());

    file.SetLength(4);
    EXPECT_EQ(file.GetPosition(), 4u);
    file.Close();
    EXPECT_EQ(ReadBytes(path), "0123");
    EXPECT_EQ(Caught([&] { file.Read(buf, 4); }).code, ERROR_INVALID_HANDLE);
    file.Flush();  // a closed file has nothing to flush
}

TEST(FileEx, ReopenAbortAndFailedCloseReleaseTheHandle)
{
    TempDir dir;
    const std::wstring first = dir / L"first.bin";
    {
        TamperedFile file;
        ASSERT_TRUE(file.Open(first, 0x1012, nullptr));  // exclusive
        ASSERT_TRUE(file.Open(dir / L"second.bin", 0x1012, nullptr));
        EXPECT_TRUE(DeleteFileW(first.c_str()));  // the first file is no longer held
        file.Abort();
        EXPECT_TRUE(DeleteFileW((dir / L"second.bin").c_str()));

        ASSERT_TRUE(file.Open(first, 0x1012, nullptr));
        HANDLE real = file.Handle();
        file.ReplaceHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7ff0)));
        EXPECT_EQ(Caught([&] { file.Close(); }).code, ERROR_INVALID_HANDLE);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(file.FileName().empty());
        CloseHandle(real);

        ASSERT_TRUE(file.Open(dir / L"third.bin", 0x1012, nullptr));
        CloseHandle(file.Handle());  // behind the object's back
    }  // the destructor's close fails: it must not end the process
}

TEST(FileEx, PositionsAndLengthsBeyondFourGiB)
{
    TempDir dir;
    const uint64_t kLength = (uint64_t{4} << 30) + 10;
    CFileEx file;
    ASSERT_TRUE(file.Open(dir / L"big.bin", 0x1002, nullptr));
    // Sparse where the file system honours it, so the test takes no real space.
    DWORD ignored = 0;
    DeviceIoControl(file.Handle(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    try {
        file.SetLength(kLength);
    } catch (const CFileExException& e) {
        GTEST_SKIP() << "the disk refuses a file above 4 GiB (error " << e.code << ")";
    }
    EXPECT_EQ(file.GetLength(), kLength);
    EXPECT_EQ(file.Seek(-8, CFileEx::kEnd), kLength - 8);
    file.Write("tail", 4);
    EXPECT_EQ(file.GetPosition(), kLength - 4);
    EXPECT_EQ(file.Seek(0xFFFFFFFF, CFileEx::kBegin), 0xFFFFFFFFu);  // the old 32-bit error marker
    EXPECT_EQ(file.Seek(static_cast<int64_t>(kLength - 8), CFileEx::kBegin), kLength - 8);
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, sizeof(buf)), 8u);
    EXPECT_EQ(std::string(buf, 8), std::string("tail\0\0\0\0", 8));
    file.SetLength(3);
}
