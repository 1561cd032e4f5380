// The addresses come from the build as wide string literals; the values here
// are the product's own, used when the build names none.
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
