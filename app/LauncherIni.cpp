#include "app/LauncherIni.h"

#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"

namespace {

const wchar_t kSource[] = L".\\LauncherIni";
const wchar_t kSection[] = L"Orvelnet-Launcher";
const wchar_t kKey[] = L"InstallPath";
const wchar_t kLauncherName[] = L"OrvelLauncher.exe";

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

const wchar_t* VerdictText(LauncherIniVerdict verdict)
{
    switch (verdict) {
    case LauncherIniVerdict::kTrusted: return L"trusted";
    case LauncherIniVerdict::kNoDescriptor: return L"no descriptor";
    case LauncherIniVerdict::kForeignOwner: return L"owner is not an administrator";
    case LauncherIniVerdict::kWritableByOthers: return L"others may change it";
    case LauncherIniVerdict::kNotALocalLauncher: return L"not a local launcher path";
    }
    return L"?";
}

}  // namespace

bool IsLocalLauncherPath(const std::wstring& path)
{
    // "X:\" or "X:/" first: that rules out UNC ("\\server"), device
    // ("\\?\", "\\.\") and relative forms, including drive-relative "X:name".
    if (path.size() < 3 || !IsAsciiLetter(path[0]) || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/'))
        return false;
    for (size_t i = 2; i < path.size(); ++i) {
        const wchar_t c = path[i];
        // A second colon names a stream; control characters and wildcards no file.
        if (c == L':' || c < 0x20 || wcschr(L"*?\"<>|", c))
            return false;
    }
    const size_t slash = path.find_last_of(L"\\/");
    return lstrcmpiW(path.c_str() + slash + 1, kLauncherName) == 0;
}

LauncherIniVerdict JudgeLauncherIni(PSECURITY_DESCRIPTOR sd, const std::wstring& installPath)
{
    if (!sd || !IsValidSecurityDescriptor(sd))
        return LauncherIniVerdict::kNoDescriptor;
    if (!OwnedByAdministrators(sd))
        return LauncherIniVerdict::kForeignOwner;
    if (!OnlyAdministratorsCanChange(sd))
        return LauncherIniVerdict::kWritableByOthers;
    return IsLocalLauncherPath(installPath) ? LauncherIniVerdict::kTrusted : LauncherIniVerdict::kNotALocalLauncher;
}

std::wstring TrustedLauncherFromIni(const std::wstring& iniPath)
{
    // Held open while it is read: nobody may delete or rename it meanwhile, so
    // the text read is the text of the file judged. A link at that name is
    // opened itself, and judged by its own descriptor.
    HANDLE file = CreateFileW(iniPath.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();  // no ini: the registry decides
    const SecurityDescriptor sd = LauncherIniSecurity(file);
    wchar_t value[2048] = {};
    GetPrivateProfileStringW(kSection, kKey, L"", value, 2048, iniPath.c_str());
    CloseHandle(file);
    if (!value[0])
        return std::wstring();

    const LauncherIniVerdict verdict = JudgeLauncherIni(sd.Get(), value);
    if (verdict != LauncherIniVerdict::kTrusted) {
        OV_LOG(LOG_WARN, kSource, L"launcher ini ignored (%s): %s names %s; descriptor %s", VerdictText(verdict),
               iniPath.c_str(), value, sd.ToSddl().c_str());
        return std::wstring();
    }
    return value;
}
