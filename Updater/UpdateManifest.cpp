#include "Updater/UpdateManifest.h"

#include <windows.h>

#include <cstdlib>
#include <cwctype>

#include "Runtime/FileEx.h"
#include "Runtime/TextUtil.h"

namespace {

const wchar_t kCopyName[] = L"ovinstall.ini";
const wchar_t kSection[] = L"Install";
const DWORD kValueBuffer = 2048;
// Write access, others may read, not inherited, always created anew.
const unsigned kCopyOpenFlags = 0x90A1;

// The profile reader's white space: the C library's, and ^Z (an old DOS end
// of file that some files carry).
bool IsBlank(wchar_t c)
{
    return iswspace(c) || c == 0x1A;
}

std::wstring TrimBlanks(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// Names are compared as C strings: a NUL ends them.
std::wstring UpToNul(const std::wstring& text)
{
    return text.substr(0, text.find(L'\0'));
}

bool SameName(const std::wstring& name, const wchar_t* wanted)
{
    const std::wstring a = UpToNul(name);
    const size_t n = wcslen(wanted);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (towlower(a[i]) != towlower(wanted[i]))
            return false;
    return true;
}

// What the profile reader hands out for a stored value.
std::wstring ProfileValue(const std::wstring& stored)
{
    std::wstring value = UpToNul(stored);
    bool quoted = false;
    if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0]) {
        quoted = true;
        value.erase(0, 1);
    }
    std::wstring out = value.substr(0, kValueBuffer - 1);
    // The closing quote goes only when the whole rest fitted the buffer.
    if (quoted && kValueBuffer >= value.size() && !out.empty())
        out.pop_back();
    return out;
}

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

UpdateManifestValues ParseManifestValues(const std::wstring& text)
{
    static const wchar_t* const kKeys[] = {L"Url",  L"Size", L"Md5",  L"Version", L"Expires", L"Url2", L"Url3",
                                           L"Url4", L"Url5", L"Url6", L"Url7",    L"Url8",    L"Url9"};
    static_assert(sizeof kKeys / sizeof kKeys[0] == 5 + kMirrorKeys, "one key per mirror");
    const int kKeyCount = sizeof kKeys / sizeof kKeys[0];
    std::wstring values[kKeyCount];
    bool found[kKeyCount] = {};
    // 0 before the first "Install" section, 1 inside it, 2 after it.
    int state = 0;

    size_t pos = !text.empty() && text[0] == 0xFEFF ? 1 : 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = TrimBlanks(text.substr(pos, end - pos));
        pos = text.find_first_not_of(L"\r\n", end);
        if (pos == std::wstring::npos)
            pos = text.size();
        if (line.empty())
            continue;

        if (line[0] == L'[') {
            const size_t close = line.rfind(L']');
            if (close != std::wstring::npos && close > 0) {
                const bool install = SameName(TrimBlanks(line.substr(1, close - 1)), kSection);
                if (state == 1)
                    state = 2;
                else if (state == 0 && install)
                    state = 1;
                continue;
            }
        }
        if (state != 1)
            continue;
        const size_t equals = line.find(L'=');
        const std::wstring name = TrimBlanks(line.substr(0, equals));
        const std::wstring value = equals == std::wstring::npos ? std::wstring() : TrimBlanks(line.substr(equals + 1));
        for (int k = 0; k < kKeyCount; ++k) {
            if (!found[k] && SameName(name, kKeys[k])) {
                found[k] = true;
                values[k] = ProfileValue(value);
            }
        }
    }
    UpdateManifestValues v;
    v.url = values[0];
    v.sizeText = values[1];
    v.md5 = values[2];
    v.version = values[3];
    v.expires = values[4];
    for (int m = 0; m < kMirrorKeys; ++m)
        v.mirrors[m] = values[5 + m];
    return v;
}

std::vector<std::wstring> PackageUrls(const UpdateManifestValues& values)
{
    std::vector<std::wstring> urls{values.url};
    for (const std::wstring& mirror : values.mirrors) {
        if (mirror.empty())
            break;
        urls.push_back(mirror);
    }
    return urls;
}

UpdateManifestValues ReadManifestValues(const std::wstring& packageDir)
{
    const std::wstring path = ManifestCopyPath(packageDir);
    UpdateManifestValues v;
    v.url = ReadValue(path, L"Url");
    v.sizeText = ReadValue(path, L"Size");
    v.md5 = ReadValue(path, L"Md5");
    v.version = ReadValue(path, L"Version");
    v.expires = ReadValue(path, L"Expires");
    for (int m = 0; m < kMirrorKeys; ++m)
        v.mirrors[m] = ReadValue(path, Format(L"Url%d", m + 2).c_str());
    return v;
}

int64_t ParseManifestSize(const std::wstring& sizeText)
{
    // _wcstoi64 clamps to the 64-bit range on overflow, as wanted.
    return _wcstoi64(sizeText.c_str(), nullptr, 10);
}
