// The start-up trace is what the installer benchmark reads: one line per phase
// with its end (milliseconds since the process was created, so after the
// process's own start) and the working set; nothing once the last write is done.

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "Runtime/StartupTrace.h"
#include "support/TestSupport.h"

namespace {

struct Line {
    std::string phase;
    double ms, workingSet, peak;
};

std::vector<Line> ReadTrace(const std::wstring& path)
{
    std::vector<Line> lines;
    std::istringstream in(testsupport::ReadBytes(path));
    Line l;
    while (in >> l.phase >> l.ms >> l.workingSet >> l.peak)
        lines.push_back(l);
    return lines;
}

}  // namespace

TEST(StartupTrace, WritesPhasesInOrderAndStopsAfterTheLastWrite)
{
    testsupport::TempDir dir;
    const std::wstring file = dir / L"trace.txt";
    ASSERT_TRUE(SetEnvironmentVariableW(L"OV_STARTUP_TRACE", file.c_str()));
    CStartupTrace::Begin();
    SetEnvironmentVariableW(L"OV_STARTUP_TRACE", nullptr);
    ASSERT_TRUE(CStartupTrace::Enabled());

    CStartupTrace::Mark("first");
    Sleep(20);
    CStartupTrace::Mark("second");
    CStartupTrace::Flush(false);
    std::vector<Line> lines = ReadTrace(file);
    ASSERT_EQ(2u, lines.size()) << "a benchmark may end the program right after this write";
    EXPECT_EQ("first", lines[0].phase);
    EXPECT_GT(lines[0].ms, 0.0) << "counted from the process's creation";
    EXPECT_GE(lines[1].ms - lines[0].ms, 15.0);
    EXPECT_GT(lines[0].workingSet, 0.0);
    EXPECT_GE(lines[1].peak, lines[1].workingSet);

    CStartupTrace::Mark("third");
    CStartupTrace::Flush(true);
    CStartupTrace::Mark("late");
    CStartupTrace::Flush(true);
    lines = ReadTrace(file);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("third", lines[2].phase);
}
