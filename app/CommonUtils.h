#pragma once
// The window's own small helpers: sizes as the window shows them, and the
// shell's folder chooser. (The general file and process helpers are in
// Runtime/FileOps.h and Runtime/ProcessStart.h.)
//
// Threads: BrowseForFolder shows a modal shell dialog, so it belongs to the
// UI thread (the dialog also needs COM/OLE initialised on that thread). The
// others keep no state and may run on any thread.

#include <windows.h>

#include <cstdint>
#include <string>

// Human-readable size: B, KB, MB, GB, TB with 1024 steps, truncated. A value
// moves to the next unit at 1000 of the current one, so 1,000 to 1,023 bytes
// read "0KB" (and likewise at each border).
std::wstring FormatSize(uint64_t bytes);

// Shows the shell's folder chooser owned by `owner`, starting at
// `initialPath` (the current directory when empty). Returns the chosen folder
// ending with "\", or empty on cancel or a folder without a file-system path.
std::wstring BrowseForFolder(HWND owner, const std::wstring& initialPath);
// The post-processing of a chosen path: empty stays empty, otherwise the
// result ends with exactly the one backslash it may already have.
std::wstring TerminateFolderPath(const std::wstring& path);
