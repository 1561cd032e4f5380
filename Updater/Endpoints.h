#pragma once
// Network addresses the product talks to. They are fixed when the program is
// built, never read at run time: the definitions live in one small unit that
// the build compiles once with the product's addresses and once more with the
// local test servers' addresses for the end-to-end build of the installer.
//
// Threads: any (constant strings).

// The two places the update manifest is fetched from, in this order (plain
// HTTP, path "/ovinstall.txt").
const wchar_t* PrimaryManifestUrl();
const wchar_t* SecondaryManifestUrl();
// The licence agreement page the install window opens.
const wchar_t* LicenceUrl();
