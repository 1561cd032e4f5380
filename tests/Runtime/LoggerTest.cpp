#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Runtime/Logger.h"
#include "support/TestSupport.h"

namespace {

// A logger whose output is captured instead of leaving the process.
class CaptureLogger : public BaseLogger {
public:
    std::vector<std::wstring> lines;
    bool ready = true;

protected:
    void Write(const std::wstring& text) override { lines.push_back(text); }
    bool IsEnabled() override { return Config() != nullptr && ready; }
};

std::unique_ptr<LoggerConfig> MakeConfig(unsigned char flags, bool newline)
{
    auto c = std::make_unique<LoggerConfig>();
    c->flags = flags;
    c->newline = newline;
    return c;
}

}  // namespace

TEST(Logger, SilentWithoutConfigurationAndDepthReturnsToZero)
{
    CaptureLogger logger;
    logger.Log(LOG_ERROR, L"%s", L"nothing");
    logger.LogEx(LOG_INFO, 12, L".\\Runtime\\X", L"nothing");
    EXPECT_TRUE(logger.lines.empty());
    EXPECT_EQ(logger.Depth(), 0);

    // The process-wide loggers are off too unless OV_LOG_FILE is set.
    if (GetEnvironmentVariableW(L"OV_LOG_FILE", nullptr, 0) == 0) {
        EXPECT_EQ(CSingleton<FileLogger>::Instance().Config(), nullptr);
    }
    EXPECT_EQ(CSingleton<TraceLogger>::Instance().Config(), nullptr);
}

TEST(Logger, LineLayoutTagsLocationAndNewline)
{
    CaptureLogger logger;
    logger.SetConfig(MakeConfig(0, true));
    logger.Log(LOG_INFO, L"a%d", 1);
    logger.Log(LOG_WARN, L"b");
    logger.LogEx(LOG_ERROR, 39, L".\\Runtime\\SimpleThread", L"tid:%d", 7);
    logger.Log(3, L"no tag");
    logger.Log(-1, L"no tag");
    logger.Log(LOG_INFO, L"%s", L"");  // empty message keeps tag and newline
    ASSERT_EQ(logger.lines.size(), 6u);
    EXPECT_EQ(logger.lines[0], L"[INFO]a1\r\n");
    EXPECT_EQ(logger.lines[1], L"[WARN]b\r\n");
    EXPECT_EQ(logger.lines[2], L"[ERRO][.\\Runtime\\SimpleThread:39]tid:7\r\n");
    EXPECT_EQ(logger.lines[3], L"no tag\r\n");
    EXPECT_EQ(logger.lines[4], L"no tag\r\n");
    EXPECT_EQ(logger.lines[5], L"[INFO]\r\n");
}

TEST(Logger, StampsFollowTheFlags)
{
    CaptureLogger logger;
    logger.SetConfig(MakeConfig(LoggerConfig::kTime | LoggerConfig::kProcessId | LoggerConfig::kThreadId, false));
    logger.LogEx(LOG_WARN, 5, L".\\F", L"m");
    ASSERT_EQ(logger.lines.size(), 1u);
    const std::wstring& line = logger.lines[0];
    // [WARN][YYYY-MM-DD HH:MM:SS][pid:N][tid:N][.\F:5]m
    ASSERT_GE(line.size(), 6u + 21u);
    EXPECT_EQ(line.substr(0, 7), L"[WARN][");
    EXPECT_EQ(line[11], L'-');
    EXPECT_EQ(line[26], L']');
    std::wstring ids = L"[pid:" + std::to_wstring(GetCurrentProcessId()) + L"][tid:" +
                       std::to_wstring(GetCurrentThreadId()) + L"][.\\F:5]m";
    EXPECT_EQ(line.substr(27), ids);
}

TEST(Logger, OverlongLocationIsCutNotOverflowed)
{
    CaptureLogger logger;
    logger.SetConfig(MakeConfig(0, false));
    std::wstring file(5000, L'f');
    logger.LogEx(LOG_INFO, 1, file.c_str(), L"tail");
    ASSERT_EQ(logger.lines.size(), 1u);
    EXPECT_EQ(logger.lines[0], L"[INFO][" + std::wstring(2046, L'f') + L"tail");
}

TEST(Logger, FileLoggerNeedsConfigAndStreamAndWritesUtf16)
{
    testsupport::TempDir dir;
    FileLogger logger;  // a private instance: the singleton stays untouched
    const bool fromEnv = logger.Config() != nullptr;
    if (fromEnv)
        GTEST_SKIP() << "OV_LOG_FILE is set for this run";

    logger.SetConfig(MakeConfig(0, true));
    logger.Log(LOG_INFO, L"dropped");  // no stream yet: silent, no crash

    std::wstring path = dir / L"log.txt";
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    logger.SetStream(f);
    logger.LogEx(LOG_ERROR, 708, L".\\CommonUtils", L"CreateDir：%s ret：%d", L"X:\\a", 3);
    logger.SetStream(nullptr);
    fclose(f);

    std::string bytes = testsupport::ReadBytes(path);
    std::wstring expected = L"[ERRO][.\\CommonUtils:708]CreateDir：X:\\a ret：3\r\n";
    ASSERT_EQ(bytes.size(), expected.size() * 2);  // no byte-order mark, no terminator
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), expected.size()), expected);
}

TEST(Logger, ConcurrentCallsProduceWholeLines)
{
    CaptureLogger logger;
    logger.SetConfig(MakeConfig(0, false));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 500; ++i)
                logger.Log(LOG_INFO, L"%d-%d", t, i);
        });
    for (auto& th : threads)
        th.join();
    ASSERT_EQ(logger.lines.size(), 2000u);
    for (const auto& l : logger.lines)
        ASSERT_EQ(l.substr(0, 6), L"[INFO]");
    EXPECT_EQ(logger.Depth(), 0);
}
