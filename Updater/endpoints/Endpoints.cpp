// The addresses and keys come from the build as string literals; the addresses
// here are the product's own, used when the build names none. There is no
// default key: a unit compiled without one must say that it verifies nothing.
#include "Updater/Endpoints.h"

#ifndef OV_MANIFEST_PRIMARY_URL
#define OV_MANIFEST_PRIMARY_URL L"http://dl1.orvelnet.example/ovinstall.txt"
#endif

#ifndef OV_MANIFEST_SECONDARY_URL
#define OV_MANIFEST_SECONDARY_URL L"http://dl2.orvelnet.example/ovinstall.txt"
#endif

#ifndef OV_LICENCE_URL
#define OV_LICENCE_URL L"http://www.orvelnet.example/xy/"
#endif

#ifndef OV_MIN_PACKAGE_VERSION
#define OV_MIN_PACKAGE_VERSION "0"
#endif

#ifndef OV_MANIFEST_EXPIRY
#define OV_MANIFEST_EXPIRY 1
#endif

// Without a date of its own the unit knows none; the clock alone counts.
#ifndef OV_BUILD_UNIX_TIME
#define OV_BUILD_UNIX_TIME 0
#endif

#if !defined(OV_PUBLISHER_KEY1) && !defined(OV_ALLOW_UNSIGNED)
#error "no publisher key: define OV_PUBLISHER_KEY1 (and OV_PUBLISHER_KEY2), or OV_ALLOW_UNSIGNED for a test build"
#endif

const wchar_t* PrimaryManifestUrl()
{
    return OV_MANIFEST_PRIMARY_URL;
}

const wchar_t* SecondaryManifestUrl()
{
    return OV_MANIFEST_SECONDARY_URL;
}

const wchar_t* LicenceUrl()
{
    return OV_LICENCE_URL;
}

const char* const* PublisherKeyTexts()
{
    static const char* const keys[] = {
#ifdef OV_PUBLISHER_KEY1
        OV_PUBLISHER_KEY1,
#endif
#ifdef OV_PUBLISHER_KEY2
        OV_PUBLISHER_KEY2,
#endif
        nullptr,
    };
    return keys;
}

const char* MinPackageVersion()
{
    return OV_MIN_PACKAGE_VERSION;
}

bool ManifestExpiryRequired()
{
    return OV_MANIFEST_EXPIRY != 0;
}

long long BuildUnixTime()
{
    return OV_BUILD_UNIX_TIME;
}
