// The update module through the real engine and the fault-injecting server:
// manifest fallback, download with progress, resume, failed downloads, the
// package checksum, Stop, helper window names, and manifests that are not
// what they should be. Every listener call is recorded with its thread.

#include <cctype>
#include <memory>

#include "Updater/PackageCheck.h"
#include "Updater/UpdateManifest.h"
#include "Updater/UpdaterTestSupport.h"

namespace updatertest {
namespace {

using httptest::ExpectedContent;
using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;
typedef ListenerEvent E;


std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

TEST_F(UpdaterTest, SecondaryEndpointAnswersWhenThePrimaryFails)
{
    PackageDir pkg;
    const std::string body = ManifestBody(PackageUrl("pkg", 1000, 3), "1000", "", "2.5.1");
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener, {StatusEndpoint("primary", 404), ManifestEndpoint("secondary", body)});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));
    Settle();

    ASSERT_EQ(1u, listener.Count(E::kManifest));
    const E manifest = listener.First(E::kManifest);
    EXPECT_EQ(0, manifest.type);
    EXPECT_EQ(0, manifest.code);
    EXPECT_EQ(L"2.5.1", manifest.text);
    EXPECT_EQ(E::kManifest, listener.events.front().kind);
    EXPECT_EQ(2, module.AttemptsMade());
    EXPECT_EQ(1u, server_->Requests(Path("primary/")).size());
    EXPECT_EQ(1u, server_->Requests(Path("secondary/")).size());

    // The copy holds the decoded text (ASCII here) behind the byte-order mark.
    const std::string copy = ReadBytes(pkg.dir / L"ovinstall.ini");
    ASSERT_EQ(2 + 2 * body.size(), copy.size());
    EXPECT_EQ('\xFF', copy[0]);
    EXPECT_EQ('\xFE', copy[1]);
    EXPECT_EQ(0, listener.First(E::kDownload).type);
}

TEST_F(UpdaterTest, BothEndpointsFailingReportTheSecondFailureOnce)
{
    PackageDir pkg;
    RecordingListener listener;
    // The second failure differs in kind from the first (a refused connection,
    // retried twice by the engine), so the reported pair shows which one won.
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(httptest::RefusingPort()) + L"/ovinstall.txt";
    UpdateModule module(pkg.Path(), &listener, {StatusEndpoint("primary", 500), refused});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kManifest));
    Settle();

    ASSERT_EQ(1u, listener.events.size());
    const E manifest = listener.events[0];
    EXPECT_EQ(E::kManifest, manifest.kind);
    EXPECT_EQ(ERR_CURL, manifest.type);
    EXPECT_EQ(CURLE_COULDNT_CONNECT, manifest.code);
    EXPECT_EQ(L"", manifest.text);
    EXPECT_EQ(uiThread_, manifest.thread);
    EXPECT_FALSE(PathExists(pkg.dir / L"ovinstall.ini"));
    EXPECT_EQ(1u, server_->Requests(Path("primary/")).size());

    // No download runs, so download messages reach no listener.
    ASSERT_TRUE(PostMessageW(module.HelperWindow(), UM_DOWNLOAD_PROGRESS, 0, 0));
    ASSERT_TRUE(PostMessageW(module.HelperWindow(), UM_DOWNLOAD_DONE, 0, 0));
    Settle();
    EXPECT_EQ(1u, listener.events.size());
    EXPECT_FALSE(PathExists(pkg.Package()));
}

