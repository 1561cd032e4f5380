// The update module through the real engine and the fault-injecting server:
// manifest fallback, download with progress, resume, failed downloads, held
// files, the package checksum, Stop, helper window names, and manifests that
// are not what they should be. Every listener call is recorded with its thread. The
// rules of the layers below (answers, checksums, paths, manifest text) are
// tested where they live; here only what the module makes of them.

#include <memory>

#include "Updater/UpdaterTestSupport.h"
#include "Runtime/UniqueHandle.h"
#include "Updater/UpdateManifest.h"

namespace updatertest {
namespace {

class ModuleTest : public UpdaterTest {
protected:
    // A package that trickles in (200000 bytes, 10000 every 100 ms), started
    // and waited for until some of it has arrived.
    bool StartTrickling(ModuleRun& run, int seed)
    {
        const std::string url = PackageUrl("pkg", 200000, seed, "&mode=trickle&chunk=10000&delay=100");
        Start(run, {ManifestEndpoint("m", ManifestBody(url, "200000", "", ""))});
        return WaitFor([&] {
            for (const E& p : run.listener.Of(E::kProgress))
                if (p.completed > 0)
                    return true;
            return false;
        });
    }
};

TEST_F(ModuleTest, SecondaryEndpointAnswersWhenThePrimaryFails)
{
    // The package comes chunked behind a redirect: installed whole all the same.
    const std::string body =
        PackageManifest("pkg", 1000, 3, "2.5.1", "&mode=redirect&hops=1&rbody=900&then=chunked&chunk=300");
    ModuleRun run;
    ASSERT_TRUE(Run(run, {StatusEndpoint("primary", 404), ManifestEndpoint("secondary", body)}));
    Settle();

    ASSERT_EQ(1u, run.listener.Count(E::kManifest));
    EXPECT_EQ(Outcome(0, 0, L"2.5.1"), run.Manifest().Result());
    EXPECT_EQ(E::kManifest, run.listener.events.front().kind);
    EXPECT_EQ(2, run.module->AttemptsMade());
    // One request each (an unsigned build asks for no signature).
    EXPECT_EQ(1u, server_->Requests(Path("primary/")).size());
    EXPECT_EQ(1u, server_->Requests(Path("secondary/")).size());
    // The copy is what was received: read back, it names the same release.
    EXPECT_EQ(L"2.5.1", ReadManifestValues(run.pkg.Path()).version);
    EXPECT_EQ(0, run.Download().type);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(1000, 3));
}

TEST_F(ModuleTest, BothEndpointsFailingReportTheSecondFailureOnce)
{
    // The second failure differs in kind from the first (a refused connection,
    // retried twice by the engine), so the reported pair shows which one won.
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(httptest::RefusingPort()) + L"/ovinstall.txt";
    ModuleRun run;
    ASSERT_TRUE(Run(run, {StatusEndpoint("primary", 500), refused}, E::kManifest));
    Settle();

    ASSERT_EQ(1u, run.listener.events.size());
    const E manifest = run.listener.events[0];
    EXPECT_EQ(E::kManifest, manifest.kind);
    EXPECT_EQ(Outcome(ERR_CURL, CURLE_COULDNT_CONNECT, L""), manifest.Result());
    EXPECT_EQ(uiThread_, manifest.thread);
    EXPECT_FALSE(PathExists(run.pkg.dir / L"ovinstall.ini"));
    EXPECT_EQ(1u, server_->Requests(Path("primary/")).size());
}

TEST_F(ModuleTest, DownloadReportsProgressOnTheUiThreadAndInstallsThePackage)
{
    const uint64_t size = 240000;
    const std::string content = ExpectedContent(size, 4);
    ModuleRun run;
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", PackageManifest("pkg", size, 4, "7", "&mode=trickle&chunk=24000&delay=100"))}));
    Settle();

    for (const E& e : run.listener.events)
        EXPECT_EQ(uiThread_, e.thread);
    EXPECT_EQ(0u, run.listener.Count(E::kUnused));
    ASSERT_EQ(1u, run.listener.Count(E::kDownload));
    EXPECT_EQ(E::kDownload, run.listener.events.back().kind);
    EXPECT_EQ(Outcome(0, 0, L""), run.Download().Result());

    const std::vector<E> progress = run.listener.Of(E::kProgress);
    ASSERT_GE(progress.size(), 2u);
    for (const E& p : progress) {
        EXPECT_EQ(size, p.total);
        EXPECT_EQ(0, p.reserved);
    }
    EXPECT_GT(progress.back().completed, 0u) << "no report counted any byte";

    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == content);
    EXPECT_FALSE(PathExists(run.pkg.Temporary()));
    // One request, from the start (an unsigned build asks for no signature).
    std::vector<httptest::LoggedRequest> log = server_->Requests(Path("pkg"));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("-", log[0].range);

