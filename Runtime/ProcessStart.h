#pragma once
// Starting a program with a command line given as is.
//
// Threads: any; no state.

#include <windows.h>

#include <string>

#include "Runtime/UniqueHandle.h"

// Starts `program` with `commandLine` as given (nothing is quoted; by
// convention the program path is the command line's first token), in
// `currentDir` when one is given (else in this process's). Returns 0 or the
// system error code. `out`, when given, receives the started process and owns
// its handles; without it they are closed at once.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, UniqueProcess* out = nullptr,
                   const std::wstring& currentDir = std::wstring());
