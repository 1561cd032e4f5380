#include "Updater/PackageCheck.h"

#include <windows.h>
#include <wincrypt.h>

#include <cwctype>
#include <vector>

#include "Runtime/TextUtil.h"

namespace {

// Releases the CryptoAPI objects on every path out.
struct HashSession {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    ~HashSession()
    {
        if (hash)
            CryptDestroyHash(hash);
        if (provider)
            CryptReleaseContext(provider, 0);
    }
};

bool IsMd5Text(const std::wstring& text)
{
    if (text.size() != 32)
        return false;
    for (wchar_t c : text)
        if (!iswxdigit(c) || c > 0x7F)
            return false;
    return true;
}

}  // namespace

bool FileMd5(const std::wstring& path, std::wstring& hex)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FileMd5(file, hex);
    CloseHandle(file);
    return ok;
}

bool FileMd5(HANDLE file, std::wstring& hex)
{
    HashSession s;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    if (!CryptAcquireContextW(&s.provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    if (!CryptCreateHash(s.provider, CALG_MD5, 0, 0, &s.hash))
        return false;

    // Small pieces: the reads are sequential and cached either way, and a
    // larger buffer only adds to the installer's peak memory at this moment.
    std::vector<BYTE> chunk(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        if (!CryptHashData(s.hash, chunk.data(), got, 0))
            return false;
    }

    BYTE digest[16];
    DWORD length = sizeof digest;
    if (!CryptGetHashParam(s.hash, HP_HASHVAL, digest, &length, 0) || length != sizeof digest)
        return false;
    hex.clear();
    for (BYTE b : digest)
        hex += Format(L"%02x", b);
    return true;
}

namespace {

// kNotChecked, kMismatch, or the text to compare with (lower case) and kMatch.
PackageCheck ExpectedDigest(const std::wstring& expected, std::wstring& want)
{
    // A value of blanks only counts as no value (Trim leaves such a string as it is).
    if (expected.find_first_not_of(L" \t\r\n") == std::wstring::npos)
        return PackageCheck::kNotChecked;
    want = expected;
    Trim(want);
    if (!IsMd5Text(want))
        return PackageCheck::kMismatch;
    for (wchar_t& c : want)
        c = static_cast<wchar_t>(towlower(c));
    return PackageCheck::kMatch;
}

}  // namespace

PackageCheck CheckPackageMd5(HANDLE file, const std::wstring& expected)
{
    std::wstring want;
    const PackageCheck shape = ExpectedDigest(expected, want);
    if (shape != PackageCheck::kMatch)
        return shape;
    std::wstring actual;
    if (!FileMd5(file, actual))
        return PackageCheck::kUnreadable;
    return actual == want ? PackageCheck::kMatch : PackageCheck::kMismatch;
}

PackageCheck CheckPackageMd5(const std::wstring& path, const std::wstring& expected)
{
    std::wstring want;
    const PackageCheck shape = ExpectedDigest(expected, want);
    if (shape != PackageCheck::kMatch)
        return shape;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return PackageCheck::kUnreadable;
    const PackageCheck result = CheckPackageMd5(file, expected);
    CloseHandle(file);
    return result;
}
