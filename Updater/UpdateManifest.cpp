#include "Updater/UpdateManifest.h"

#include <windows.h>

#include <cstdlib>

#include "Runtime/FileEx.h"
#include "Runtime/TextUtil.h"

namespace {

const wchar_t kCopyName[] = L"ovinstall.ini";
const wchar_t kSection[] = L"Install";
const DWORD kValueBuffer = 2048;
// Write access, others may read, not inherited, always created anew.
const unsigned kCopyOpenFlags = 0x90A1;

std::wstring ReadValue(const std::wstring& path, const wchar_t* key)
{
    wchar_t buf[kValueBuffer] = {};
    DWORD n = GetPrivateProfileStringW(kSection, key, L"", buf, kValueBuffer, path.c_str());
    return std::wstring(buf, n);
}

}  // namespace

std::wstring ManifestCopyPath(const std::wstring& packageDir)
{
    return Format(L"%s\\%s", packageDir.c_str(), kCopyName);
}

bool SaveManifestCopy(const std::wstring& packageDir, const std::wstring& text)
{
    const std::wstring path = ManifestCopyPath(packageDir);
    CFileEx file;
    if (!file.Open(path, kCopyOpenFlags, nullptr))
        return false;
    try {
        static const unsigned char kBom[2] = {0xFF, 0xFE};
        file.Seek(0, CFileEx::kBegin);
        file.Write(kBom, sizeof kBom);
        if (!text.empty())
            file.Write(text.data(), static_cast<uint32_t>(text.size() * sizeof(wchar_t)));
        file.Flush();
        file.Close();
        return true;
    } catch (const CFileExException&) {
        // A half-written copy is left for the profile reader as it is; the
        // caller reads whatever the path holds.
        file.Abort();
        return false;
    }
}

UpdateManifestValues ReadManifestValues(const std::wstring& packageDir)
{
    const std::wstring path = ManifestCopyPath(packageDir);
    UpdateManifestValues v;
    v.url = ReadValue(path, L"Url");
    v.sizeText = ReadValue(path, L"Size");
    v.md5 = ReadValue(path, L"Md5");
    v.version = ReadValue(path, L"Version");
    return v;
}

int64_t ParseManifestSize(const std::wstring& sizeText)
{
    // _wcstoi64 clamps to the 64-bit range on overflow, as wanted.
    return _wcstoi64(sizeText.c_str(), nullptr, 10);
}
