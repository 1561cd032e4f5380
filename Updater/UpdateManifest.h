#pragma once
// The update manifest: INI text published at "/ovinstall.txt" naming the
// installation package. The update module reads the package's values from the
// bytes it received (and, in a signed build, verified), and keeps a copy of
// each manifest as "ovinstall.ini" in the package directory as a record. It
// never reads values back from that copy: another program could change the
// file between its writing and its reading.
//
// Threads: UI thread (called from the update module's message handler).

#include <cstdint>
#include <string>
#include <vector>

// Further addresses of the same package: "Url2" to "Url9".
const int kMirrorKeys = 8;

struct UpdateManifestValues {
    std::wstring url;       // "Url": where the package is
    std::wstring mirrors[kMirrorKeys];  // "Url2" to "Url9" ("" when missing)
    std::wstring sizeText;  // "Size": expected byte count, converted when the download starts
    std::wstring md5;       // "Md5": checksum of the package, hexadecimal
    std::wstring version;   // "Version": handed to the install window unchanged
    std::wstring expires;   // "Expires": when a signed manifest stops being valid (ReleasePolicy.h)
};

// Where the package may be fetched, in the order to ask: "Url" (even when
// empty, as before mirrors existed), then "Url2", "Url3", ... up to the first
// that is missing or empty: a gap ends the list, so a mirror left after a
// removed one is never reached by accident of numbering.
std::vector<std::wstring> PackageUrls(const UpdateManifestValues& values);

// "<packageDir>\ovinstall.ini"
std::wstring ManifestCopyPath(const std::wstring& packageDir);

// Writes `text` as UTF-16LE with a byte-order mark, replacing an earlier copy.
// Returns false when the copy could not be written; nothing else is reported.
bool SaveManifestCopy(const std::wstring& packageDir, const std::wstring& text);

// The values of section "Install" of the manifest text, read the way the
// platform's profile reader reads the copy, so that a manifest means what it
// always meant: lines end at CR or LF; blanks around names and values are
// dropped (inside the brackets of a section name too); section and key names
// match without regard to case; the first section "Install" and the first
// occurrence of a key in it count (a line without "=" counts as the key with
// an empty value); a value wholly in single or double quotes loses them; a
// value is cut to 2047 code units, and at a NUL. One difference: a byte-order
// mark at the start of the text (a UTF-8 file saved with one) is skipped,
// where the profile reader saw a first line that was no section header and
// read nothing.
UpdateManifestValues ParseManifestValues(const std::wstring& text);

// The platform profile reader's values of the copy in `packageDir` (missing
// key or file: ""). The installer does not use it; it is the reference the
// parser above is held to.
UpdateManifestValues ReadManifestValues(const std::wstring& packageDir);

// Decimal conversion of the "Size" text: leading blanks and a sign allowed,
// digits up to the first other character, 0 without digits, clamped to the
// 64-bit range.
int64_t ParseManifestSize(const std::wstring& sizeText);