    // Messages after the download ended reach no listener.
    const size_t seen = run.listener.events.size();
    ASSERT_TRUE(PostMessageW(run.module->HelperWindow(), UM_DOWNLOAD_DONE, ERR_CURL, 28));
    ASSERT_TRUE(PostMessageW(run.module->HelperWindow(), UM_DOWNLOAD_PROGRESS, 0, 0));
    Settle();
    EXPECT_EQ(seen, run.listener.events.size());
}

TEST_F(ModuleTest, PartialTemporaryFileIsResumedWithARange)
{
    const std::string content = ExpectedContent(5000, 6);
    ModuleRun run;
    ASSERT_TRUE(WriteBytes(run.pkg.Temporary(), content.substr(0, 1800)));
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", PackageManifest("pkg", 5000, 6, ""))}));

    EXPECT_EQ(0, run.Download().type);
    std::vector<httptest::LoggedRequest> log = server_->Requests(Path("pkg"));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("bytes=1800-", log[0].range);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == content);
    EXPECT_FALSE(PathExists(run.pkg.Temporary()));
}

TEST_F(ModuleTest, FailedDownloadDeletesAnEmptyTemporaryFileAndKeepsAPartialOne)
{
    struct Case {
        const char* name;
        size_t partial;
        const char* answer;
        int code;
    } cases[] = {
        {"empty", 0, "&mode=status&code=503", 503},
        {"partial", 700, "&mode=status&code=404", 404},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModuleRun run;
        if (c.partial) {
            ASSERT_TRUE(WriteBytes(run.pkg.Temporary(), ExpectedContent(c.partial, 2)));
        }
        const std::string url = PackageUrl(std::string(c.name) + "-pkg", 2000, 2, c.answer);
        ASSERT_TRUE(Run(run, {ManifestEndpoint(c.name, ManifestBody(url, "2000", "", ""))}));

        EXPECT_EQ(Outcome(ERR_HTTP, c.code, kFailure), run.Download().Result());
        if (c.partial) {
            EXPECT_TRUE(ReadBytes(run.pkg.Temporary()) == ExpectedContent(c.partial, 2));
        } else {
            EXPECT_FALSE(PathExists(run.pkg.Temporary()));
        }
        EXPECT_FALSE(PathExists(run.pkg.Package()));
    }
}

TEST_F(ModuleTest, TheNextPackageAddressGetsTransportRetriesOfItsOwn)
{
    // The first address refuses every attempt; the second drops its first
    // two connections, then serves.
    const std::string refused = "http://127.0.0.1:" + std::to_string(httptest::RefusingPort()) + "/ovinstaller.exe";
    const std::string second = PackageUrl("second", 3000, 23, "&mode=drop&after=1000&times=2");
    ModuleRun run;
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", ManifestBody(refused, "3000", "", "") + "Url2=" + second + "\r\n")}));
    EXPECT_EQ(0, run.Download().type);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(3000, 23));
    EXPECT_EQ(3u, server_->Requests(Path("second")).size());
}

