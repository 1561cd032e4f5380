#pragma once
// Network addresses the product talks to. They are fixed when the program is
// built (the build passes them as wide string literals), never read at run
// time; the values below are the product's own, used when the build does not
// name others.
//
// OV_MANIFEST_PRIMARY_URL / OV_MANIFEST_SECONDARY_URL: the two places the
// update manifest is fetched from, in that order (plain HTTP, path
// "/ovinstall.txt"). OV_LICENCE_URL: the licence agreement page the install
// window opens.

#ifndef OV_MANIFEST_PRIMARY_URL
#define OV_MANIFEST_PRIMARY_URL L"http://dl1.orvelnet.example/ovinstall.txt"
#endif

#ifndef OV_MANIFEST_SECONDARY_URL
#define OV_MANIFEST_SECONDARY_URL L"http://dl2.orvelnet.example/ovinstall.txt"
#endif

#ifndef OV_LICENCE_URL
#define OV_LICENCE_URL L"http://www.orvelnet.example/xy/"
#endif
