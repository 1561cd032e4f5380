// One installer at a time, on real named mutexes: the first claims, a second
// sees an administrators' mutex and steps back, and a name a standard user
// took first (their own owner, or a DACL that shuts us out) never stops the
// installer. (Two real installers meet in the end-to-end tests.)

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "Runtime/FileSecurity.h"
#include "app/SingleInstance.h"

namespace {

std::wstring TestName(const wchar_t* what)
{
    return L"Global\\OvSetupTest." + std::wstring(what) + L"." + std::to_wstring(GetCurrentProcessId());
}

// A mutex a standard user made first, with `sddl` (Wine keeps the owner it is
// given, as Windows would keep the user's own).
HANDLE Squat(const std::wstring& name, const wchar_t* sddl)
{
    const SecurityDescriptor sd = SecurityDescriptor::FromSddl(sddl);
    SECURITY_ATTRIBUTES sa = {sizeof sa, sd.Get(), FALSE};
    return CreateMutexW(&sa, FALSE, name.c_str());
}

}  // namespace

TEST(SingleInstance, TheSecondInstallerStepsBackAndASquattedNameStopsNobody)
{
    SystemSingleInstanceOps ops(TestName(L"one"));
    {
        SingleInstance first;
        ASSERT_EQ(first.Claim(ops), InstanceClaim::kFirst);
        SingleInstance second;
        EXPECT_EQ(second.Claim(ops), InstanceClaim::kAnotherIsRunning);
    }
    SingleInstance later;
    EXPECT_EQ(later.Claim(ops), InstanceClaim::kFirst) << "the first one's end frees the name";

    const wchar_t* const user = L"S-1-5-21-3623811015-3361044348-30300820-1013";
    struct Case {
        const wchar_t* name;
        std::wstring sddl;
        const char* what;
    } squats[] = {
        {L"open", L"O:" + std::wstring(user) + L"D:(A;;GA;;;WD)", "their own owner, open to all"},
        {L"shut", L"O:" + std::wstring(user) + L"D:(A;;GA;;;" + user + L")", "a DACL that shuts everyone else out"},
    };
    for (const Case& c : squats) {
        const std::wstring name = TestName(c.name);
        HANDLE squatter = Squat(name, c.sddl.c_str());
        ASSERT_NE(squatter, nullptr) << c.what;
        SystemSingleInstanceOps squatted(name);
        SingleInstance installer;
        EXPECT_EQ(installer.Claim(squatted), InstanceClaim::kUnguarded) << c.what;
        CloseHandle(squatter);
    }
}
