#include "app/FreeSpace.h"

#include <windows.h>

bool QueryFreeBytes(const std::wstring& path, uint64_t* bytes)
{
    std::wstring dir = path;
    for (;;) {
        ULARGE_INTEGER available = {};
        if (GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr)) {
            *bytes = available.QuadPart;
            return true;
        }
        const size_t slash = dir.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0)
            return false;
        dir.resize(slash);
    }
}
