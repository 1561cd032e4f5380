#include "ui/CommonControls.h"

#include <commctrl.h>

#include "Runtime/Logger.h"

bool EnsureCommonControls(DWORD classes)
{
    using InitProc = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    static DWORD registered = 0;
    if ((registered & classes) == classes)
        return true;
    // Found through the activation context, as an import would be: the
    // manifest names version 6.
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    InitProc init = comctl ? reinterpret_cast<InitProc>(
                                 reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")))
                           : nullptr;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), classes};
    if (!init || !init(&icc)) {
        OV_LOG(LOG_ERROR, L".\\ui\\CommonControls", L"common controls 0x%x not initialised (%u)",
               static_cast<unsigned>(classes), static_cast<unsigned>(GetLastError()));
        return false;
    }
    registered |= classes;
    return true;
}
