#pragma once
// Starting a program with a command line given as is.
//
// Threads: any; no state.

#include <windows.h>

#include <cstdint>
#include <string>

// Starts `program` with `commandLine` as given (nothing is quoted; by
// convention the program path is the command line's first token). Returns 0
// or the system error code. The handles are closed at once: `out`, when
// given, receives the process and thread ids, with null handles.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out);

// Like StartProcess, but the handles stay open and belong to the caller via
// `out` (closed here when `out` is null), and the process starts in
// `currentDir` when one is given (else in this process's). Returns 0, or
// (1 << 32) | error.
uint64_t RunProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out,
                    const std::wstring& currentDir = std::wstring());
