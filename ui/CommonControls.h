#pragma once
// The system's common controls (comctl32), loaded on first need rather than
// imported: an imported comctl32 is loaded and initialised, with its theming,
// before the program's entry point runs, which costs every window its first
// frame for classes that only some windows use later (tooltips, the native
// edit field of common controls 6, which the manifest binds by name).
//
// Threads: UI thread.

#include <windows.h>

// Registers the classes of `classes` (ICC_* flags); comctl32 is loaded on the
// first call. False when comctl32 or its initialisation failed.
bool EnsureCommonControls(DWORD classes);
