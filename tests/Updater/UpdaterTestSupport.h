#pragma once
// Shared pieces of the update module tests: a listener that records every call
// in order with its arguments and thread, and a fixture on top of the HTTP
// engine fixture that serves manifests and packages from the test server.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Http/HttpTestFixture.h"
#include "Updater/GameEventListener.h"
#include "Updater/UpdateModule.h"

namespace updatertest {

using httptest::ExpectedContent;
using testsupport::PathExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

inline std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The failure text of a download result.
const wchar_t kFailure[] = L"安装失败";

// A package directory and the two files the module writes there.
struct PackageDir {
    testsupport::TempDir dir;
    std::wstring Path() const { return dir.Path(); }
    std::wstring Package() const { return dir / L"ovinstaller.exe"; }
    std::wstring Temporary() const { return dir / L"ovinstaller.exe.yw"; }
};

struct ListenerEvent;
typedef ListenerEvent E;

struct ListenerEvent {
    enum Kind { kProgress, kDownload, kManifest, kUnused };
    Kind kind = kUnused;
    uint64_t total = 0;
    uint64_t completed = 0;
    int speed = 0;
    int reserved = 0;
    int type = 0;
    int code = 0;
    std::wstring text;
    DWORD thread = 0;
};

class RecordingListener : public IGameEventListener {
public:
    void OnDownloadProgress(uint64_t total, uint64_t completed, int speed, int reserved) override;
    void OnDownloadResult(int errType, int code, const std::wstring& message) override;
    void OnManifestResult(int errType, int code, const std::wstring& text) override;
    // The slots this program never raises: any call is recorded as kUnused.
    void OnUnusedEvent0(int, int, int, int) override { Unused(); }
    void OnUnusedEvent1(int, int, int) override { Unused(); }
    void OnUnusedEvent4(int, int, int) override { Unused(); }
    void OnUnusedEvent5(int) override { Unused(); }
    void OnUnusedEvent6(int, int, int) override { Unused(); }
    void OnUnusedEvent7(int, int) override { Unused(); }
    void OnUnusedEvent8(int, int) override { Unused(); }
    void OnUnusedEvent9(int, int) override { Unused(); }

    size_t Count(ListenerEvent::Kind kind) const;
    // The first event of `kind`; a default event (kind kUnused) when none.
    ListenerEvent First(ListenerEvent::Kind kind) const;
    std::vector<ListenerEvent> Of(ListenerEvent::Kind kind) const;

    std::vector<ListenerEvent> events;

private:
    void Unused() { Record(ListenerEvent()); }
    void Record(ListenerEvent e);
};

// One module, its package directory and what it reported.
struct ModuleRun {
    PackageDir pkg;
    std::wstring packageDir;  // empty: pkg's
    RecordingListener listener;
    std::unique_ptr<UpdateModule> module;

    ListenerEvent Manifest() const { return listener.First(ListenerEvent::kManifest); }
    ListenerEvent Download() const { return listener.First(ListenerEvent::kDownload); }
};

// The channels the engine fixture has started.
class FixtureChannels : public IHttpChannels {
public:
    bool StartHttp() override { return up; }
    bool up = true;
};

// "Expires" `seconds` from now (negative: in the past).
std::string ExpiresIn(int64_t seconds);

class UpdaterTest : public httptest::HttpEngineTest {
protected:
    void SetUp() override;

    // Makes `run`'s module on `endpoints` (with `keys` and `release`) and
    // starts it.
    void Start(ModuleRun& run, const std::vector<std::wstring>& endpoints, const std::vector<std::string>& keys = {},
               const ReleasePolicy& release = ReleasePolicy());
    // Start, then pump until `run` has reported `until`.
    bool Run(ModuleRun& run, const std::vector<std::wstring>& endpoints,
             ListenerEvent::Kind until = ListenerEvent::kDownload, const std::vector<std::string>& keys = {},
             const ReleasePolicy& release = ReleasePolicy());
    // A new run in `runs`, started: for cases run side by side.
    ModuleRun& StartNew(std::vector<std::unique_ptr<ModuleRun>>& runs, const std::vector<std::wstring>& endpoints,
                        const std::vector<std::string>& keys = {}, const ReleasePolicy& release = ReleasePolicy());

    // Stores `body` on the server; the URL serves it at ".../<name>/ovinstall.txt"
    // (and its signature beside it); `extra` adds query parameters such as
    // "&sig=other".
    std::wstring ManifestEndpoint(const std::string& name, const std::string& body, const std::string& extra = "");
    // The key list of a signed build: the test publisher's key.
    static std::vector<std::string> TestKeys() { return {httptest::TestPublicKey("test")}; }
    // Answers GETs of `path` (no query) as if they carried `query`; an empty
    // query removes the route.
    bool Route(const std::string& path, const std::string& query, httptest::FaultServer* server = nullptr);
    // The server's name for what ManifestEndpoint(name, ...) stored.
    std::string Key(const std::string& name) const;
    bool Post(const std::string& pathAndQuery, const std::string& body, httptest::FaultServer* server = nullptr);
    // An endpoint answering with `status`; with `times`, only its first
    // `times` requests fail and later ones get the manifest `healed` serves.
    std::wstring StatusEndpoint(const std::string& name, int status);
    std::wstring HealingEndpoint(const std::string& name, int status, int times, const std::string& healed);
    // A package of `size` pattern bytes (httptest::ExpectedContent(size, seed));
    // `extra` adds query parameters such as "&mode=trickle".
    std::string PackageUrl(const std::string& name, uint64_t size, int seed, const std::string& extra = "");
    // `bytes` stored on the server and served at ".../<name>" (with `extra`
    // query parameters such as "&mode=drop&after=100").
    std::string StoredUrl(const std::string& name, const std::string& bytes, const std::string& extra = "");
    // A manifest as a signed release has it: with "Expires" (a day from now
    // unless given; "" leaves the key out). A test server URL is given
    // "ver=<version>" unless it names one, so that the package's signature
    // names the manifest's version, as the publisher's script signs it.
    static std::string ManifestBody(std::string url, const std::string& size, const std::string& md5,
                                    const std::string& version, const std::string& expires = ExpiresIn(86400));
    // Lower-case hex MD5 of `bytes`.
    std::wstring Md5Of(const std::string& bytes);
    static std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

    // Takes the helper window class name the next update module will ask
    // for, so that its window cannot be made; the name is given back by
    // ReleaseNextHelperClass (and at the end of the test).
    bool BlockNextHelperClass();
    void ReleaseNextHelperClass();

    bool WaitForKind(const RecordingListener& listener, ListenerEvent::Kind kind, DWORD timeoutMs = 10000)
    {
        return WaitFor([&] { return listener.Count(kind) > 0; }, timeoutMs);
    }
    // Until every run (anything with a `listener`) has its download result.
    template <typename Runs>
    bool WaitForEveryDownloadResult(const Runs& runs, DWORD timeoutMs = 20000)
    {
        return WaitFor(
            [&] {
                for (const auto& run : runs)
                    if (run->listener.Count(ListenerEvent::kDownload) == 0)
                        return false;
                return true;
            },
            timeoutMs);
    }
    // Lets late messages arrive, so "exactly one" is meaningful.
    void Settle() { testsupport::PumpMessagesFor(400); }

    DWORD uiThread_ = 0;
    testsupport::TempDir scratch_;
    FixtureChannels channels_;

    void TearDown() override;

private:
    std::wstring blockedClass_;
};

}  // namespace updatertest
