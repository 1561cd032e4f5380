#include "ui/SkinResources.h"

namespace {

struct State {
    HINSTANCE instance = nullptr;
    std::wstring path;
    std::wstring zip;
    HZIP cachedZip = nullptr;
    bool zipCached = false;
    std::vector<unsigned char> copy;
    bool haveCopy = false;
};

State& S() {
    static State s;
    return s;
}

const wchar_t kMemBuffer[] = L"membuffer";

void CloseCached() {
    if (S().cachedZip) CloseArchive(S().cachedZip);
    S().cachedZip = nullptr;
    S().zipCached = false;
}

}  // namespace

HINSTANCE CSkinResources::Instance() { return S().instance ? S().instance : GetModuleHandleW(nullptr); }
void CSkinResources::SetInstance(HINSTANCE instance) { S().instance = instance; }

const std::wstring& CSkinResources::ResourcePath() { return S().path; }
void CSkinResources::SetResourcePath(const std::wstring& path) {
    S().path = path;
    if (!S().path.empty() && S().path.back() != L'\\' && S().path.back() != L'/') S().path += L'\\';
}

const std::wstring& CSkinResources::ResourceZip() { return S().zip; }

void CSkinResources::SetResourceZip(const std::wstring& name, bool cached) {
    if (S().zip == name && S().zipCached && S().cachedZip) return;
    CloseCached();
    S().zip = name;
    if (cached && !name.empty()) {
        std::wstring full = S().path + name;
        S().cachedZip = OpenArchive(full.c_str(), 0, ZIP_FILENAME);
        S().zipCached = S().cachedZip != nullptr;
    }
}

bool CSkinResources::SetResourceZipFromCopy() {
    if (S().zip == kMemBuffer && S().cachedZip) return true;
    if (!S().haveCopy) return false;
    CloseCached();
    S().zip = kMemBuffer;
    S().cachedZip = OpenArchive(S().copy.data(), static_cast<DWORD>(S().copy.size()), ZIP_MEMORY);
    S().zipCached = S().cachedZip != nullptr;
    return S().zipCached;
}

HZIP CSkinResources::CachedZip() { return S().zipCached ? S().cachedZip : nullptr; }

void CSkinResources::SetArchiveCopy(const void* data, size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    S().copy.assign(p, p + length);
    S().haveCopy = true;
}

bool CSkinResources::HasArchiveCopy() { return S().haveCopy; }

bool CSkinResources::LoadArchiveCopyFromResource(HINSTANCE module, const wchar_t* type, const wchar_t* id) {
    if (S().haveCopy) return true;
    HRSRC res = FindResourceW(module, id, type);
    if (!res) return false;
    HGLOBAL global = LoadResource(module, res);
    if (!global) return false;
    DWORD size = SizeofResource(module, res);
    const void* data = LockResource(global);
    if (!data || size == 0) return false;
    SetArchiveCopy(data, size);
    return true;
}

CSkinResources::ReadResult CSkinResources::ReadZipEntry(const std::wstring& name, std::vector<unsigned char>& out,
                                                        size_t maxSize) {
    out.clear();
    HZIP zip = CachedZip();
    bool own = false;
    if (!zip) {
        if (S().zip.empty() || S().zip == kMemBuffer) return kReadNoArchive;
        std::wstring full = S().path + S().zip;
        zip = OpenArchive(full.c_str(), 0, ZIP_FILENAME);
        if (!zip) return kReadNoArchive;
        own = true;
    }
    ReadResult result = kReadOk;
    int index = -1;
    ZipEntry entry;
    if (FindArchiveItem(zip, name.c_str(), &index, &entry) != ZR_OK) {
        result = kReadNotFound;
    } else if (entry.uncompressedSize == 0) {
        result = kReadEmpty;
    } else if (entry.uncompressedSize > maxSize) {
        result = kReadTooLarge;
    } else {
        out.resize(entry.uncompressedSize);
        DWORD r = ExtractArchiveItem(zip, index, out.data(), static_cast<DWORD>(out.size()));
        if (r != ZR_OK && r != ZR_MORE) {
            out.clear();
            result = kReadExtractFailed;
        }
    }
    if (own) CloseArchive(zip);
    return result;
}

bool CSkinResources::ReadFileBytes(const std::wstring& path, std::vector<unsigned char>& out, size_t maxSize) {
    out.clear();
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && static_cast<unsigned long long>(size.QuadPart) <= maxSize;
    if (ok && size.QuadPart > 0) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size();
        if (!ok) out.clear();
    }
    CloseHandle(f);
    return ok;
}

void CSkinResources::ReleaseSkinResources() {
    CloseCached();
    S().zip.clear();
    S().copy.clear();
    S().copy.shrink_to_fit();
    S().haveCopy = false;
}
