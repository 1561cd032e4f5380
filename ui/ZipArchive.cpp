#include "ui/ZipArchive.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

DWORD g_lastResult = ZR_OK;

DWORD SetResult(DWORD r) {
    g_lastResult = r;
    return r;
}

// Largest archive file read from disk; the skin is far below this.
const DWORD kMaxArchiveFile = 256u * 1024u * 1024u;

uint16_t Rd16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Rd32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

std::wstring DecodeName(const unsigned char* p, size_t len, bool utf8) {
    if (len == 0) return std::wstring();
    UINT cp = utf8 ? CP_UTF8 : CP_ACP;
    int n = MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(p), static_cast<int>(len), nullptr, 0);
    if (n <= 0) {
        // Undecodable bytes: keep them byte for byte so the entry still exists.
        std::wstring raw;
        for (size_t i = 0; i < len; ++i) raw += static_cast<wchar_t>(p[i]);
        return raw;
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(p), static_cast<int>(len), &out[0], n);
    return out;
}

}  // namespace

class ZipReader {
public:
    struct Item {
        std::wstring name;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint32_t csize = 0;
        uint32_t usize = 0;
        uint32_t localOffset = 0;
        bool zip64 = false;
    };

    explicit ZipReader(std::vector<unsigned char>&& data) : data_(std::move(data)) {}

    DWORD Parse() {
        const size_t size = data_.size();
        if (size < 22) return ZR_CORRUPT;
        // The end record sits in the last 22 + 65535 bytes (its comment may be that long).
        size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
        size_t eocd = SIZE_MAX;
        for (size_t pos = size - 22 + 1; pos-- > lowest;) {
            if (Rd32(&data_[pos]) == 0x06054b50) {
                size_t commentLen = Rd16(&data_[pos + 20]);
                if (pos + 22 + commentLen <= size) {
                    eocd = pos;
                    break;
                }
            }
            if (pos == 0) break;
        }
        if (eocd == SIZE_MAX) return ZR_CORRUPT;
        const unsigned char* e = &data_[eocd];
        uint32_t total = Rd16(e + 10);
        uint32_t cdSize = Rd32(e + 12);
        uint32_t cdOffset = Rd32(e + 16);
        if (cdOffset == 0xFFFFFFFFu || total == 0xFFFFu) return ZR_UNSUPPORTED;
        if (static_cast<uint64_t>(cdOffset) + cdSize > eocd) return ZR_CORRUPT;
        size_t pos = cdOffset;
        const size_t cdEnd = static_cast<size_t>(cdOffset) + cdSize;
        for (uint32_t i = 0; i < total; ++i) {
            if (pos + 46 > cdEnd) return ZR_CORRUPT;
            const unsigned char* c = &data_[pos];
            if (Rd32(c) != 0x02014b50) return ZR_CORRUPT;
            Item item;
            item.flags = Rd16(c + 8);
            item.method = Rd16(c + 10);
            item.crc = Rd32(c + 16);
            item.csize = Rd32(c + 20);
            item.usize = Rd32(c + 24);
            size_t nameLen = Rd16(c + 28), extraLen = Rd16(c + 30), commentLen = Rd16(c + 32);
            item.localOffset = Rd32(c + 42);
            item.zip64 = item.csize == 0xFFFFFFFFu || item.usize == 0xFFFFFFFFu || item.localOffset == 0xFFFFFFFFu;
            if (pos + 46 + nameLen + extraLen + commentLen > cdEnd) return ZR_CORRUPT;
            item.name = DecodeName(c + 46, nameLen, (item.flags & 0x800) != 0);
            items_.push_back(std::move(item));
            pos += 46 + nameLen + extraLen + commentLen;
        }
        return ZR_OK;
    }

    int Find(const std::wstring& name) const {
        for (size_t i = 0; i < items_.size(); ++i) {
            const std::wstring& n = items_[i].name;
            if (n.size() == name.size() &&
                (n.empty() || CompareStringOrdinal(n.c_str(), static_cast<int>(n.size()), name.c_str(),
                                                   static_cast<int>(name.size()), TRUE) == CSTR_EQUAL))
                return static_cast<int>(i);
        }
        return -1;
    }

    const Item* ItemAt(int index) const {
        if (index < 0 || static_cast<size_t>(index) >= items_.size()) return nullptr;
        return &items_[static_cast<size_t>(index)];
    }