TEST_F(UpdaterTest, DownloadReportsProgressOnTheUiThreadAndInstallsThePackage)
{
    PackageDir pkg;
    const uint64_t size = 240000;
    const std::string content = ExpectedContent(size, 4);
    const std::string url = PackageUrl("pkg", size, 4, "&mode=trickle&chunk=24000&delay=100");
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(url, std::to_string(size), Narrow(Md5Of(content)), "7"))});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));
    Settle();

    for (const E& e : listener.events)
        EXPECT_EQ(uiThread_, e.thread);
    EXPECT_EQ(0u, listener.Count(E::kUnused));
    ASSERT_EQ(1u, listener.Count(E::kDownload));
    EXPECT_EQ(E::kDownload, listener.events.back().kind);
    const E done = listener.First(E::kDownload);
    EXPECT_EQ(0, done.type);
    EXPECT_EQ(0, done.code);
    EXPECT_EQ(L"", done.text);

    const std::vector<E> progress = listener.Of(E::kProgress);
    ASSERT_GE(progress.size(), 2u);
    uint64_t last = 0;
    for (const E& p : progress) {
        EXPECT_EQ(size, p.total);
        EXPECT_GE(p.completed, last);
        EXPECT_LE(p.completed, size);
        EXPECT_GE(p.speed, 0);
        EXPECT_EQ(0, p.reserved);
        last = p.completed;
    }
    EXPECT_GT(last, 0u) << "no report counted any byte";

    EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
    EXPECT_FALSE(PathExists(pkg.Temporary()));
    std::vector<httptest::LoggedRequest> log = server_->Requests(Path("pkg"));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("-", log[0].range);

    // Messages after the download ended reach no listener.
    const size_t seen = listener.events.size();
    ASSERT_TRUE(PostMessageW(module.HelperWindow(), UM_DOWNLOAD_DONE, ERR_CURL, 28));
    ASSERT_TRUE(PostMessageW(module.HelperWindow(), UM_DOWNLOAD_PROGRESS, 0, 0));
    Settle();
    EXPECT_EQ(seen, listener.events.size());
}

TEST_F(UpdaterTest, PartialTemporaryFileIsResumedWithARange)
{
    PackageDir pkg;
    const std::string content = ExpectedContent(5000, 6);
    ASSERT_TRUE(WriteBytes(pkg.Temporary(), content.substr(0, 1800)));
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(PackageUrl("pkg", 5000, 6), "5000", Narrow(Md5Of(content)), ""))});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));

    EXPECT_EQ(0, listener.First(E::kDownload).type);
    std::vector<httptest::LoggedRequest> log = server_->Requests(Path("pkg"));
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("bytes=1800-", log[0].range);
    for (const E& p : listener.Of(E::kProgress)) {
        EXPECT_EQ(5000u, p.total);
        EXPECT_GE(p.completed, 1800u);
    }
    EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
    EXPECT_FALSE(PathExists(pkg.Temporary()));
}

TEST_F(UpdaterTest, FailedDownloadDeletesAnEmptyTemporaryFileAndKeepsAPartialOne)
{
    struct Case {
        const char* name;
        size_t partial;
    } cases[] = {{"empty", 0}, {"partial", 700}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageDir pkg;
        if (c.partial) {
            ASSERT_TRUE(WriteBytes(pkg.Temporary(), ExpectedContent(c.partial, 2)));
        }
        const std::string url = PackageUrl(std::string(c.name) + "-pkg", 2000, 2, "&mode=status&code=503");
        RecordingListener listener;
        UpdateModule module(pkg.Path(), &listener, {ManifestEndpoint(c.name, ManifestBody(url, "2000", "", ""))});
        ASSERT_TRUE(module.Start());
        ASSERT_TRUE(WaitForKind(listener, E::kDownload));

        const E done = listener.First(E::kDownload);
        EXPECT_EQ(ERR_HTTP, done.type);
        EXPECT_EQ(503, done.code);
        EXPECT_EQ(kFailure, done.text);
        if (c.partial) {
            EXPECT_TRUE(ReadBytes(pkg.Temporary()) == ExpectedContent(c.partial, 2));
        } else {
            EXPECT_FALSE(PathExists(pkg.Temporary()));
        }
        EXPECT_FALSE(PathExists(pkg.Package()));
    }
}

