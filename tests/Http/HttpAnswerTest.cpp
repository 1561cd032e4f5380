// HTTP answers judged as a browser would: only the final answer of an exchange
// decides its outcome. Informational (1xx) answers and followed redirects pass
// by whatever headers and bodies they carry; a redirect that cannot be
// followed is a failure; a partial file is resumed only by a 206 for our own
// range, whichever hop sends it; and an answer without a Content-Length (a
// chunked one) downloads, shows progress and is checked at its end.

#include "Http/HttpTestFixture.h"

namespace httptest {
namespace {

class AnswerTest : public DownloadEngineTest {
protected:
    // Each case gets a fresh file and its own path on the server.
    void Reset(const std::string& bytes = std::string())
    {
        testsupport::RemoveTree(file_);
        if (!bytes.empty()) {
            ASSERT_TRUE(testsupport::WriteBytes(file_, bytes));
        }
    }
    // Pumps a little longer: a failure that the engine wrongly retried would
    // show up as a second request or a second callback.
    void ExpectNoRetry(const DownloadOutcome& out, const std::string& path, size_t requests)
    {
        testsupport::PumpMessagesFor(700);
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(requests, server_->Requests(path).size());
    }
};

const uint64_t kSize = 20000;

TEST_F(AnswerTest, DownloadsAreJudgedByTheirFinalAnswer)
{
    struct Case {
        const char* name;
        const char* query;
        int type, code;
        size_t requests;
    } cases[] = {
        {"redirect with a body, then chunked with a trailer", "mode=redirect&hops=1&rbody=700&then=chunked&chunk=3000&trailer=1",
         ERR_OK, 0, 2},
        {"early hints announcing a length, then the whole file", "mode=early&hintlen=5", ERR_OK, 0, 1},
        {"early hints announcing a length, then chunked", "mode=early&hintlen=5&then=chunked", ERR_OK, 0, 1},
        {"redirect with a body, then 404", "mode=redirect&hops=1&rbody=700&then=status&code=404", ERR_HTTP, 404, 2},
        {"early hints, then 404", "mode=early&hintlen=5&then=status&code=404", ERR_HTTP, 404, 1},
        {"302 without Location, with a body", "mode=noloc&code=302&rbody=300", ERR_HTTP, 302, 1},
        {"302 without Location or body", "mode=noloc&code=302&rbody=0", ERR_HTTP, 302, 1},
        {"redirect, then a 307 without Location", "mode=redirect&hops=1&then=noloc&code=307", ERR_HTTP, 307, 2},
    };
    int seed = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        ++seed;
        const std::string path = Path("d" + std::to_string(seed)) + "?size=" + std::to_string(kSize) +
                                 "&seed=" + std::to_string(seed) + "&" + c.query;
        CHttpDownloadFile dl;
        DownloadOutcome out;
        ASSERT_TRUE(Start(dl, path, kSize, out));
        ASSERT_TRUE(Finish(out));
        EXPECT_EQ(c.type, out.type);
        EXPECT_EQ(c.code, out.code);
        if (c.type == ERR_OK) {
            EXPECT_TRUE(FileBytes() == ExpectedContent(kSize, seed)) << FileBytes().size() << " bytes";
            for (const DownloadOutcome::Progress& p : out.progress)
                EXPECT_EQ(kSize, p.total);
        } else {
            EXPECT_EQ("", FileBytes()) << "nothing of a failed answer is kept as the package";
            ExpectNoRetry(out, Path("d" + std::to_string(seed)), c.requests);
        }
        EXPECT_FALSE(dl.IsRunning());
    }
}

TEST_F(AnswerTest, CommandsAreJudgedByTheirFinalAnswer)
{
    struct Case {
        const char* name;
        const char* query;
        int type, code;
    } cases[] = {
        {"redirect with a body, then chunked", "mode=redirect&hops=1&rbody=700&then=chunked&chunk=1000", ERR_OK, 0},
        {"early hints, then the whole body", "mode=early&hintlen=5", ERR_OK, 0},
        {"early hints, then 404", "mode=early&then=status&code=404", ERR_HTTP, 404},
        {"redirect, then 404", "mode=redirect&hops=1&then=status&code=404", ERR_HTTP, 404},
        {"302 without Location", "mode=noloc&code=302&rbody=300", ERR_HTTP, 302},
    };
    int seed = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++seed;
        const std::string path = Path("c" + std::to_string(seed)) + "?size=5000&seed=" + std::to_string(seed) + "&" + c.query;
        CHttpCommand cmd;
        CommandOutcome out;
        ASSERT_TRUE(RunCommand(cmd, server_->Url(path), out));
        EXPECT_EQ(c.type, out.type);
        EXPECT_EQ(c.code, out.code);
        if (c.type == ERR_OK)
            EXPECT_TRUE(out.body == ExpectedContent(5000, seed)) << out.body.size() << " bytes";
        else
            EXPECT_EQ("", out.body);
    }
}

