// Releases that cannot be replayed: the version floor, the manifest's expiry,
// its size and checksum, and the version a package was signed as. Through the
// real module and libsodium, on signatures Debian's minisign made: at run time
// by the test server, and at build time for the shipped package
// (tests/Updater/make_signatures.sh).

#include "Updater/ReleasePolicy.h"
#include "Updater/UpdateManifest.h"
#include "Updater/UpdaterTestSupport.h"

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

TEST(ShippedPackage, RunsOnlyWhenSignedAsAReleaseAtTheFloorOrAbove)
{
    struct Case { const char* signature; bool signedBuild, runs; } cases[] = {
        {"data.bin.v2.0.minisig", true, true}, {"data.bin.v10.1.minisig", true, true},
        {"data.bin.v1.9.minisig", true, false},
        {"data.bin.minisig", true, false},       // minisign's own comment names no release
        {"data.bin.v1.9.minisig", false, true},  // an unsigned build checks nothing
    };
    const std::string dir = OV_SIGNATURES_DIR;
    const std::string data = ReadBytes(httptest::WinePath(dir + "/data.bin"));
    ReleasePolicy policy;
    policy.floor = "2.0";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.signature) + (c.signedBuild ? "" : " unsigned"));
        PackageDir pkg;
        ASSERT_TRUE(WriteBytes(pkg.Package(), data));
        ASSERT_TRUE(WriteBytes(
            pkg.Package() + L".minisig", ReadBytes(httptest::WinePath(dir + "/" + c.signature))));
        const PublisherKeys keys(c.signedBuild ? std::vector<std::string>{httptest::TestPublicKey("test")}
                                               : std::vector<std::string>{});
        testsupport::TempDir staging;
        LockedPackage package;
        EXPECT_EQ(c.runs, StageShippedPackage(package, pkg.Package(), staging / L"ovinstaller.exe", keys, policy));
        EXPECT_EQ(c.runs, package.IsOpen());
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

TEST_F(UpdaterTest, ASignedManifestOfAReleaseThisBuildRefusesIsNotUsed)
{
    const uint64_t size = 3000;
    const std::string md5 = Narrow(Md5Of(ExpectedContent(size, 40)));
    const std::string valid = ExpiresIn(86400);
    // One manifest of each refusal, and one that passes (code 0).
    struct Case { const char* name; std::string version, size, expires; int code; } cases[] = {
        {"floor", "2.0", "3000", valid, 0},
        {"below", "1.9.9", "3000", valid, UM_ERR_RELEASE_VERSION},
        {"expired", "2.0", "3000", ExpiresIn(-60), UM_ERR_RELEASE_EXPIRED},
        {"nosize", "2.0", "", valid, UM_ERR_RELEASE_INCOMPLETE},
    };
    ReleasePolicy policy;
    policy.floor = "2.0";
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (const Case& c : cases) {
        const std::string body =
            ManifestBody(PackageUrl(std::string(c.name) + "-pkg", size, 40), c.size, md5, c.version, c.expires);
        const std::wstring endpoint = ManifestEndpoint(c.name, body);
        StartNew(runs, {endpoint, endpoint}, TestKeys(), policy);
    }
    ASSERT_TRUE(WaitFor([&] {
        for (size_t i = 0; i < runs.size(); ++i)
            if (runs[i]->listener.Count(cases[i].code ? E::kManifest : E::kDownload) == 0)
                return false;
        return true;
    }, 20000));
    Settle();

    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const ModuleRun& run = *runs[i];
        ASSERT_EQ(1u, run.listener.Count(E::kManifest));
        if (c.code == 0) {
            EXPECT_EQ(0, run.Manifest().type);
            EXPECT_EQ(0, run.Download().type);
            EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(size, 40));
            continue;
        }
        // Refused like a manifest whose signature fails: the next endpoint is
        // tried, and nothing it names is fetched or kept.
        EXPECT_EQ(ERR_USER, run.Manifest().type);
        EXPECT_EQ(c.code, run.Manifest().code);
        EXPECT_EQ(L"", run.Manifest().text);
        EXPECT_EQ(2, run.module->AttemptsMade());
        EXPECT_EQ(0u, run.listener.Count(E::kDownload));
        EXPECT_TRUE(server_->Requests(Path(std::string(c.name) + "-pkg?")).empty());
        EXPECT_FALSE(PathExists(run.pkg.dir / L"ovinstall.ini"));
    }
}

}  // namespace
}  // namespace updatertest
