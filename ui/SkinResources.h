#pragma once
// Process-wide skin resource state: which module's resources are searched, the
// directory prefix for skin files on disk, and the skin archive (a zip named by
// path, or the in-memory copy of the "ZIPRES" resource under the name
// "membuffer"). Layout documents and images are read through here.
//
// Threads: UI thread only (the state is shared by every window of the process).
// Ownership: the archive copy and the cached archive handle belong to this
// state until ReleaseSkinResources().

#include <windows.h>

#include <string>
#include <vector>

#include "ui/ZipArchive.h"

class CSkinResources {
public:
    static HINSTANCE Instance();
    static void SetInstance(HINSTANCE instance);

    // Always ends with "\" once set (an empty path stays empty).
    static const std::wstring& ResourcePath();
    static void SetResourcePath(const std::wstring& path);

    // "membuffer" while the archive copy is in use; empty without archive.
    static const std::wstring& ResourceZip();
    // Names an archive file (relative to ResourcePath). A cached handle is
    // closed first; the same name with the handle already cached does nothing.
    static void SetResourceZip(const std::wstring& name, bool cached = false);
    // Uses the archive copy; nothing happens when it is already in use.
    // Returns false when the copy is missing or is not a readable archive.
    static bool SetResourceZipFromCopy();
    static HZIP CachedZip();

    // The archive copy: bytes kept for the life of the process.
    static void SetArchiveCopy(const void* data, size_t length);
    static bool HasArchiveCopy();
    // Loads the module resource (`type`, `id`) into the archive copy unless a
    // copy already exists. False when it is missing or empty.
    static bool LoadArchiveCopyFromResource(HINSTANCE module, const wchar_t* type, const wchar_t* id);

    enum ReadResult { kReadOk, kReadNoArchive, kReadNotFound, kReadExtractFailed, kReadEmpty, kReadTooLarge };
    // Reads one entry of the current resource zip (cached handle, or the
    // archive at ResourcePath + ResourceZip opened for this read only).
    static ReadResult ReadZipEntry(const std::wstring& name, std::vector<unsigned char>& out, size_t maxSize);
    // Reads a whole file; false when it cannot be read or exceeds maxSize.
    static bool ReadFileBytes(const std::wstring& path, std::vector<unsigned char>& out, size_t maxSize);

    // Closes the cached archive and frees the archive copy.
    static void ReleaseSkinResources();
};
