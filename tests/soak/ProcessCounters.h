#pragma once
// Figures of this process a leak shows in: GDI and USER objects, kernel
// handles and memory.
//
// Windows answers GetGuiResources and GetProcessHandleCount; Wine answers both
// with 0 and reports PrivateUsage as 0. Where the system's own count is 0 the
// figure is counted another way, and `source` says how:
//  - GDI objects: the used entries of this process's GDI handle table (the
//    table the PEB points at, which Wine keeps per process);
//  - USER objects: the windows of this process, top-level and child (icons,
//    cursors and menus are not in this count);
//  - handles: this process's entries of the system handle list.
// Memory: WorkingSetSize and PagefileUsage (the committed private bytes).
//
// Threads: any. Ownership: plain values.

#include <windows.h>

#include <string>

struct ProcessCounters {
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    DWORD handles = 0;
    SIZE_T workingSet = 0;
    SIZE_T pagefileUsage = 0;
    SIZE_T privateUsage = 0;  // 0 under Wine
    std::wstring source;      // how the three counts were taken, e.g. "gdi=table user=windows handles=list"
};

ProcessCounters ReadProcessCounters();
