// A package answer that is not the package never becomes one: behind an
// interim answer or a redirect, only the final answer counts, also when the
// manifest gives no checksum that could catch the error page afterwards.

#include "Updater/UpdaterTestSupport.h"

namespace updatertest {
namespace {

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
        const std::string url = PackageUrl(std::string(c.name) + "-pkg", 2000, 4, c.answer);
        ModuleRun run;
        ASSERT_TRUE(Run(run, {ManifestEndpoint(c.name, ManifestBody(url, "2000", "", ""))}));
        EXPECT_EQ(c.type, run.Download().type);
        EXPECT_EQ(c.code, run.Download().code);
        EXPECT_FALSE(PathExists(run.pkg.Package()));
        EXPECT_FALSE(PathExists(run.pkg.Temporary()));
    }
}

TEST_F(UpdaterTest, AChunkedPackageBehindARedirectIsInstalledWhole)
{
    const std::string content = ExpectedContent(50000, 8);
    const std::string url = PackageUrl("pkg", 50000, 8, "&mode=redirect&hops=1&rbody=900&then=chunked&chunk=7000");
    ModuleRun run;
    ASSERT_TRUE(Run(run, {ManifestEndpoint("m", ManifestBody(url, "50000", Narrow(Md5Of(content)), ""))}));
    EXPECT_EQ(0, run.Download().type);
    EXPECT_EQ(0, run.Download().code);
    EXPECT_TRUE(ReadBytes(run.pkg.Package()) == content);
}

}  // namespace
}  // namespace updatertest
