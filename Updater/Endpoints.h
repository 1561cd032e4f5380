#pragma once
// What the product trusts and talks to: the network addresses and the
// publishers' signing keys. They are fixed when the program is built, never
// read at run time: the definitions live in one small unit that the build
// compiles once with the product's settings and once more with the local test
// servers' addresses for the end-to-end build of the installer.
//
// Threads: any (constant data).

// The two places the update manifest is fetched from, in this order (path
// "/ovinstall.txt").
const wchar_t* PrimaryManifestUrl();
const wchar_t* SecondaryManifestUrl();
// The licence agreement page the install window opens.
const wchar_t* LicenceUrl();
// The publishers' minisign public keys (the "RW..." key line of a .pub file),
// ending with a null entry: one key, or two while a new key takes over from an
// old one. Only a build made with OV_ALLOW_UNSIGNED has none, and then nothing
// is verified.
const char* const* PublisherKeyTexts();
// What a signed release must be (Updater/ReleasePolicy.h): the lowest package
// version accepted, a dotted decimal ("0" when the build names none); whether
// a manifest must carry "Expires"; and the build's own date, in seconds since
// 1970 UTC, below which the clock never counts.
const char* MinPackageVersion();
bool ManifestExpiryRequired();
long long BuildUnixTime();
