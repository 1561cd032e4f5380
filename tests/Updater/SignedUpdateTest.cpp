// The update module of a signed build, through the real engine, libsodium and
// the test server, which signs what it serves with the test publisher's key
// (or, on request, another key, the older kind, nothing, garbage...): nothing
// is used unless the publisher signed exactly those bytes, and the checked
// package cannot be changed by anybody until the window lets it go.

#include <memory>

#include "Updater/PackageCheck.h"
#include "Updater/UpdaterTestSupport.h"

namespace updatertest {
namespace {

std::vector<std::string> PathsOf(const std::vector<httptest::LoggedRequest>& log)
{
    std::vector<std::string> paths;
    for (const httptest::LoggedRequest& r : log)
        paths.push_back(r.path.substr(0, r.path.find('?')));
    return paths;
}

TEST_F(UpdaterTest, ASignedReleaseIsCheckedAndHeldUntilTheWindowLetsItGo)
{
    ModuleRun run;
    const PackageDir& pkg = run.pkg;
    ASSERT_TRUE(WriteBytes(pkg.Package(), "old package"));
    const std::string content = ExpectedContent(300000, 21);
    const std::string body = ManifestBody(PackageUrl("pkg", 300000, 21), "300000", Narrow(Md5Of(content)), "9.1");
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", body)}, E::kDownload, TestKeys()));
    UpdateModule* module = run.module.get();
    Settle();

    ASSERT_EQ(1u, run.listener.Count(E::kManifest));
    EXPECT_EQ(0, run.Manifest().type);
    EXPECT_EQ(L"9.1", run.Manifest().text);
    EXPECT_EQ(0, run.Download().type);
    EXPECT_EQ(0, run.Download().code);
    // Each signature right after what it signs.
    const std::vector<std::string> expected = {Path("m/ovinstall.txt"), Path("m/ovinstall.txt.minisig"), Path("pkg"),
                                               Path("pkg.minisig")};
    EXPECT_EQ(expected, PathsOf(server_->Requests(Path())));
    EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
    EXPECT_FALSE(PathExists(pkg.Temporary()));

    // Until the package runs, nobody can write, delete, rename or replace it.
    ASSERT_TRUE(module->PackageLocked());
    const std::wstring evil = pkg.dir / L"evil.exe";
    ASSERT_TRUE(WriteBytes(evil, "evil"));
    HANDLE writer = CreateFileW(pkg.Package().c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileW(pkg.Package().c_str()));
    EXPECT_FALSE(MoveFileExW(pkg.Package().c_str(), (pkg.Package() + L".away").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(evil.c_str(), pkg.Package().c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(ReadBytes(pkg.Package()) == content) << "readers may still read it";

    module->ReleasePackage();
    EXPECT_FALSE(module->PackageLocked());
    EXPECT_TRUE(MoveFileExW(evil.c_str(), pkg.Package().c_str(), MOVEFILE_REPLACE_EXISTING));
}

TEST_F(UpdaterTest, AManifestIsUsedOnlyWhenItsSignatureVerifiesAtThatEndpoint)
{
    const std::string pkgUrl = PackageUrl("pkg", 2000, 22);
    const std::string md5 = Narrow(Md5Of(ExpectedContent(2000, 22)));
    const std::string good = ManifestBody(pkgUrl, "2000", md5, "2.0");
    // The published manifest changed after it was signed.
    ManifestEndpoint("signed-original", ManifestBody(pkgUrl, "2000", md5, "1.5"));
    struct Case {
        const char* name;
        std::string extra;  // the endpoint's signature fault
        int type, code;     // the manifest result when every endpoint has it
    } cases[] = {
        // Every signature that does not verify takes one path (the kinds of
        // bad signature are the verifier's own tests): another key's stands
        // for them all.
        {"other", "&sig=other", ERR_USER, UM_ERR_MANIFEST_SIGNATURE},
        {"missing", "&sig=none", ERR_HTTP, 404},
        {"huge", "&sig=huge", ERR_USER, COMMAND_ERR_BODY_TOO_LARGE},
        {"tampered", "", ERR_USER, UM_ERR_MANIFEST_SIGNATURE},
    };
    // Each fault twice: before a good secondary endpoint, and on both.
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (const Case& c : cases) {
        const std::string bad = std::string(c.name) + "-bad";
        const std::wstring badEndpoint = ManifestEndpoint(bad, ManifestBody(pkgUrl, "2000", md5, "6.6"), c.extra);
        if (std::string(c.name) == "tampered") {
            ASSERT_TRUE(Route(Path(bad + "/ovinstall.txt.minisig"), "mode=stored&name=" + Key("signed-original")));
        }
        const std::wstring goodEndpoint = ManifestEndpoint(std::string(c.name) + "-good", good);
        for (bool secondaryGood : {true, false})
            StartNew(runs, {badEndpoint, secondaryGood ? goodEndpoint : badEndpoint}, TestKeys());
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const std::unique_ptr<ModuleRun>& run : runs)
                if (run->listener.Count(E::kManifest) == 0 ||
                    (run->listener.First(E::kManifest).type == 0 && run->listener.Count(E::kDownload) == 0))
                    return false;
            return true;
        },
        20000));
    Settle();

    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i / 2];
        const bool secondaryGood = i % 2 == 0;
        SCOPED_TRACE(std::string(c.name) + (secondaryGood ? " then good" : " twice"));
        const RecordingListener& listener = runs[i]->listener;
        ASSERT_EQ(1u, listener.Count(E::kManifest));
        const E manifest = listener.First(E::kManifest);
        if (secondaryGood) {
            EXPECT_EQ(0, manifest.type);
            EXPECT_EQ(L"2.0", manifest.text);
            EXPECT_EQ(0, listener.First(E::kDownload).type);
            EXPECT_TRUE(ReadBytes(runs[i]->pkg.Package()) == ExpectedContent(2000, 22));
        } else {
            EXPECT_EQ(c.type, manifest.type);
            EXPECT_EQ(c.code, manifest.code);
            EXPECT_EQ(L"", manifest.text);
            EXPECT_EQ(0u, listener.Count(E::kDownload));
            EXPECT_FALSE(PathExists(runs[i]->pkg.dir / L"ovinstall.ini")) << "an unverified manifest was kept";
        }
        EXPECT_EQ(2, runs[i]->module->AttemptsMade());
    }
    // Nothing named by an unverified manifest was fetched: only the good one's
    // package, once per run that reached it.
    EXPECT_EQ(sizeof cases / sizeof cases[0], server_->Requests(Path("pkg?")).size());
}