    DWORD Extract(int index, unsigned char* out, DWORD size) const {
        const Item* item = ItemAt(index);
        if (!item) return ZR_ARGS;
        if (item->zip64 || (item->flags & 0x1)) return ZR_UNSUPPORTED;
        if (item->method != 0 && item->method != 8) return ZR_UNSUPPORTED;
        const size_t lho = item->localOffset;
        if (static_cast<uint64_t>(lho) + 30 > data_.size()) return ZR_CORRUPT;
        const unsigned char* l = &data_[lho];
        if (Rd32(l) != 0x04034b50) return ZR_CORRUPT;
        uint64_t start = static_cast<uint64_t>(lho) + 30 + Rd16(l + 26) + Rd16(l + 28);
        if (start + item->csize > data_.size()) return ZR_CORRUPT;
        const unsigned char* src = data_.data() + start;
        const DWORD want = size < item->usize ? size : item->usize;

        if (item->method == 0) {
            if (item->csize != item->usize) return ZR_CORRUPT;
            if (want) memcpy(out, src, want);
            if (want < item->usize) return ZR_MORE;
            return Crc(out, want) == item->crc ? ZR_OK : ZR_CORRUPT;
        }

        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return ZR_FLATE;
        zs.next_in = const_cast<Bytef*>(src);
        zs.avail_in = item->csize;
        zs.next_out = out;
        zs.avail_out = want;
        int rc = Z_OK;
        while (zs.avail_out > 0) {
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK) break;  // includes Z_BUF_ERROR: input ran out before the output was full
        }
        const uLong produced = zs.total_out;
        // A complete item must also end its stream exactly at the declared size.
        bool endedHere = rc == Z_STREAM_END;
        if (!endedHere && rc == Z_OK && zs.avail_out == 0 && want == item->usize) {
            unsigned char probe;
            zs.next_out = &probe;
            zs.avail_out = 1;
            int rc2 = inflate(&zs, Z_NO_FLUSH);
            endedHere = rc2 == Z_STREAM_END && zs.avail_out == 1;
            if (rc2 != Z_STREAM_END) rc = rc2 == Z_OK || rc2 == Z_BUF_ERROR ? Z_DATA_ERROR : rc2;
        }
        inflateEnd(&zs);
        if (want < item->usize) {
            if (produced == want) return ZR_MORE;
            return ZR_FLATE;
        }
        if (!endedHere) return rc == Z_BUF_ERROR || rc == Z_OK ? ZR_CORRUPT : ZR_FLATE;
        if (produced != item->usize) return ZR_CORRUPT;
        return Crc(out, want) == item->crc ? ZR_OK : ZR_CORRUPT;
    }

private:
    static uint32_t Crc(const unsigned char* p, DWORD n) {
        return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), p, n));
    }

    std::vector<unsigned char> data_;
    std::vector<Item> items_;
};

namespace {

bool ReadWholeFile(const wchar_t* path, std::vector<unsigned char>& out) {
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart <= kMaxArchiveFile;
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(f, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size());
    }
    CloseHandle(f);
    return ok;
}

ZipReader* ReaderOf(HZIP handle, DWORD* result) {
    if (!handle) {
        *result = ZR_ARGS;
        return nullptr;
    }
    if (handle->kind != 1 || !handle->reader) {
        *result = ZR_ZMODE;
        return nullptr;
    }
    *result = ZR_OK;
    return handle->reader;
}

}  // namespace

HZIP OpenArchive(const void* source, DWORD length, DWORD mode) {
    if (!source) {
        SetResult(ZR_ARGS);
        return nullptr;
    }
    std::vector<unsigned char> data;
    if (mode == ZIP_FILENAME) {
        if (!ReadWholeFile(static_cast<const wchar_t*>(source), data)) {
            SetResult(ZR_NOFILE);
            return nullptr;
        }
    } else if (mode == ZIP_MEMORY) {
        const unsigned char* p = static_cast<const unsigned char*>(source);
        data.assign(p, p + length);
    } else {
        SetResult(ZR_ARGS);
        return nullptr;
    }
    ZipReader* reader = new ZipReader(std::move(data));
    DWORD r = reader->Parse();
    if (r != ZR_OK) {
        delete reader;
        SetResult(r);
        return nullptr;
    }
    HZIP h = new ArchiveHandle;
    h->reader = reader;
    SetResult(ZR_OK);
    return h;
}

DWORD FindArchiveItem(HZIP handle, const wchar_t* name, int* index, ZipEntry* entry) {
    DWORD r;
    ZipReader* reader = ReaderOf(handle, &r);
    if (!reader) return SetResult(r);
    if (!name) return SetResult(ZR_ARGS);
    std::wstring wanted(name);
    for (wchar_t& c : wanted)
        if (c == L'\\') c = L'/';
    int i = reader->Find(wanted);
    if (index) *index = i;
    if (i < 0) {
        if (entry) *entry = ZipEntry();
        return SetResult(ZR_NOTFOUND);
    }
    if (entry) {
        const ZipReader::Item* item = reader->ItemAt(i);
        entry->index = i;
        entry->compressedSize = item->csize;
        entry->uncompressedSize = item->usize;
        entry->name = item->name;
    }
    return SetResult(ZR_OK);
}

DWORD ExtractArchiveItem(HZIP handle, int index, void* buffer, DWORD size) {
    DWORD r;
    ZipReader* reader = ReaderOf(handle, &r);
    if (!reader) return SetResult(r);
    if (!buffer && size) return SetResult(ZR_ARGS);
    unsigned char dummy;
    return SetResult(reader->Extract(index, buffer ? static_cast<unsigned char*>(buffer) : &dummy, size));
}

DWORD CloseArchive(HZIP handle) {
    DWORD r;
    ZipReader* reader = ReaderOf(handle, &r);
    if (!reader) return SetResult(r);
    delete reader;
    handle->reader = nullptr;
    handle->kind = 0;
    delete handle;
    return SetResult(ZR_OK);
}

DWORD LastArchiveResult() { return g_lastResult; }