TEST_F(ModuleTest, HeldFilesNeitherLendTheirValuesNorLoseTheDownload)
{
    // Another program planted a manifest copy and holds it open, so the new
    // one cannot be written, and has the old package open without delete
    // sharing: the values are the received manifest's, and the download is
    // kept for a later replacement.
    ModuleRun run;
    ASSERT_TRUE(WriteBytes(run.pkg.Package(), "old package"));
    ASSERT_TRUE(SaveManifestCopy(run.pkg.Path(), Widen(ManifestBody(PackageUrl("old", 1200, 14), "1200", "", "old"))));
    UniqueHandle package(CreateFileW(run.pkg.Package().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    UniqueHandle copy(CreateFileW((run.pkg.dir / L"ovinstall.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(package && copy);
    const bool finished = Run(run, {ManifestEndpoint("m", PackageManifest("new", 1300, 15, "new"))});
    package.Reset();
    copy.Reset();
    ASSERT_TRUE(finished);

    EXPECT_EQ(L"new", run.Manifest().text);
    EXPECT_EQ(Outcome(ERR_USER, UM_ERR_REPLACE, L""), run.Download().Result());
    EXPECT_EQ("old package", ReadBytes(run.pkg.Package()));
    EXPECT_TRUE(ReadBytes(run.pkg.Temporary()) == ExpectedContent(1300, 15));
    EXPECT_TRUE(server_->Requests(Path("old")).empty());
    EXPECT_EQ(1u, server_->Requests(Path("new")).size());
    EXPECT_EQ(L"old", ReadManifestValues(run.pkg.Path()).version) << "the planted copy stays as it was";
}

TEST_F(ModuleTest, PackageChecksumDecidesWhetherThePackageIsInstalled)
{
    const uint64_t size = 4000;
    const std::string content = ExpectedContent(size, 11);
    const std::string md5 = Narrow(Md5Of(content));
    std::string wrong = md5;
    wrong[5] = wrong[5] == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string md5;
        bool corruptComplete;  // a ".yw" of the full size but wrong content is left over
        bool installs;
    } cases[] = {
        {"match", md5, false, true},
        {"mismatch", wrong, false, false},
        {"corruptComplete", md5, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModuleRun run;
        ASSERT_TRUE(WriteBytes(run.pkg.Package(), "old package"));
        if (c.corruptComplete) {
            ASSERT_TRUE(WriteBytes(run.pkg.Temporary(), std::string(size, 'X')));
        }
        const std::string name = std::string(c.name) + "-pkg";
        ASSERT_TRUE(Run(run, {ManifestEndpoint(c.name, ManifestBody(PackageUrl(name, size, 11), "4000", c.md5, ""))}));

        EXPECT_EQ(c.installs ? Outcome(0, 0, L"") : Outcome(ERR_USER, UM_ERR_PACKAGE_CHECK, kFailure),
                  run.Download().Result());
        EXPECT_TRUE(ReadBytes(run.pkg.Package()) == (c.installs ? content : "old package"));
        EXPECT_FALSE(PathExists(run.pkg.Temporary()));
        // A complete leftover is judged without any transfer.
        EXPECT_EQ(c.corruptComplete ? 0u : 1u, server_->Requests(Path(name)).size());

        if (c.corruptComplete) {
            // The window's retry fetches a fresh copy, which passes.
            run.module->ResumeInstallerDownload();
            ASSERT_TRUE(WaitFor([&] { return run.listener.Count(E::kDownload) == 2; }));
            EXPECT_EQ(0, run.listener.Of(E::kDownload)[1].type);
            EXPECT_TRUE(ReadBytes(run.pkg.Package()) == content);
            EXPECT_FALSE(PathExists(run.pkg.Temporary()));
        }
    }
}

TEST_F(ModuleTest, StopDuringADownloadSilencesTheListenerAndKeepsThePartialFile)
{
    ModuleRun run;
    ASSERT_TRUE(StartTrickling(run, 12));
    UpdateModule& module = *run.module;
    const HWND helper = module.HelperWindow();
    const std::wstring className = module.HelperClassName();
    module.Stop();
    const size_t seen = run.listener.events.size();
    testsupport::PumpMessagesFor(800);
    EXPECT_EQ(seen, run.listener.events.size());
    EXPECT_EQ(0u, run.listener.Count(E::kDownload));
    EXPECT_FALSE(module.IsDownloading());

    // The window and its class are gone, so nothing can be delivered any more.
    EXPECT_FALSE(IsWindow(helper));
    EXPECT_EQ(nullptr, module.HelperWindow());
    WNDCLASSW wc;
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), className.c_str(), &wc));

    const std::string partial = ReadBytes(run.pkg.Temporary());
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), 200000u);
    EXPECT_TRUE(partial == ExpectedContent(partial.size(), 12));
    EXPECT_FALSE(PathExists(run.pkg.Package()));
    module.Stop();  // again: harmless
}

