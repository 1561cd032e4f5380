// A package answer that is not the package never becomes one: behind an
// interim answer or a redirect, only the final answer counts, also when the
// manifest gives no checksum that could catch the error page afterwards.

#include "Updater/UpdaterTestSupport.h"

namespace updatertest {
namespace {

typedef ListenerEvent E;

TEST_F(UpdaterTest, AnErrorBehindAnInterimAnswerOrARedirectIsNoPackage)
{
    struct Case {
        const char* name;
        const char* answer;
        int type, code;
    } cases[] = {
        {"early-404", "&mode=early&then=status&code=404", ERR_HTTP, 404},
        {"redirect-404", "&mode=redirect&hops=1&rbody=500&then=status&code=404", ERR_HTTP, 404},
        {"no-location", "&mode=noloc&code=302&rbody=2000", ERR_HTTP, 302},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        const std::string url = PackageUrl(std::string(c.name) + "-pkg", 2000, 4, c.answer);
        RecordingListener listener;
        UpdateModule module(dir.Path(), &listener, {ManifestEndpoint(c.name, ManifestBody(url, "2000", "", ""))});
        ASSERT_TRUE(module.Start());
        ASSERT_TRUE(WaitForKind(listener, E::kDownload));
        const E done = listener.First(E::kDownload);
        EXPECT_EQ(c.type, done.type);
        EXPECT_EQ(c.code, done.code);
        EXPECT_FALSE(testsupport::PathExists(dir / L"ovinstaller.exe"));
        EXPECT_FALSE(testsupport::PathExists(dir / L"ovinstaller.exe.yw"));
    }
}

TEST_F(UpdaterTest, AChunkedPackageBehindARedirectIsInstalledWhole)
{
    testsupport::TempDir dir;
    const std::string content = httptest::ExpectedContent(50000, 8);
    const std::string url = PackageUrl("pkg", 50000, 8, "&mode=redirect&hops=1&rbody=900&then=chunked&chunk=7000");
    RecordingListener listener;
    UpdateModule module(dir.Path(), &listener,
                        {ManifestEndpoint("m", ManifestBody(url, "50000", Narrow(Md5Of(content)), ""))});
    ASSERT_TRUE(module.Start());
    ASSERT_TRUE(WaitForKind(listener, E::kDownload));
    const E done = listener.First(E::kDownload);
    EXPECT_EQ(0, done.type);
    EXPECT_EQ(0, done.code);
    EXPECT_TRUE(testsupport::ReadBytes(dir / L"ovinstaller.exe") == content);
}

}  // namespace
}  // namespace updatertest
