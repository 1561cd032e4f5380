// A package shipped beside the program: copied into the staging folder
// through a handle that denies writing, checked there against its real
// minisign signature, and held; the shipped file is never changed.

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "Http/FaultServer.h"
#include "Updater/LockedPackage.h"
#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

std::string Fixture(const std::string& name)
{
    return ReadBytes(httptest::WinePath(std::string(OV_SIGNATURES_DIR) + "/" + name));
}

}  // namespace

TEST(ShippedPackage, OnlyASignedPackageIsStagedAndTheCopyIsTheOneHeld)
{
    const std::string data = Fixture("data.bin");
    ASSERT_GT(data.size(), 100000u);
    const PublisherKeys keys({httptest::TestPublicKey("test")});
    struct Case {
        const char* what;
        const char* signature;  // fixture, or null for none
        bool writerOpen;        // another program has the shipped file open to write
        bool staged;
    } cases[] = {
        {"the publisher's", "data.bin.minisig", false, true},
        {"another key's", "data.bin.other.minisig", false, false},
        {"no signature", nullptr, false, false},
        {"someone is writing it", "data.bin.minisig", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir downloads, staging;
        const std::wstring shipped = downloads / L"ovinstaller.exe";
        const std::wstring staged = staging / L"ovinstaller.exe";
        ASSERT_TRUE(WriteBytes(shipped, data));
        if (c.signature) {
            ASSERT_TRUE(WriteBytes(shipped + L".minisig", Fixture(c.signature)));
        }
        HANDLE writer = INVALID_HANDLE_VALUE;
        if (c.writerOpen) {
            writer = CreateFileW(shipped.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        }
        LockedPackage package;
        EXPECT_EQ(StageShippedPackage(package, shipped, staged, keys), c.staged);
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
        EXPECT_EQ(package.IsOpen(), c.staged);
        EXPECT_EQ(PathExists(staged), c.staged) << "a copy that failed its check is not left behind";
        EXPECT_EQ(ReadBytes(shipped), data) << "the shipped file is never changed";
        if (!c.staged)
            continue;
        EXPECT_EQ(package.Path(), staged);
        EXPECT_EQ(ReadBytes(staged), data);
        // Held: nobody may change the copy between its check and its start.
        HANDLE change = CreateFileW(staged.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(change, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (change != INVALID_HANDLE_VALUE)
            CloseHandle(change);
        package.Release();
    }
}