TEST_F(UpdaterTest, OldPackageThatCannotBeDeletedKeepsTheDownload)
{
    PackageDir pkg;
    const std::string content = ExpectedContent(3000, 9);
    ASSERT_TRUE(WriteBytes(pkg.Package(), "old package"));
    // Another process still has the old package open (without delete sharing).
    HANDLE lock = CreateFileW(pkg.Package().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(PackageUrl("pkg", 3000, 9), "3000", Narrow(Md5Of(content)), ""))});
    ASSERT_TRUE(module.Start());
    const bool finished = WaitForKind(listener, E::kDownload);
    CloseHandle(lock);
    ASSERT_TRUE(finished);

    const E done = listener.First(E::kDownload);
    EXPECT_EQ(ERR_USER, done.type);
    EXPECT_EQ(UM_ERR_REPLACE, done.code);
    EXPECT_EQ(L"", done.text);
    EXPECT_EQ("old package", ReadBytes(pkg.Package()));
    EXPECT_TRUE(ReadBytes(pkg.Temporary()) == content);
}

TEST_F(UpdaterTest, PackageChecksumDecidesWhetherThePackageIsInstalled)
{
    const uint64_t size = 4000;
    const std::string content = ExpectedContent(size, 11);
    const std::string md5 = Narrow(Md5Of(content));
    std::string upper = md5;
    for (char& ch : upper)
        ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    std::string wrong = md5;
    wrong[5] = wrong[5] == '0' ? '1' : '0';

    struct Case {
        const char* name;
        std::string md5;
        bool corruptComplete;  // a ".yw" of the full size but wrong content is left over
        bool installs;
    } cases[] = {
        {"lower", md5, false, true},
        {"upper", upper, false, true},
        {"empty", "", false, true},  // no checksum given: installed unchecked
        {"mismatch", wrong, false, false},
        {"malformed", md5.substr(0, 31) + "g", false, false},
        {"corruptComplete", md5, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageDir pkg;
        ASSERT_TRUE(WriteBytes(pkg.Package(), "old package"));
        if (c.corruptComplete) {
            ASSERT_TRUE(WriteBytes(pkg.Temporary(), std::string(size, 'X')));
        }
        const std::string name = std::string(c.name) + "-pkg";
        RecordingListener listener;
        UpdateModule module(pkg.Path(), &listener,
                            {ManifestEndpoint(c.name, ManifestBody(PackageUrl(name, size, 11), "4000", c.md5, ""))});
        ASSERT_TRUE(module.Start());
        ASSERT_TRUE(WaitForKind(listener, E::kDownload));

        const E done = listener.First(E::kDownload);
        if (c.installs) {
            EXPECT_EQ(0, done.type);
            EXPECT_EQ(0, done.code);
            EXPECT_EQ(L"", done.text);
            EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
        } else {
            EXPECT_EQ(ERR_USER, done.type);
            EXPECT_EQ(UM_ERR_PACKAGE_CHECK, done.code);
            EXPECT_EQ(kFailure, done.text);
            EXPECT_EQ("old package", ReadBytes(pkg.Package()));
        }
        EXPECT_FALSE(PathExists(pkg.Temporary()));
        // A complete leftover is judged without any transfer.
        EXPECT_EQ(c.corruptComplete ? 0u : 1u, server_->Requests(Path(name)).size());

        if (c.corruptComplete) {
            // The window's retry fetches a fresh copy, which passes.
            module.ResumeInstallerDownload();
            ASSERT_TRUE(WaitFor([&] { return listener.Count(E::kDownload) == 2; }));
            const E retry = listener.Of(E::kDownload)[1];
            EXPECT_EQ(0, retry.type);
            EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
            EXPECT_FALSE(PathExists(pkg.Temporary()));
        }
    }
}

TEST_F(UpdaterTest, StopDuringADownloadSilencesTheListenerAndKeepsThePartialFile)
{
    PackageDir pkg;
    const uint64_t size = 200000;
    const std::string url = PackageUrl("pkg", size, 12, "&mode=trickle&chunk=10000&delay=100");
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(url, std::to_string(size), "", ""))});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitFor([&] {
        for (const E& p : listener.Of(E::kProgress))
            if (p.completed > 0)
                return true;
        return false;
    }));

    const HWND helper = module.HelperWindow();
    const std::wstring className = module.HelperClassName();
    module.Stop();
    const size_t seen = listener.events.size();
    testsupport::PumpMessagesFor(800);
    EXPECT_EQ(seen, listener.events.size());
    EXPECT_EQ(0u, listener.Count(E::kDownload));
    EXPECT_FALSE(module.IsDownloading());

    // The window and its class are gone, so nothing can be delivered any more.
    EXPECT_FALSE(IsWindow(helper));
    EXPECT_EQ(nullptr, module.HelperWindow());
    WNDCLASSW wc;
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), className.c_str(), &wc));

    const std::string partial = ReadBytes(pkg.Temporary());
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), size);
    EXPECT_TRUE(partial == ExpectedContent(partial.size(), 12));
    EXPECT_FALSE(PathExists(pkg.Package()));
    module.Stop();  // again: harmless
}

