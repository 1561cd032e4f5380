#pragma once
// Verifies a downloaded package against the manifest's "Md5" value before it
// is ever run with administrator rights: a truncated or corrupted download
// must not be executed. The digest comes from the platform's own hashing
// (CryptoAPI), read from the file in chunks.
//
// Threads: any; keeps no state. Hashing a large package takes a moment, so
// callers on the UI thread do it once per finished download.

#include <winsock2.h>
#include <windows.h>

#include <string>

enum class PackageCheck {
    kNotChecked,  // the manifest gave no checksum: nothing to compare
    kMatch,
    kMismatch,    // the digest differs, or the manifest value is not 32 hex digits
    kUnreadable,  // the file could not be read or hashed
};

// Compares the file's MD5 with `expected`, ignoring case and surrounding blanks.
PackageCheck CheckPackageMd5(const std::wstring& path, const std::wstring& expected);
// The same through an open handle (read from the first byte; the file
// position is moved), so that the bytes checked are those of a file the
// caller holds.
PackageCheck CheckPackageMd5(HANDLE file, const std::wstring& expected);

// Lower-case hexadecimal MD5 of the file; false when it cannot be read.
bool FileMd5(const std::wstring& path, std::wstring& hex);
bool FileMd5(HANDLE file, std::wstring& hex);