TEST_F(UpdaterTest, APackageIsInstalledOnlyWhenItsSignatureVerifies)
{
    const uint64_t size = 40000;
    struct Case {
        const char* name;
        std::string extra;   // the signature fault, in the package's query
        bool substituted;    // the signature is of other bytes than those served
        int type, code;
        bool keepsDownload;  // the whole download stays for the next attempt
    } cases[] = {
        // Another key's signature stands for every one that does not verify.
        {"other", "&sig=other", false, ERR_USER, UM_ERR_PACKAGE_SIGNATURE, false},
        {"substituted", "", true, ERR_USER, UM_ERR_PACKAGE_SIGNATURE, false},
        {"missing", "&sig=none", false, ERR_HTTP, 404, true},
        {"huge", "&sig=huge", false, ERR_USER, COMMAND_ERR_BODY_TOO_LARGE, true},
        // Signed by the publisher, but as another release than the manifest
        // names (1.0): an older one, and one the manifest's text only begins.
        {"older", "&ver=0.9", false, ERR_USER, UM_ERR_PACKAGE_RELEASE, false},
        {"longer", "&ver=1.0.1", false, ERR_USER, UM_ERR_PACKAGE_RELEASE, false},
    };
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        const int seed = 30 + static_cast<int>(i);
        const std::string name = std::string(c.name) + "-pkg";
        const std::string url = PackageUrl(name, size, seed, c.extra);
        if (c.substituted) {
            ASSERT_TRUE(Route(Path(name + ".minisig"), "size=" + std::to_string(size) + "&seed=99"));
        }
        runs.emplace_back(new ModuleRun);
        ModuleRun& run = *runs.back();
        ASSERT_TRUE(WriteBytes(run.pkg.Package(), "old package"));
        const std::string md5 = Narrow(Md5Of(ExpectedContent(size, seed)));
        Start(run, {ManifestEndpoint(c.name, ManifestBody(url, std::to_string(size), md5, "1.0"))}, TestKeys());
    }
    ASSERT_TRUE(WaitForEveryDownloadResult(runs));
    Settle();

    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        ModuleRun& run = *runs[i];
        ASSERT_EQ(1u, run.listener.Count(E::kDownload));
        const E done = run.listener.First(E::kDownload);
        EXPECT_EQ(c.type, done.type);
        EXPECT_EQ(c.code, done.code);
        EXPECT_EQ(kFailure, done.text);
        EXPECT_EQ("old package", ReadBytes(run.pkg.Package()));
        EXPECT_FALSE(run.module->PackageLocked());
        if (c.keepsDownload) {
            EXPECT_TRUE(ReadBytes(run.pkg.Temporary()) == ExpectedContent(size, 30 + static_cast<int>(i)));
        } else {
            EXPECT_FALSE(PathExists(run.pkg.Temporary()));
        }
    }

    // The publisher's signature appears (the server is healed): the window's
    // retry checks the whole download again without fetching it again.
    ModuleRun& missing = *runs[2];
    const std::string name = "missing-pkg";
    ASSERT_TRUE(Route(Path(name + ".minisig"), "size=" + std::to_string(size) + "&seed=32&ver=1.0"));
    missing.module->ResumeInstallerDownload();
    ASSERT_TRUE(WaitFor([&] { return missing.listener.Count(E::kDownload) == 2; }));
    EXPECT_EQ(0, missing.listener.Of(E::kDownload)[1].type);
    EXPECT_TRUE(ReadBytes(missing.pkg.Package()) == ExpectedContent(size, 32));
    EXPECT_EQ(1u, server_->Requests(Path(name + "?")).size());
}

