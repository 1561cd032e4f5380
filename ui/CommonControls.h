#pragma once
// The system's common controls, initialised when a control first needs them
// (a tooltip, the native edit field of common controls 6, which the manifest
// binds), not at start: comctl32 is delay-loaded, and loading it with its
// theming before the first frame costs every window that frame's time for
// classes that only some windows use later.
//
// Threads: UI thread.

#include <windows.h>

// Registers the classes of `classes` (ICC_* flags); comctl32 is loaded on the
// first call. False when its initialisation failed (logged).
bool EnsureCommonControls(DWORD classes);