TEST_F(UpdaterTest, ProgressQueuedBehindTheEndOfTheDownloadIsDropped)
{
    PackageDir pkg;
    const uint64_t size = 200000;
    const std::string url = PackageUrl("pkg", size, 16, "&mode=trickle&chunk=10000&delay=100");
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(url, std::to_string(size), "", ""))});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitFor([&] {
        for (const E& p : listener.Of(E::kProgress))
            if (p.completed > 0)
                return true;
        return false;
    }));

    // The end of the download is queued first; fresh figures are recorded and
    // queued behind it (two timer runs: every other one ticks progress).
    ASSERT_TRUE(PostMessageW(module.HelperWindow(), UM_DOWNLOAD_DONE, ERR_CURL, CURLE_RECV_ERROR));
    HttpTimerProc(nullptr, 0, 0, 0);
    HttpTimerProc(nullptr, 0, 0, 0);
    Settle();

    ASSERT_EQ(1u, listener.Count(E::kDownload));
    EXPECT_EQ(E::kDownload, listener.events.back().kind);
    const E done = listener.First(E::kDownload);
    EXPECT_EQ(ERR_CURL, done.type);
    EXPECT_EQ(CURLE_RECV_ERROR, done.code);
    EXPECT_EQ(kFailure, done.text);
    EXPECT_FALSE(module.IsDownloading());
    EXPECT_GT(ReadBytes(pkg.Temporary()).size(), 0u);
}

TEST_F(UpdaterTest, EachModuleRegistersTheNextHelperClassName)
{
    const std::wstring prefix = L"_UPDATE_MODULE_HELPER_WINDOW_ORVEL";
    const std::wstring stalled = server_->Url(Path("stall/ovinstall.txt?mode=stall&hold=3"));
    PackageDir a, b;
    RecordingListener la, lb;
    int first = 0;
    {
        UpdateModule one(a.Path(), &la, {stalled});
        ASSERT_TRUE(one.Start());
        const std::wstring name = one.HelperClassName();
        ASSERT_EQ(0u, name.find(prefix));
        first = std::stoi(name.substr(prefix.size()));
        EXPECT_GE(first, 1);
        EXPECT_EQ(prefix + std::to_wstring(first), name);
        EXPECT_EQ(one.HelperWindow(), FindWindowExW(HWND_MESSAGE, nullptr, name.c_str(), nullptr));
        one.Stop();
    }
    UpdateModule two(b.Path(), &lb, {stalled});
    ASSERT_TRUE(two.Start());
    EXPECT_EQ(prefix + std::to_wstring(first + 1), two.HelperClassName());
    EXPECT_EQ(two.HelperWindow(), FindWindowExW(HWND_MESSAGE, nullptr, two.HelperClassName().c_str(), nullptr));
    two.Stop();
    EXPECT_TRUE(la.events.empty());
    EXPECT_TRUE(lb.events.empty());
}

