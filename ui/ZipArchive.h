#pragma once
// Reader for the skin archive: a standard zip held in memory (or read from a
// file into memory), entries stored or deflated. Every offset and length in the
// archive is checked against the buffer before use, so a truncated or damaged
// archive yields a result code, never a read outside the data.
//
// Threads: a handle is used by one thread at a time. The last result code is
// one process-wide value, as the callers read it right after a call on the UI
// thread.

#include <windows.h>

#include <string>

// Result codes.
enum : DWORD {
    ZR_OK = 0x00000000,
    ZR_NOFILE = 0x00000200,       // the archive file could not be opened or read
    ZR_NOTFOUND = 0x00000500,     // no entry of that name
    ZR_MORE = 0x00000600,         // the buffer was filled, more data remains (callers treat as success)
    ZR_ARGS = 0x00010000,         // null handle or bad argument
    ZR_ZMODE = 0x00080000,        // handle of the wrong kind
    ZR_CORRUPT = 0x01000000,      // archive structure damaged: truncated, offsets outside the data, checksum
    ZR_UNSUPPORTED = 0x02000000,  // encrypted entry, zip64 or a method other than stored/deflate
    ZR_FLATE = 0x05000000,        // the deflate stream could not be inflated
};

// Open modes.
enum : DWORD {
    ZIP_FILENAME = 2,  // source is a wide path
    ZIP_MEMORY = 3,    // source is `length` bytes; they are copied
};

class ZipReader;

struct ArchiveHandle {
    DWORD kind = 1;  // 1 = zip; anything else is refused with ZR_ZMODE
    ZipReader* reader = nullptr;
};
using HZIP = ArchiveHandle*;

struct ZipEntry {
    int index = -1;
    DWORD compressedSize = 0;
    DWORD uncompressedSize = 0;
    std::wstring name;
};

// Returns null on failure; LastArchiveResult() tells why.
HZIP OpenArchive(const void* source, DWORD length, DWORD mode);
// Case-insensitive lookup; "\" in `name` matches "/" in the archive.
DWORD FindArchiveItem(HZIP handle, const wchar_t* name, int* index, ZipEntry* entry);
// Inflates item `index` into `buffer`. When `size` is smaller than the item,
// the buffer is filled and ZR_MORE returned; the checksum is verified only for
// a complete extraction.
DWORD ExtractArchiveItem(HZIP handle, int index, void* buffer, DWORD size);
DWORD CloseArchive(HZIP handle);
DWORD LastArchiveResult();
