// The descriptor an existing staging folder is judged on. Built like
// LauncherIniSecurity.cpp: into the product, where it is always the folder's
// own, and with OV_LOCAL_TEST_SEAMS into the local test build only. Wine
// keeps no owners (every folder belongs to the Unix user), so the end-to-end
// tests give the descriptor Windows 10/11 would have, as SDDL in
// OV_TEST_STAGING_SDDL: the installer's own folder's, so a later run resumes,
// or a standard user's, so it is refused. The product has no such switch.

#include "Runtime/FileSecurity.h"
#include "app/InstallSteps.h"

SecurityDescriptor StagingFolderDescriptor(HANDLE folder)
{
#ifdef OV_LOCAL_TEST_SEAMS
    wchar_t sddl[1024];
    const DWORD n = GetEnvironmentVariableW(L"OV_TEST_STAGING_SDDL", sddl, 1024);
    if (n > 0 && n < 1024)
        return SecurityDescriptor::FromSddl(sddl);
#endif
    return SecurityDescriptor::OfFile(folder);
}
