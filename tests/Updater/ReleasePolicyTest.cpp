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

int Sign(int n)
{
    return n < 0 ? -1 : n > 0 ? 1 : 0;
}

TEST(ReleaseRules, VersionsTimesAndTrustedComments)
{
    struct Order { const char* a; const char* b; int order; } orders[] = {
        {"2.0", "2.0", 0}, {"2.0", "2.0.0", 0}, {"02.1", "2.01", 0}, {"2.10", "2.9", 1}, {"10.0", "9.99", 1},
        {"1.9.9", "2", -1}, {"123456789012345678901234567890", "123456789012345678901234567889", 1},
    };
    for (const Order& o : orders) {
        EXPECT_EQ(o.order, Sign(CompareVersions(o.a, o.b))) << o.a << " vs " << o.b;
        EXPECT_EQ(-o.order, Sign(CompareVersions(o.b, o.a))) << o.b << " vs " << o.a;
    }
    for (const std::string bad : {"", "1.", ".1", "1..2", "1.2a", "v1.2", " 1.2", "1,2", "-1", "+1"})
        EXPECT_FALSE(IsDottedVersion(bad)) << bad;
    EXPECT_TRUE(IsDottedVersion(std::string(64, '1')));
    EXPECT_FALSE(IsDottedVersion(std::string(65, '1')));

    struct Time { const wchar_t* text; int64_t seconds; } times[] = {
        {L"1970-01-01T00:00:00Z", 0}, {L"2024-02-29T23:59:59Z", 1709251199}, {L"2038-01-19T03:14:08Z", 2147483648ll},
        {L"2023-02-29T00:00:00Z", -1}, {L"2024-04-31T00:00:00Z", -1}, {L"2024-13-01T00:00:00Z", -1},
        {L"2024-01-01T24:00:00Z", -1}, {L"2024-01-01T00:60:00Z", -1}, {L"2024-01-01 00:00:00Z", -1},
        {L"2024-01-01T00:00:00", -1}, {L"2024-01-01T00:00:00+08:00", -1}, {L"2024-1-01T00:00:00Z", -1},
        {L"1969-12-31T23:59:59Z", -1}, {L"\xFF12" L"024-01-01T00:00:00Z", -1},
    };
    for (const Time& t : times) {
        int64_t seconds = -1;
        EXPECT_EQ(t.seconds >= 0, ParseUtcTime(t.text, seconds)) << testing::PrintToString(std::wstring(t.text));
        if (t.seconds >= 0) {
            EXPECT_EQ(t.seconds, seconds);
        }
    }

    // The version is a field of its own, named exactly, in a comment of
    // exactly that shape.
    struct Comment { const char* text; const char* version; } comments[] = {
        {"version=2.0 size=300000 md5=ab", "2.0"}, {"size=1 version=2.0", "2.0"}, {"version=2.0 later-key=x", "2.0"},
        {"timestamp:1 file:data.bin hashed", nullptr}, {"release 2.0 ovinstaller.exe size=1", nullptr},
        {"xversion=2.0", nullptr}, {"version=2.0 version=3.0", nullptr}, {"version=2.0  size=1", nullptr},
        {" version=2.0", nullptr}, {"version=2.0 ", nullptr}, {"version=", nullptr}, {"Version=2.0", nullptr},
        {"version=2.0\tsize=1", nullptr}, {"", nullptr}, {"version=2.0 size", nullptr}, {"=2.0", nullptr},
    };
    for (const Comment& c : comments) {
        std::string version;
        EXPECT_EQ(c.version != nullptr, TrustedCommentField(c.text, "version", version)) << "[" << c.text << "]";
        if (c.version) {
            EXPECT_EQ(c.version, version);
        }
    }
}

TEST(ShippedPackage, RunsOnlyWhenSignedAsAReleaseAtTheFloorOrAbove)
{
    struct Case {
        const char* signature;
        bool signedBuild;
        bool runs;
    } cases[] = {
        {"data.bin.v2.0.minisig", true, true},
        {"data.bin.v10.1.minisig", true, true},
        {"data.bin.v1.9.minisig", true, false},
        {"data.bin.minisig", true, false},  // minisign's own comment names no release
        {"data.bin.v1.9.minisig", false, true},  // an unsigned build checks nothing
    };
    const std::string dir = OV_SIGNATURES_DIR;
    const std::string data = testsupport::ReadBytes(httptest::WinePath(dir + "/data.bin"));
    ASSERT_EQ(300000u, data.size());
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
        LockedPackage package;
        EXPECT_EQ(c.runs, LockShippedPackage(package, pkg.Package(), keys, policy));
        EXPECT_EQ(c.runs, package.IsOpen());
    }
}

TEST_F(UpdaterTest, ASignedManifestOfAReleaseThisBuildRefusesIsNotUsed)
{
    const uint64_t size = 3000;
    const std::string md5 = Narrow(Md5Of(ExpectedContent(size, 40)));
    const std::string valid = ExpiresIn(86400);
    const int64_t kDays = 86400;
    struct Case {
        const char* name;
        std::string version, size, md5, expires;
        bool expiryRequired;
        int64_t buildAhead;  // the build's date this far ahead of the clock
        int code;            // 0: it installs
    } cases[] = {
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
    ASSERT_TRUE(WaitFor(
        [&] {
            for (size_t i = 0; i < runs.size(); ++i)
                if (runs[i]->listener.Count(cases[i].code ? E::kManifest : E::kDownload) == 0)
                    return false;
            return true;
        },
        20000));
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