TEST_F(ModuleTest, ProgressQueuedBehindTheEndOfTheDownloadIsDropped)
{
    ModuleRun run;
    ASSERT_TRUE(StartTrickling(run, 16));
    // The end of the download is queued first; fresh figures are recorded and
    // queued behind it (two timer runs: every other one ticks progress).
    ASSERT_TRUE(PostMessageW(run.module->HelperWindow(), UM_DOWNLOAD_DONE, ERR_CURL, CURLE_RECV_ERROR));
    HttpTimerProc(nullptr, 0, 0, 0);
    HttpTimerProc(nullptr, 0, 0, 0);
    Settle();

    ASSERT_EQ(1u, run.listener.Count(E::kDownload));
    EXPECT_EQ(E::kDownload, run.listener.events.back().kind);
    EXPECT_EQ(Outcome(ERR_CURL, CURLE_RECV_ERROR, kFailure), run.Download().Result());
    EXPECT_FALSE(run.module->IsDownloading());
    EXPECT_GT(ReadBytes(run.pkg.Temporary()).size(), 0u);
}

TEST_F(ModuleTest, BadManifestsEachEndInOneClearResult)
{
    const std::string pkgUrl = PackageUrl("pkg", 1500, 13);
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 7919 + i / 13) & 0xFF));
    // "版本" in the GBK code page, which is not UTF-8.
    const std::string gbk = "[Install]\r\nUrl=" + pkgUrl + "\r\nSize=1500\r\nVersion=\xB0\xE6\xB1\xBE 3\r\n";
    struct Case {
        const char* name;
        std::string body;
        bool installs;
    } cases[] = {
        {"garbage", garbage, false},  // no address at all
        {"notAUrl", ManifestBody("not a url", "1500", "", "x"), false},
        {"notUtf8", gbk, true},
        {"noMd5NoVersion", "[Install]\r\nUrl=" + pkgUrl + "\r\nSize=1500\r\n", true},
    };
    // All at once: the failing ones wait out the engine's retries in parallel.
    std::vector<std::unique_ptr<ModuleRun>> runs;
    for (const Case& c : cases)
        StartNew(runs, {ManifestEndpoint(c.name, c.body)});
    ASSERT_TRUE(WaitForEveryDownloadResult(runs));
    Settle();

    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        const ModuleRun& run = *runs[i];
        SCOPED_TRACE(c.name);
        ASSERT_EQ(1u, run.listener.Count(E::kManifest));
        ASSERT_EQ(1u, run.listener.Count(E::kDownload));
        EXPECT_EQ(E::kManifest, run.listener.events.front().kind);
        EXPECT_EQ(0, run.Manifest().type);
        if (c.installs) {
            EXPECT_EQ(0, run.Download().type);
            EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(1500, 13));
        } else {
            EXPECT_NE(0, run.Download().type);
            EXPECT_EQ(kFailure, run.Download().text);
            EXPECT_FALSE(PathExists(run.pkg.Package()));
        }
    }
    EXPECT_FALSE(runs[2]->Manifest().text.empty());
    EXPECT_EQ(L"", runs[3]->Manifest().text);
}

TEST_F(ModuleTest, ARefusedPackageDirectoryIsToldWhyAndNothingIsFetchedOrWritten)
{
    testsupport::TempDir dir, elsewhere;
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));
    // A folder on the way turned into a link to somewhere else (Wine makes a
    // Unix symbolic link, which it reports as a reparse point).
    ASSERT_TRUE(testsupport::MakeSymbolicLink(dir / L"link", elsewhere.Path()));
    struct Case {
        std::wstring packageDir;
        int code;
    } cases[] = {{dir / L"file\\sub", UM_ERR_DIR_IS_FILE}, {dir / L"link\\欧维澄岳", UM_ERR_DIR_LINK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ModuleRun run;
        run.packageDir = c.packageDir;
        ASSERT_TRUE(Run(run, {StatusEndpoint("m", 404)}));
        Settle();
        ASSERT_EQ(1u, run.listener.events.size()) << "one result, and no manifest stage";
        const E refused = run.listener.events[0];
        EXPECT_EQ(ERR_USER, refused.type);
        EXPECT_EQ(c.code, refused.code);
        EXPECT_TRUE(IsPackageDirRefusal(refused.type, refused.code));
        EXPECT_NE(L"", refused.text) << "a notice for the user";
        EXPECT_NE(kFailure, refused.text);
        EXPECT_EQ(uiThread_, refused.thread);
    }
    EXPECT_TRUE(server_->Requests(Path()).empty());
    // Nothing was created through the link.
    EXPECT_FALSE(PathExists(elsewhere / L"欧维澄岳"));
    EXPECT_FALSE(PathExists(elsewhere / L"ovinstall.ini"));
}