TEST_F(UpdaterTest, BadManifestsEachEndInOneClearResult)
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
        {"empty", "", false},
        {"garbage", garbage, false},
        {"noSection", "[Other]\r\nUrl=" + pkgUrl + "\r\nSize=1500\r\n", false},
        {"notAUrl", ManifestBody("not a url", "1500", "", "x"), false},
        {"notUtf8", gbk, true},
        {"noMd5NoVersion", "[Install]\r\nUrl=" + pkgUrl + "\r\nSize=1500\r\n", true},
    };
    // All at once: the failing ones wait out the engine's retries in parallel.
    struct Run {
        PackageDir pkg;
        RecordingListener listener;
        std::unique_ptr<UpdateModule> module;
    };
    std::vector<std::unique_ptr<Run>> runs;
    for (const Case& c : cases) {
        runs.emplace_back(new Run);
        Run& run = *runs.back();
        run.module.reset(new UpdateModule(run.pkg.Path(), &run.listener, {ManifestEndpoint(c.name, c.body)}));
        ASSERT_TRUE(run.module->Start()) << c.name;
    }
    ASSERT_TRUE(WaitForEveryDownloadResult(runs));
    Settle();

    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        const RecordingListener& listener = runs[i]->listener;
        SCOPED_TRACE(c.name);
        ASSERT_EQ(1u, listener.Count(E::kManifest));
        ASSERT_EQ(1u, listener.Count(E::kDownload));
        EXPECT_EQ(E::kManifest, listener.events.front().kind);
        EXPECT_EQ(0, listener.First(E::kManifest).type);
        const E done = listener.First(E::kDownload);
        if (c.installs) {
            EXPECT_EQ(0, done.type);
            EXPECT_TRUE(ReadBytes(runs[i]->pkg.Package()) == ExpectedContent(1500, 13));
        } else {
            EXPECT_NE(0, done.type);
            EXPECT_EQ(kFailure, done.text);
            EXPECT_FALSE(PathExists(runs[i]->pkg.Package()));
        }
    }
    EXPECT_FALSE(runs[4]->listener.First(E::kManifest).text.empty());
    EXPECT_EQ(L"", runs[5]->listener.First(E::kManifest).text);
}

TEST_F(UpdaterTest, ValuesComeFromTheReceivedManifestNeverFromTheCopy)
{
    // Another program planted a copy and holds it open, so the new one cannot
    // be written: the values are still the received manifest's.
    PackageDir pkg;
    ASSERT_TRUE(SaveManifestCopy(pkg.Path(), Widen(ManifestBody(PackageUrl("old", 1200, 14), "1200", "", "old"))));
    const std::wstring copy = pkg.dir / L"ovinstall.ini";
    HANDLE lock = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(PackageUrl("new", 1300, 15), "1300", "", "new"))});
    ASSERT_TRUE(module.Start());
    const bool finished = WaitForKind(listener, E::kDownload);
    CloseHandle(lock);
    ASSERT_TRUE(finished);

    EXPECT_EQ(L"new", listener.First(E::kManifest).text);
    EXPECT_EQ(0, listener.First(E::kDownload).type);
    EXPECT_TRUE(ReadBytes(pkg.Package()) == ExpectedContent(1300, 15));
    EXPECT_TRUE(server_->Requests(Path("old")).empty());
    EXPECT_EQ(1u, server_->Requests(Path("new")).size());
    EXPECT_EQ(L"old", ReadManifestValues(pkg.Path()).version) << "the planted copy stays as it was";
}

