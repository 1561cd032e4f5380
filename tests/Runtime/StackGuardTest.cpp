// The stack protector of the product's code: a value of its own per process
// (from the system's random generator, not the compiler's CryptoAPI-based
// runtime, which loads a crypto provider into every start), and a smashed
// frame that ends the process at once with the system's own code for it.
// Seen from outside through a probe program built like the product.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/ProcessStart.h"
#include "support/TestSupport.h"

namespace {

std::wstring ProbePath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    return dir.substr(0, dir.find_last_of(L'\\')) + L"\\stack_guard_probe.exe";
}

// Runs the probe with `args`; the exit code, or -1 when it did not end in time.
long long RunProbe(const std::wstring& args)
{
    const std::wstring exe = ProbePath();
    UniqueProcess probe;
    DWORD code = 0;
    if (StartProcess(exe, L"\"" + exe + L"\" " + args, &probe) != 0 ||
        WaitForSingleObject(probe.process.Get(), 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(probe.process.Get(), &code))
        return -1;
    return code;
}

std::string GuardOfOneRun(const testsupport::TempDir& dir, const wchar_t* name)
{
    const std::wstring file = dir / name;
    EXPECT_EQ(0, RunProbe(L"guard " + file));
    return testsupport::ReadBytes(file);
}

}  // namespace

TEST(StackGuard, EachProcessHasItsOwnValue)
{
    testsupport::TempDir dir;
    const std::string first = GuardOfOneRun(dir, L"a.txt");
    const std::string second = GuardOfOneRun(dir, L"b.txt");
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_NE("0\n", first);
    EXPECT_NE("2a8e5c3f7d1b9e64\n", first) << "the built-in value was never replaced";
}

TEST(StackGuard, ASmashedFrameEndsTheProcessAtOnce)
{
    EXPECT_EQ(static_cast<long long>(STATUS_STACK_BUFFER_OVERRUN), RunProbe(L"smash"));
}
