// The descriptor the installed-launcher ini is judged on. Built twice: into
// the product, where it is always the file's own, and with
// OV_LOCAL_TEST_SEAMS into the local test build only (the one whose endpoints
// are the test servers). Wine keeps no owners: every file there belongs to
// the Unix user, so the end-to-end tests give the descriptor Windows 10/11
// would have set, as SDDL in OV_TEST_LAUNCHER_INI_SDDL. The product has no
// such switch.

#include "Runtime/FileSecurity.h"
#include "app/LauncherIni.h"

SecurityDescriptor LauncherIniSecurity(HANDLE iniFile)
{
#ifdef OV_LOCAL_TEST_SEAMS
    wchar_t sddl[1024];
    const DWORD n = GetEnvironmentVariableW(L"OV_TEST_LAUNCHER_INI_SDDL", sddl, 1024);
    if (n > 0 && n < 1024)
        return SecurityDescriptor::FromSddl(sddl);
#endif
    return SecurityDescriptor::OfFile(iniFile);
}
