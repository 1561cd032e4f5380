// The stack protector of the product's code: a value of its own per process
// (from the system's random generator, not the compiler's CryptoAPI-based
// runtime, which loads a crypto provider into every start), and a smashed
// frame that ends the process at once with the system's own code for it.
// Seen from outside through a probe program built like the product.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    long long result = -1;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code))
            result = code;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
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
