#pragma once
// Small file, process and folder helpers of the install flow.
//
// Failures are returned, never thrown; only CreateDir logs. Paths are full
// wide paths owned by the caller.
//
// Threads: GetModuleDir fills a static on first use and BrowseForFolder shows
// a modal shell dialog, so both belong to the UI thread (the dialog also needs
// COM/OLE initialised on that thread). Everything else keeps no state and may
// run on any thread.

#include <windows.h>

#include <cstdint>
#include <string>

// Directory of the running program, without a trailing backslash; empty when
// the system cannot tell (then asked again next time).
std::wstring GetModuleDir();

// Human-readable size: B, KB, MB, GB, TB with 1024 steps, truncated. A value
// moves to the next unit at 1000 of the current one, so 1,000 to 1,023 bytes
// read "0KB" (and likewise at each border).
std::wstring FormatSize(uint64_t bytes);

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

// Shows the shell's folder chooser owned by `owner`, starting at
// `initialPath` (the current directory when empty). Returns the chosen folder
// ending with "\", or empty on cancel or a folder without a file-system path.
std::wstring BrowseForFolder(HWND owner, const std::wstring& initialPath);
// The post-processing of a chosen path: empty stays empty, otherwise the
// result ends with exactly the one backslash it may already have.
std::wstring TerminateFolderPath(const std::wstring& path);

// Starts `program` with `commandLine` as given (nothing is quoted; by
// convention the program path is the command line's first token). Returns 0
// or the system error code. The handles are closed at once: `out`, when
// given, receives the process and thread ids, with null handles.
DWORD StartProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out);

// Like StartProcess, but the handles stay open and belong to the caller via
// `out` (closed here when `out` is null). Returns 0, or (1 << 32) | error.
uint64_t RunProcess(const std::wstring& program, const std::wstring& commandLine, PROCESS_INFORMATION* out);
