#include "ui/CommonControls.h"

#include <commctrl.h>

#include "Runtime/Logger.h"

bool EnsureCommonControls(DWORD classes)
{
    static DWORD registered = 0;
    if ((registered & classes) == classes)
        return true;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), classes};
    if (!InitCommonControlsEx(&icc)) {
        OV_LOG(LOG_ERROR, L".\\ui\\CommonControls", L"common controls 0x%x not initialised (%u)",
               static_cast<unsigned>(classes), static_cast<unsigned>(GetLastError()));
        return false;
    }
    registered |= classes;
    return true;
}
