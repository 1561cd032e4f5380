// Releases that cannot be replayed: the version floor, the manifest's expiry,
// its size and checksum, and the version a package was signed as. Through the
// real module and libsodium, on signatures Debian's minisign made: at run time
// by the test server, and at build time for the shipped package
// (tests/Updater/make_signatures.sh).

#include "Updater/ReleasePolicy.h"
#include "Updater/UpdaterTestSupport.h"

namespace updatertest {
namespace {

using httptest::ExpectedContent;
typedef ListenerEvent E;

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
    const std::string data = testsupport::ReadBytes(httptest::WinePath(dir + "/data.bin"));
    ReleasePolicy policy;
    policy.floor = "2.0";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.signature) + (c.signedBuild ? "" : " unsigned"));
        PackageDir pkg;
        ASSERT_TRUE(testsupport::WriteBytes(pkg.Package(), data));
        ASSERT_TRUE(testsupport::WriteBytes(
            pkg.Package() + L".minisig", testsupport::ReadBytes(httptest::WinePath(dir + "/" + c.signature))));
        const PublisherKeys keys(c.signedBuild ? std::vector<std::string>{httptest::TestPublicKey("test")}
                                               : std::vector<std::string>{});
        testsupport::TempDir staging;
        LockedPackage package;
        EXPECT_EQ(c.runs, StageShippedPackage(package, pkg.Package(), staging / L"ovinstaller.exe", keys, policy));
        EXPECT_EQ(c.runs, package.IsOpen());
    }
}

TEST_F(UpdaterTest, ASignedManifestOfAReleaseThisBuildRefusesIsNotUsed)
{
    const uint64_t size = 3000;
    const std::string md5 = Narrow(Md5Of(ExpectedContent(size, 40)));
    const std::string valid = ExpiresIn(86400);
    const int64_t kDays = 86400;
    // buildAhead: the build's date this far ahead of the clock; code 0: it installs.
    struct Case { const char* name; std::string version, size, md5, expires; bool expiryRequired;
                  int64_t buildAhead; int code; } cases[] = {
        {"floor", "2.0", "3000", md5, valid, true, 0, 0},
        {"above", "10.0", "3000", md5, valid, true, 0, 0},  // above 2.0, though "10" sorts first as text
        {"below", "1.9.9", "3000", md5, valid, true, 0, UM_ERR_RELEASE_VERSION},
        {"notdotted", "2.0-beta", "3000", md5, valid, true, 0, UM_ERR_RELEASE_VERSION},
        {"expired", "2.0", "3000", md5, ExpiresIn(-60), true, 0, UM_ERR_RELEASE_EXPIRED},
        {"noexpiry", "2.0", "3000", md5, "", true, 0, UM_ERR_RELEASE_EXPIRED},
        {"badexpiry", "2.0", "3000", md5, "2030-02-30T00:00:00Z", true, 0, UM_ERR_RELEASE_EXPIRED},
        {"clockbehind", "2.0", "3000", md5, valid, true, 10 * kDays, UM_ERR_RELEASE_EXPIRED},
        {"notrequired", "2.0", "3000", md5, "", false, 0, 0},
        {"pastanyway", "2.0", "3000", md5, ExpiresIn(-60), false, 0, UM_ERR_RELEASE_EXPIRED},
        {"nosize", "2.0", "", md5, valid, true, 0, UM_ERR_RELEASE_INCOMPLETE},
        {"nomd5", "2.0", "3000", "", valid, true, 0, UM_ERR_RELEASE_INCOMPLETE},
        {"shortmd5", "2.0", "3000", md5.substr(1), valid, true, 0, UM_ERR_RELEASE_INCOMPLETE},
    };
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (const Case& c : cases) {
        ReleasePolicy policy;
        policy.floor = "2.0";
        policy.expiryRequired = c.expiryRequired;
        policy.buildTime = c.buildAhead ? policy.Now() + c.buildAhead : 0;
        const std::string pkgName = std::string(c.name) + "-pkg";
        const std::string body = ManifestBody(PackageUrl(pkgName, size, 40), c.size, c.md5, c.version, c.expires);
        const std::wstring endpoint = ManifestEndpoint(c.name, body);
        runs.emplace_back(new ModuleRun);
        ModuleRun& run = *runs.back();
        run.module.reset(new UpdateModule(run.pkg.Path(), &run.listener, {endpoint, endpoint}, TestKeys(), policy));
        ASSERT_TRUE(run.module->Start());
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
        const E manifest = run.listener.First(E::kManifest);
        if (c.code == 0) {
            EXPECT_EQ(0, manifest.type);
            EXPECT_EQ(0, run.listener.First(E::kDownload).type);
            EXPECT_TRUE(testsupport::ReadBytes(run.pkg.Package()) == ExpectedContent(size, 40));
            continue;
        }
        // Refused like a manifest whose signature fails: the next endpoint is
        // tried, and nothing it names is fetched or kept.
        EXPECT_EQ(ERR_USER, manifest.type);
        EXPECT_EQ(c.code, manifest.code);
        EXPECT_EQ(L"", manifest.text);
        EXPECT_EQ(2, run.module->AttemptsMade());
        EXPECT_EQ(0u, run.listener.Count(E::kDownload));
        EXPECT_TRUE(server_->Requests(Path(std::string(c.name) + "-pkg?")).empty());
        EXPECT_FALSE(testsupport::PathExists(run.pkg.dir / L"ovinstall.ini"));
    }
}

}  // namespace
}  // namespace updatertest
