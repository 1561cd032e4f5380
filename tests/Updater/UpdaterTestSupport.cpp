#include "Updater/UpdaterTestSupport.h"

#include <curl/curl.h>

#include <ctime>

#include "Updater/PackageCheck.h"
#include "Updater/ReleasePolicy.h"

namespace updatertest {

namespace {

size_t DiscardBody(char*, size_t size, size_t count, void*)
{
    return size * count;
}

}  // namespace

// --- RecordingListener ---------------------------------------------------------------

void RecordingListener::OnDownloadProgress(uint64_t total, uint64_t completed, int speed, int reserved)
{
    ListenerEvent e;
    e.kind = ListenerEvent::kProgress;
    e.total = total;
    e.completed = completed;
    e.speed = speed;
    e.reserved = reserved;
    Record(e);
}

void RecordingListener::OnDownloadResult(int errType, int code, const std::wstring& message)
{
    Record({ListenerEvent::kDownload, 0, 0, 0, 0, errType, code, message});
}

void RecordingListener::OnManifestResult(int errType, int code, const std::wstring& text)
{
    Record({ListenerEvent::kManifest, 0, 0, 0, 0, errType, code, text});
}

void RecordingListener::Record(ListenerEvent e)
{
    e.thread = GetCurrentThreadId();
    events.push_back(e);
}

size_t RecordingListener::Count(ListenerEvent::Kind kind) const
{
    return Of(kind).size();
}

ListenerEvent RecordingListener::First(ListenerEvent::Kind kind) const
{
    for (const ListenerEvent& e : events)
        if (e.kind == kind)
            return e;
    return ListenerEvent();
}

std::vector<ListenerEvent> RecordingListener::Of(ListenerEvent::Kind kind) const
{
    std::vector<ListenerEvent> out;
    for (const ListenerEvent& e : events)
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

// --- UpdaterTest -------------------------------------------------------------------------

void UpdaterTest::SetUp()
{
    HttpEngineTest::SetUp();
    uiThread_ = GetCurrentThreadId();
}

void UpdaterTest::Start(ModuleRun& run, const std::vector<std::wstring>& endpoints,
                        const std::vector<std::string>& keys, const ReleasePolicy& release)
{
    const std::wstring dir = run.packageDir.empty() ? run.pkg.Path() : run.packageDir;
    run.module.reset(new UpdateModule(channels_, &run.listener, UpdateConfig{dir, endpoints, PublisherKeys(keys), release}));
    run.module->Start();
}

bool UpdaterTest::Run(ModuleRun& run, const std::vector<std::wstring>& endpoints, ListenerEvent::Kind until,
                      const std::vector<std::string>& keys, const ReleasePolicy& release)
{
    Start(run, endpoints, keys, release);
    return WaitForKind(run.listener, until);
}

ModuleRun& UpdaterTest::StartNew(std::vector<std::unique_ptr<ModuleRun>>& runs,
                                 const std::vector<std::wstring>& endpoints, const std::vector<std::string>& keys,
                                 const ReleasePolicy& release)
{
    runs.emplace_back(new ModuleRun);
    Start(*runs.back(), endpoints, keys, release);
    return *runs.back();
}

void UpdaterTest::TearDown()
{
    ReleaseNextHelperClass();
    HttpEngineTest::TearDown();
}

bool UpdaterTest::BlockNextHelperClass()
{
    const std::wstring prefix = L"_UPDATE_MODULE_HELPER_WINDOW_ORVEL";
    int last = 0;
    {
        // Only to learn the process-wide count of helper classes.
        ModuleRun probe;
        Start(probe, {StatusEndpoint("helper-probe", 404)});
        last = std::stoi(probe.module->HelperClassName().substr(prefix.size()));
    }
    blockedClass_ = prefix + std::to_wstring(last + 1);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = blockedClass_.c_str();
    return RegisterClassW(&wc) != 0;
}

void UpdaterTest::ReleaseNextHelperClass()
{
    if (!blockedClass_.empty())
        UnregisterClassW(blockedClass_.c_str(), GetModuleHandleW(nullptr));
    blockedClass_.clear();
}

std::string UpdaterTest::Key(const std::string& name) const
{
    std::string key = Path(name);
    for (char& c : key)
        if (c == '/')
            c = '_';
    return key;
}

bool UpdaterTest::Route(const std::string& path, const std::string& query, httptest::FaultServer* server)
{
    return Post("/_route?path=" + path, query, server);
}

bool UpdaterTest::Post(const std::string& pathAndQuery, const std::string& body, httptest::FaultServer* server)
{
    CURL* easy = curl_easy_init();
    if (!easy)
        return false;
    const std::string url = (server ? server : server_)->NarrowUrl(pathAndQuery);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &DiscardBody);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    long status = 0;
    const bool ok = curl_easy_perform(easy) == CURLE_OK &&
                    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    curl_easy_cleanup(easy);
    return ok;
}

std::wstring UpdaterTest::ManifestEndpoint(const std::string& name, const std::string& body, const std::string& extra)
{
    const std::string key = Key(name);
    EXPECT_TRUE(Post("/_put?name=" + key, body)) << "cannot store the manifest " << key;
    return server_->Url(Path(name + "/ovinstall.txt?mode=stored&name=" + key + extra));
}

std::wstring UpdaterTest::HealingEndpoint(const std::string& name, int status, int times, const std::string& healed)
{
    const std::string key = Key(name);
    EXPECT_TRUE(Post("/_put?name=" + key, healed)) << "cannot store the manifest " << key;
    return server_->Url(Path(name + "/ovinstall.txt?blob=" + key + "&mode=status&code=" + std::to_string(status) +
                             "&times=" + std::to_string(times)));
}

std::wstring UpdaterTest::StatusEndpoint(const std::string& name, int status)
{
    return server_->Url(Path(name + "/ovinstall.txt?mode=status&code=" + std::to_string(status)));
}

std::string UpdaterTest::PackageUrl(const std::string& name, uint64_t size, int seed, const std::string& extra)
{
    return server_->NarrowUrl(Path(name + "?size=" + std::to_string(size) + "&seed=" + std::to_string(seed) + extra));
}

std::string UpdaterTest::StoredUrl(const std::string& name, const std::string& bytes, const std::string& extra)
{
    const std::string key = Key(name);
    EXPECT_TRUE(Post("/_put?name=" + key, bytes)) << "cannot store " << key;
    return server_->NarrowUrl(Path(name + "?blob=" + key + extra));
}

std::string UpdaterTest::ManifestBody(std::string url, const std::string& size, const std::string& md5,
                                      const std::string& version, const std::string& expires)
{
    if (url.find('?') != std::string::npos && url.find("ver=") == std::string::npos && !version.empty())
        url += "&ver=" + version;
    return "[Install]\r\nUrl=" + url + "\r\nSize=" + size + "\r\nMd5=" + md5 + "\r\nVersion=" + version +
           "\r\n" + (expires.empty() ? "" : "Expires=" + expires + "\r\n");
}

std::string ExpiresIn(int64_t seconds)
{
    const __time64_t at = ReleasePolicy().Now() + seconds;
    std::tm t = {};
    char text[32] = {};
    if (_gmtime64_s(&t, &at) == 0)
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

std::wstring UpdaterTest::Md5Of(const std::string& bytes)
{
    const std::wstring path = scratch_ / L"md5.bin";
    std::wstring hex;
    EXPECT_TRUE(testsupport::WriteBytes(path, bytes));
    EXPECT_TRUE(FileMd5(path, hex));
    return hex;
}

}  // namespace updatertest
