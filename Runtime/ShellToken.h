#pragma once
// The desktop shell's process and its token: how the elevated installer acts
// as the signed-in user (starting the launcher with the user's rights,
// reading the user's own proxy settings).
//
// Threads: any; no state.

#include <windows.h>

// True when this process runs elevated.
bool ProcessIsElevated();

// The process that owns the shell's desktop window; 0 when there is none.
DWORD ShellProcessId();

// A primary token of process `pid` with the rights to start a process with it
// (CreateProcessWithTokenW) or to impersonate it; null when it cannot be had
// (the reason in the last error). The caller closes it.
HANDLE DuplicateProcessToken(DWORD pid);

// True when `token` belongs to the same user account as this process's token.
// False when either cannot be read.
bool SameUserAsProcess(HANDLE token);