// --- every path ends in a result --------------------------------------------------------

TEST_F(ModuleTest, AFailedManifestStageCanBeWalkedAgainAndThenInstalls)
{
    const std::string body = PackageManifest("pkg", 2500, 21, "9");
    ModuleRun run;
    // Both endpoints fail on the first walk; the primary heals afterwards.
    ASSERT_TRUE(Run(run, {HealingEndpoint("primary", 503, 1, body), StatusEndpoint("second", 500)}, E::kManifest));
    Settle();
    ASSERT_EQ(1u, run.listener.events.size());
    EXPECT_EQ(Outcome(ERR_HTTP, 500, L""), run.Manifest().Result());

    run.module->RetryManifest();
    // A second retry while the walk runs changes nothing.
    run.module->RetryManifest();
    ASSERT_TRUE(WaitForKind(run.listener, E::kDownload));
    Settle();
    ASSERT_EQ(2u, run.listener.Count(E::kManifest));
    EXPECT_EQ(Outcome(0, 0, L"9"), run.listener.Of(E::kManifest)[1].Result());
    EXPECT_EQ(0, run.Download().type);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == ExpectedContent(2500, 21));
    EXPECT_EQ(2u, server_->Requests(Path("primary/")).size());
    EXPECT_EQ(1u, server_->Requests(Path("second/")).size());
}

TEST_F(ModuleTest, NoChannelsOrNoHelperWindowIsReportedAtOnceAndRetriedLater)
{
    const std::wstring endpoint = ManifestEndpoint("m", ManifestBody(PackageUrl("pkg", 900, 22), "900", "", ""));
    ModuleRun run;
    channels_.up = false;
    Start(run, {endpoint});
    ASSERT_EQ(1u, run.listener.events.size()) << "reported before Start returned";
    EXPECT_EQ(ERR_USER, run.Manifest().type);
    EXPECT_EQ(UM_ERR_CHANNELS, run.Manifest().code);
    channels_.up = true;

    // Each module asks for the next helper class name: taken, its window fails.
    ModuleRun blocked;
    ASSERT_TRUE(BlockNextHelperClass());
    Start(blocked, {endpoint});
    ReleaseNextHelperClass();
    ASSERT_EQ(1u, blocked.listener.events.size()) << "reported before Start returned";
    EXPECT_EQ(E::kManifest, blocked.listener.events[0].kind);
    EXPECT_EQ(ERR_USER, blocked.Manifest().type);
    EXPECT_EQ(UM_ERR_HELPER_WINDOW, blocked.Manifest().code);
    EXPECT_EQ(nullptr, blocked.module->HelperWindow());
    EXPECT_TRUE(server_->Requests(Path("m/")).empty());

    // The window's retry brings up what was missing (a message-only window
    // of its class), and the run goes on.
    for (ModuleRun* r : {&run, &blocked})
        r->module->RetryManifest();
    EXPECT_NE(nullptr, blocked.module->HelperWindow());
    EXPECT_EQ(blocked.module->HelperWindow(),
              FindWindowExW(HWND_MESSAGE, nullptr, blocked.module->HelperClassName().c_str(), nullptr));
    ASSERT_TRUE(WaitFor([&] { return run.listener.Count(E::kDownload) && blocked.listener.Count(E::kDownload); }));
    for (ModuleRun* r : {&run, &blocked}) {
        EXPECT_EQ(0, r->Download().type);
        EXPECT_TRUE(ReadBytes(r->pkg.Package()) == ExpectedContent(900, 22));
    }
}

}  // namespace
}  // namespace updatertest
