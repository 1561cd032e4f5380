/* The planting test's control: a program that imports a DLL outside the
 * system's known list the ordinary way (WINMM, at process start). Run beside
 * a planted "winmm.dll" it must load that copy, which shows the planting test
 * can see a load. It also fails the import-table check for the same reason. */

#include <windows.h>
#include <mmsystem.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    return timeBeginPeriod(1) == TIMERR_NOERROR ? 0 : 1;
}