TEST_F(UpdaterTest, AManifestMayBe64KiBAndNoMore)
{
    const std::string head =
        ManifestBody(PackageUrl("pkg", 1000, 23), "1000", Narrow(Md5Of(ExpectedContent(1000, 23))), "3.0");
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (size_t size : {size_t(64 * 1024), size_t(64 * 1024 + 1)}) {
        std::string body = head;
        while (body.size() < size)
            body += std::string(std::min<size_t>(size - body.size(), 60), ';') + (body.size() + 62 <= size ? "\r\n" : "");
        body.resize(size, ';');
        const std::wstring endpoint = ManifestEndpoint("m" + std::to_string(size), body);
        StartNew(runs, {endpoint, endpoint}, TestKeys());
    }
    ASSERT_TRUE(WaitFor([&] {
        return runs[0]->listener.Count(E::kDownload) == 1 && runs[1]->listener.Count(E::kManifest) == 1;
    }));
    EXPECT_EQ(0, runs[0]->listener.First(E::kManifest).type);
    EXPECT_EQ(L"3.0", runs[0]->listener.First(E::kManifest).text);
    EXPECT_EQ(0, runs[0]->listener.First(E::kDownload).type);
    const E over = runs[1]->listener.First(E::kManifest);
    EXPECT_EQ(ERR_USER, over.type);
    EXPECT_EQ(COMMAND_ERR_BODY_TOO_LARGE, over.code);
}

TEST_F(UpdaterTest, AnEndpointThatTricklesIsLeftAtItsDeadline)
{
    // Two bytes a second pass the transfer's stall rule: only the deadline
    // ends the manifest (padded to take minutes) or its signature.
    const std::string content = ExpectedContent(1500, 26);
    const std::string good = ManifestBody(PackageUrl("pkg", 1500, 26), "1500", Narrow(Md5Of(content)), "2.0") +
                             std::string(800, ';') + "\r\n";
    const std::wstring goodEndpoint = ManifestEndpoint("good", good);
    const std::string slow[] = {"slow-manifest", "slow-signature"};
    const std::wstring slowEndpoints[] = {
        ManifestEndpoint(slow[0], good, "&blob=" + Key(slow[0]) + "&mode=trickle&chunk=2&delay=1000"),
        ManifestEndpoint(slow[1], good, "&sigdelay=2000"),
    };
    std::vector<std::unique_ptr<ModuleRun>> runs;
    const DWORD begin = GetTickCount();
    for (const std::wstring& slowEndpoint : slowEndpoints)
        StartNew(runs, {slowEndpoint, goodEndpoint}, TestKeys());
    ASSERT_TRUE(WaitForEveryDownloadResult(runs, 120000));
    EXPECT_LT(GetTickCount() - begin, 90000u) << "the trickle would have taken minutes";
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(slow[i]);
        EXPECT_EQ(0, runs[i]->listener.First(E::kDownload).type);
        EXPECT_EQ(2, runs[i]->module->AttemptsMade());
        // Given up, not retried: the deadline covers the retries.
        EXPECT_EQ(1u, server_->Requests(Path(slow[i] + (i == 0 ? "/ovinstall.txt?" : "/ovinstall.txt.minisig"))).size());
    }
}

TEST_F(UpdaterTest, AnUnsignedBuildAsksForNoSignature)
{
    const std::string body = ManifestBody(PackageUrl("pkg", 1500, 24), "1500", "", "u");
    ModuleRun run;
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", body, "&sig=none")}));
    EXPECT_EQ(0, run.Download().type);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(1500, 24));
    for (const std::string& path : PathsOf(server_->Requests(Path())))
        EXPECT_EQ(std::string::npos, path.find(".minisig")) << path;
}

TEST_F(UpdaterTest, AnHttpsReleaseInstallsWithTheCertificateChecked)
{
    ASSERT_TRUE(httptest::TrustTestCa());
    httptest::FaultServer& tls = httptest::FaultServer::Tls("localhost");
    ASSERT_NE(0, tls.Port());
    const std::string content = ExpectedContent(120000, 25);
    const std::string pkgUrl = tls.NarrowUrl(Path("pkg?size=120000&seed=25"));
    const std::string key = Key("https-m");
    ASSERT_TRUE(Post("/_put?name=" + key, ManifestBody(pkgUrl, "120000", Narrow(Md5Of(content)), "4.0"), &tls));
    ModuleRun run;
    ASSERT_TRUE(Run(run, {tls.Url(Path("https-m/ovinstall.txt?mode=stored&name=" + key))}, E::kDownload, TestKeys()));
    EXPECT_EQ(0, run.Manifest().type);
    EXPECT_EQ(0, run.Download().type);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == content);
    EXPECT_EQ(4u, tls.Requests(Path()).size());
    EXPECT_TRUE(server_->Requests(Path()).empty());
}

}  // namespace
}  // namespace updatertest