TEST_F(AnswerTest, APartialFileIsKeptOnlyForA206ToOurRange)
{
    struct Case {
        const char* name;
        const char* query;
        bool foreignPartial;  // the partial file holds bytes that are not the content
        size_t requests;
    } cases[] = {
        {"206", "", false, 1},
        {"a 200 that ignores the range", "mode=norange", true, 1},
        {"redirect with a body, then 206", "mode=redirect&hops=1&rbody=700", false, 2},
        {"redirect, then chunked 206", "mode=redirect&hops=1&then=chunked&chunk=2500", false, 2},
        {"early hints, then 206", "mode=early&hintlen=5", false, 1},
        {"redirect, then a 200 that ignores the range", "mode=redirect&hops=1&then=norange", true, 2},
        {"early hints, then a 200 that ignores the range", "mode=early&then=norange", true, 1},
    };
    int seed = 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++seed;
        const std::string content = ExpectedContent(kSize, seed);
        Reset(c.foreignPartial ? std::string(8000, 'X') : content.substr(0, 8000));
        const std::string base = Path("r" + std::to_string(seed));
        CHttpDownloadFile dl;
        DownloadOutcome out;
        ASSERT_TRUE(Start(dl, base + "?size=" + std::to_string(kSize) + "&seed=" + std::to_string(seed) + "&" + c.query,
                          kSize, out));
        ASSERT_TRUE(Finish(out));
        EXPECT_EQ(ERR_OK, out.type);
        EXPECT_EQ(0, out.code);
        EXPECT_TRUE(FileBytes() == content) << FileBytes().size() << " bytes";
        std::vector<LoggedRequest> log = server_->Requests(base);
        ASSERT_EQ(c.requests, log.size());
        for (const LoggedRequest& r : log)
            EXPECT_EQ("bytes=8000-", r.range) << "every hop is asked for the rest only";
        ASSERT_FALSE(out.progress.empty());
        EXPECT_EQ(c.foreignPartial ? 0u : 8000u, out.progress.front().completed);
    }

    // A 206 for another range than ours (here: from the start, with a length
    // that passes the length check) must not be appended to the partial file.
    // The download fails, and the partial file is given up, so that the next
    // attempt asks for the whole file instead of meeting the same answer.
    Reset(ExpectedContent(kSize, 3).substr(0, 8000));
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(Start(dl, Path("w?size=20000&seed=3&mode=wrongrange&rstart=0"), kSize, out));
    ASSERT_TRUE(Finish(out));
    EXPECT_EQ(ERR_USER, out.type);
    EXPECT_EQ(DOWNLOAD_ERR_LENGTH_MISMATCH, out.code);
    testsupport::PumpMessagesFor(300);
    EXPECT_EQ("", FileBytes());
    DownloadOutcome again;
    ASSERT_TRUE(Start(dl, Path("w2?size=20000&seed=3"), kSize, again));
    ASSERT_TRUE(Finish(again));
    EXPECT_EQ(ERR_OK, again.type);
    ASSERT_EQ(1u, server_->Requests(Path("w2")).size());
    EXPECT_EQ("-", server_->Requests(Path("w2"))[0].range);
    EXPECT_TRUE(FileBytes() == ExpectedContent(kSize, 3));
}

TEST_F(AnswerTest, ChunkedDownloadsShowProgressAndAreCheckedAtTheEnd)
{
    // Six chunks over about 1.5 s: several progress ticks, measured against
    // the size the manifest gave, since the server announces none.
    CHttpDownloadFile dl;
    DownloadOutcome out;
    ASSERT_TRUE(Start(dl, Path("slow?size=60000&seed=5&mode=chunked&chunk=10000&delay=250"), 60000, out));
    ASSERT_TRUE(Finish(out));
    EXPECT_EQ(ERR_OK, out.type);
    EXPECT_TRUE(FileBytes() == ExpectedContent(60000, 5));
    ASSERT_GE(out.progress.size(), 2u) << "no progress was shown";
    uint64_t last = 0;
    for (const DownloadOutcome::Progress& p : out.progress) {
        EXPECT_EQ(60000u, p.total);
        EXPECT_GE(p.completed, last);
        last = p.completed;
    }
    EXPECT_GT(last, 0u);

    // Without an announced length, a body that ends short or runs long of the
    // expected size is found out when it ends, not reported as success.
    struct Case {
        const char* name;
        int size;
    } cases[] = {{"short", 19000}, {"long", 21000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        CHttpDownloadFile wrong;
        DownloadOutcome bad;
        ASSERT_TRUE(Start(wrong, Path(c.name) + "?mode=chunked&seed=6&size=" + std::to_string(c.size), kSize, bad));
        ASSERT_TRUE(Finish(bad));
        EXPECT_EQ(ERR_USER, bad.type);
        EXPECT_EQ(DOWNLOAD_ERR_LENGTH_MISMATCH, bad.code);
    }
}

}  // namespace
}  // namespace httptest
