// Releases that cannot be replayed: the version floor, the manifest's expiry,
// its size and checksum, and the version a shipped package was signed as (on
// signatures Debian's minisign made at build time, tests/Updater/
// make_signatures.sh). What the module makes of a refused manifest is among
// the signed update's tests.

#include "Updater/UpdaterTestSupport.h"
#include "Runtime/UniqueHandle.h"
#include "Updater/LockedPackage.h"
#include "Updater/ReleasePolicy.h"
#include "Updater/UpdateManifest.h"

namespace updatertest {
namespace {

TEST(ReleaseRules, VersionsTimesAndTrustedComments)
{
    EXPECT_GT(CompareVersions("2.10", "2.9"), 0);
    EXPECT_EQ(0, CompareVersions("02.1", "2.01.0"));
    EXPECT_LT(CompareVersions("123456789012345678901234567889", "123456789012345678901234567890"), 0);
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2a", " 1.2", "-1"})
        EXPECT_FALSE(IsDottedVersion(bad)) << bad;
    int64_t seconds = 0;
    EXPECT_TRUE(ParseUtcTime(L"2024-02-29T23:59:59Z", seconds));
    EXPECT_EQ(1709251199, seconds);
    for (const wchar_t* bad : {L"2023-02-29T00:00:00Z", L"2024-01-01T24:00:00Z", L"2024-01-01 00:00:00Z",
                               L"2024-01-01T00:00:00+08:00", L"1969-12-31T23:59:59Z"})
        EXPECT_FALSE(ParseUtcTime(bad, seconds)) << testing::PrintToString(std::wstring(bad));
    // The version is a field of its own, named exactly, in a comment of
    // exactly that shape.
    std::string version;
    EXPECT_TRUE(TrustedCommentField("size=1 version=2.0 later-key=x", "version", version));
    EXPECT_EQ("2.0", version);
    for (const char* bad : {"timestamp:1 file:data.bin hashed", "release 2.0 size=1", "xversion=2.0",
                            "version=2.0 version=3.0", "version=2.0  size=1", "version=2.0 ", "Version=2.0",
                            "version=", "version=2.0\tsize=1"})
        EXPECT_FALSE(TrustedCommentField(bad, "version", version)) << bad;
}

// A shipped package is copied into the staging folder through a handle that
// denies writing, checked there and held (more: signature_e2e_tests).
TEST(ShippedPackage, RunsOnlyWhenSignedAsAReleaseAtTheFloorOrAboveAndNobodyWritesIt)
{
    struct Case { const char* signature; bool signedBuild, someoneWrites, runs; } cases[] = {
        {"data.bin.v2.0.minisig", true, false, true}, {"data.bin.v10.1.minisig", true, false, true},
        {"data.bin.v1.9.minisig", true, false, false},
        {"data.bin.minisig", true, false, false},        // minisign's own comment names no release
        {"data.bin.v1.9.minisig", false, false, true},   // an unsigned build checks nothing
        {"data.bin.v2.0.minisig", true, true, false},    // a file being written is not copied
    };
    const std::string dir = OV_SIGNATURES_DIR;
    const std::string data = ReadBytes(httptest::WinePath(dir + "/data.bin"));
    ReleasePolicy policy;
    policy.floor = "2.0";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.signature) + (c.signedBuild ? "" : " unsigned") +
                     (c.someoneWrites ? " written" : ""));
        testsupport::TempDir downloads, staging;
        const std::wstring shipped = downloads / L"ovinstaller.exe", staged = staging / L"ovinstaller.exe";
        ASSERT_TRUE(WriteBytes(shipped, data));
        ASSERT_TRUE(WriteBytes(shipped + L".minisig", ReadBytes(httptest::WinePath(dir + "/" + c.signature))));
        const PublisherKeys keys(c.signedBuild ? std::vector<std::string>{httptest::TestPublicKey("test")}
                                               : std::vector<std::string>{});
        // Somebody else has the shipped file open: reading it is fine, writing is not.
        UniqueHandle other(CreateFileW(shipped.c_str(), c.someoneWrites ? GENERIC_WRITE : GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        LockedPackage package;
        EXPECT_EQ(c.runs, StageShippedPackage(package, shipped, staged, keys, policy));
        other.Reset();
        EXPECT_EQ(c.runs, package.IsOpen() && package.Path() == staged);
        EXPECT_EQ(c.runs ? data : "", ReadBytes(staged)) << "a refused copy is not left behind";
        // Held: nobody may change the copy between its check and its start.
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(staged.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    }
}

TEST(ReleaseRules, AManifestNamesAReleaseAtTheFloorThatHasNotExpiredAndIsComplete)
{
    const std::wstring md5 = L"900150983cd24fb0d6963f7d28e17f72";
    const std::wstring valid = Widen(ExpiresIn(86400));
    const int64_t kDays = 86400;
    // buildAhead: the build's date this far ahead of the clock.
    struct Case { const char* name; std::wstring version, size, md5, expires; bool expiryRequired;
                  int64_t buildAhead; ReleaseVerdict verdict; } cases[] = {
        {"floor", L"2.0", L"3000", md5, valid, true, 0, ReleaseVerdict::kOk},
        {"above", L"10.0", L"3000", md5, valid, true, 0, ReleaseVerdict::kOk},  // "10" sorts first as text
        {"below", L"1.9.9", L"3000", md5, valid, true, 0, ReleaseVerdict::kVersion},
        {"notdotted", L"2.0-beta", L"3000", md5, valid, true, 0, ReleaseVerdict::kVersion},
        {"expired", L"2.0", L"3000", md5, Widen(ExpiresIn(-60)), true, 0, ReleaseVerdict::kExpiry},
        {"noexpiry", L"2.0", L"3000", md5, L"", true, 0, ReleaseVerdict::kExpiry},
        {"badexpiry", L"2.0", L"3000", md5, L"2030-02-30T00:00:00Z", true, 0, ReleaseVerdict::kExpiry},
        {"clockbehind", L"2.0", L"3000", md5, valid, true, 10 * kDays, ReleaseVerdict::kExpiry},
        {"notrequired", L"2.0", L"3000", md5, L"", false, 0, ReleaseVerdict::kOk},
        {"pastanyway", L"2.0", L"3000", md5, Widen(ExpiresIn(-60)), false, 0, ReleaseVerdict::kExpiry},
        {"nosize", L"2.0", L"", md5, valid, true, 0, ReleaseVerdict::kIncomplete},
        {"zerosize", L"2.0", L"000", md5, valid, true, 0, ReleaseVerdict::kIncomplete},
        {"nomd5", L"2.0", L"3000", L"", valid, true, 0, ReleaseVerdict::kIncomplete},
        {"shortmd5", L"2.0", L"3000", md5.substr(1), valid, true, 0, ReleaseVerdict::kIncomplete},
    };
    for (const Case& c : cases) {
        ReleasePolicy policy;
        policy.floor = "2.0";
        policy.expiryRequired = c.expiryRequired;
        policy.buildTime = c.buildAhead ? policy.Now() + c.buildAhead : 0;
        UpdateManifestValues values;
        values.version = c.version;
        values.sizeText = c.size;
        values.md5 = c.md5;
        values.expires = c.expires;
        EXPECT_EQ(c.verdict, CheckManifestRelease(policy, values)) << c.name;
    }
}

}  // namespace
}  // namespace updatertest
