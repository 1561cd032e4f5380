#pragma once
// Small file and folder helpers: where the program is, creating a directory
// with its parents, one-attempt delete and move, and a file's size.
//
// Failures are returned, never thrown; only CreateDir logs. Paths are full
// wide paths owned by the caller.
//
// Threads: GetModuleDir fills a static on first use, so its first call
// belongs to the UI thread (before any worker starts). Everything else keeps
// no state and may run on any thread.

#include <windows.h>

#include <cstdint>
#include <string>

// Directory of the running program, without a trailing backslash; empty when
// the system cannot tell (then asked again next time).
std::wstring GetModuleDir();

// True when the directory exists or was created with all missing parents;
// false when a file is in the way or creation fails. A failure is logged with
// the system's result (ERROR_FILE_EXISTS for a file at the path itself).
bool CreateDir(const std::wstring& path);

// One attempt each; a failed attempt pauses 1 ms so a caller's retry loop
// does not spin. A missing file counts as deleted; a missing source fails.
bool DeleteFileOnce(const std::wstring& path);
bool MoveFileOnce(const std::wstring& from, const std::wstring& to);

// Size in bytes, -1 when the file cannot be found.
int64_t GetFileSize64(const std::wstring& path);
