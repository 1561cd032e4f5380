#pragma once
// The update manifest: INI text published at "/ovinstall.txt" naming the
// installation package. The update module keeps a copy of each manifest it
// receives as "ovinstall.ini" in the package directory and reads the package's
// values back from that copy with the platform's profile reader.
//
// Threads: UI thread (called from the update module's message handler).

#include <cstdint>
#include <string>

struct UpdateManifestValues {
    std::wstring url;       // "Url": where the package is
    std::wstring sizeText;  // "Size": expected byte count, converted when the download starts
    std::wstring md5;       // "Md5": checksum of the package, hexadecimal
    std::wstring version;   // "Version": handed to the install window unchanged
};

// "<packageDir>\ovinstall.ini"
std::wstring ManifestCopyPath(const std::wstring& packageDir);

// Writes `text` as UTF-16LE with a byte-order mark, replacing an earlier copy.
// Returns false when the copy could not be written; nothing else is reported.
bool SaveManifestCopy(const std::wstring& packageDir, const std::wstring& text);

// Reads the four values of section "Install" from the copy; a missing key or
// file reads as "", and each value is cut to 2047 code units.
UpdateManifestValues ReadManifestValues(const std::wstring& packageDir);

// Decimal conversion of the "Size" text: leading blanks and a sign allowed,
// digits up to the first other character, 0 without digits, clamped to the
// 64-bit range.
int64_t ParseManifestSize(const std::wstring& sizeText);
