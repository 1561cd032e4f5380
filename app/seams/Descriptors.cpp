// The descriptors the installer's trust decisions are made on: the
// installed-launcher ini's and an existing staging folder's. Built twice:
// into the product, where each is always the object's own, and with
// OV_LOCAL_TEST_SEAMS into the local test build only (the one whose endpoints
// are the test servers). Wine keeps no owners (every file and folder belongs
// to the Unix user), so the end-to-end tests give the descriptor Windows
// 10/11 would have set, as SDDL in OV_TEST_LAUNCHER_INI_SDDL and
// OV_TEST_STAGING_SDDL. The product has no such switch.

#include "Runtime/FileSecurity.h"
#include "app/InstallSteps.h"
#include "app/LauncherIni.h"

namespace {

SecurityDescriptor DescriptorOf(HANDLE object, const wchar_t* testVariable)
{
#ifdef OV_LOCAL_TEST_SEAMS
    wchar_t sddl[1024];
    const DWORD n = GetEnvironmentVariableW(testVariable, sddl, 1024);
    if (n > 0 && n < 1024)
        return SecurityDescriptor::FromSddl(sddl);
#else
    (void)testVariable;
#endif
    return SecurityDescriptor::OfFile(object);
}

}  // namespace

SecurityDescriptor LauncherIniSecurity(HANDLE iniFile)
{
    return DescriptorOf(iniFile, L"OV_TEST_LAUNCHER_INI_SDDL");
}

SecurityDescriptor StagingFolderDescriptor(HANDLE folder)
{
    // The installer's own folder's descriptor, so a later run resumes, or a
    // standard user's, so the folder is refused.
    return DescriptorOf(folder, L"OV_TEST_STAGING_SDDL");
}