TEST_F(UpdaterTest, ARefusedPackageDirectoryIsToldWhyAndNothingIsFetchedOrWritten)
{
    testsupport::TempDir dir, elsewhere;
    ASSERT_TRUE(WriteBytes(dir / L"file", "x"));
    // A folder on the way turned into a link to somewhere else (Wine makes a
    // Unix symbolic link, which it reports as a reparse point).
    ASSERT_TRUE(testsupport::MakeSymbolicLink(dir / L"link", elsewhere.Path()));
    struct Case {
        std::wstring packageDir;
        int code;
    } cases[] = {{dir / L"file\\sub", UM_ERR_DIR_IS_FILE},
                 {dir / L"file", UM_ERR_DIR_IS_FILE},
                 {dir / L"link\\欧维澄岳", UM_ERR_DIR_LINK},
                 {dir / L"link", UM_ERR_DIR_LINK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        RecordingListener listener;
        UpdateModule module(c.packageDir, &listener, {StatusEndpoint("m", 404)});
        ASSERT_TRUE(module.Start());
        ASSERT_TRUE(WaitForKind(listener, E::kDownload));
        Settle();
        ASSERT_EQ(1u, listener.events.size()) << "one result, and no manifest stage";
        EXPECT_EQ(ERR_USER, listener.events[0].type);
        EXPECT_EQ(c.code, listener.events[0].code);
        EXPECT_TRUE(IsPackageDirRefusal(listener.events[0].type, listener.events[0].code));
        EXPECT_NE(L"", listener.events[0].text) << "a notice for the user";
        EXPECT_NE(kFailure, listener.events[0].text);
        EXPECT_EQ(uiThread_, listener.events[0].thread);
    }
    EXPECT_TRUE(server_->Requests(Path()).empty());
    // Nothing was created through the link.
    EXPECT_FALSE(PathExists(elsewhere / L"欧维澄岳"));
    EXPECT_FALSE(PathExists(elsewhere / L"ovinstall.ini"));
}

// --- every path ends in a result --------------------------------------------------------

TEST_F(UpdaterTest, AFailedManifestStageCanBeWalkedAgainAndThenInstalls)
{
    PackageDir pkg;
    const std::string content = ExpectedContent(2500, 21);
    const std::string body = ManifestBody(PackageUrl("pkg", 2500, 21), "2500", Narrow(Md5Of(content)), "9");
    RecordingListener listener;
    // Both endpoints fail on the first walk; the primary heals afterwards.
    UpdateModule module(pkg.Path(), &listener, {HealingEndpoint("primary", 503, 1, body), StatusEndpoint("second", 500)});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kManifest));
    Settle();
    ASSERT_EQ(1u, listener.events.size());
    EXPECT_EQ(ERR_HTTP, listener.events[0].type);
    EXPECT_EQ(500, listener.events[0].code);

    module.RetryManifest();
    // A second retry while the walk runs changes nothing.
    module.RetryManifest();
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));
    Settle();
    ASSERT_EQ(2u, listener.Count(E::kManifest));
    EXPECT_EQ(0, listener.Of(E::kManifest)[1].type);
    EXPECT_EQ(L"9", listener.Of(E::kManifest)[1].text);
    EXPECT_EQ(0, listener.First(E::kDownload).type);
    EXPECT_TRUE(ReadBytes(pkg.Package()) == content);
    EXPECT_EQ(2u, server_->Requests(Path("primary/")).size());
    EXPECT_EQ(1u, server_->Requests(Path("second/")).size());
}

TEST_F(UpdaterTest, AHelperWindowThatCannotBeCreatedIsReportedAndMadeAgainOnRetry)
{
    PackageDir pkg;
    const std::string body = ManifestBody(PackageUrl("pkg", 900, 22), "900", "", "");
    const std::wstring endpoint = ManifestEndpoint("m", body);
    ASSERT_TRUE(BlockNextHelperClass());
    RecordingListener listener;
    UpdateModule module(pkg.Path(), &listener, {endpoint});
    EXPECT_TRUE(module.Start());
    ReleaseNextHelperClass();
    ASSERT_EQ(1u, listener.events.size()) << "reported before Start returned";
    EXPECT_EQ(E::kManifest, listener.events[0].kind);
    EXPECT_EQ(ERR_USER, listener.events[0].type);
    EXPECT_EQ(UM_ERR_HELPER_WINDOW, listener.events[0].code);
    EXPECT_EQ(nullptr, module.HelperWindow());
    EXPECT_TRUE(server_->Requests(Path("m/")).empty());

    module.RetryManifest();
    EXPECT_NE(nullptr, module.HelperWindow());
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));
    EXPECT_EQ(0, listener.First(E::kDownload).type);
    EXPECT_TRUE(ReadBytes(pkg.Package()) == ExpectedContent(900, 22));
}

}  // namespace
}  // namespace updatertest
