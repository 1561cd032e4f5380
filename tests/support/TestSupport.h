#pragma once
// Helpers shared by the test suites: scratch directories on the real file
// system, a real message loop for the calling thread, and small file helpers.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

class CSimpleThread;

namespace testsupport {

// A fresh directory under the temporary folder, removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::wstring& Path() const { return path_; }
    // Path() + L"\\" + name
    std::wstring operator/(const std::wstring& name) const;

private:
    std::wstring path_;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// Removes a file or a directory tree; missing paths are fine.
void RemoveTree(const std::wstring& path);

// Runs this thread's message loop until `done` returns true or `timeoutMs`
// passes; returns the last value of `done`.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Runs this thread's message loop for `ms` milliseconds.
void PumpMessagesFor(DWORD ms);

// Stops a worker and waits for it at most `ms`: false when it did not end by
// itself in time (it is then terminated, as a timed-out stop does), so that a
// hung worker fails its test instead of hanging the run.
bool StopWithin(CSimpleThread& thread, DWORD ms);

// Makes `link` a symbolic link to `target` (a file or a directory). Under Wine,
// whose CreateSymbolicLinkW creates nothing, a Unix symbolic link made with
// ln, which Wine reports as a reparse point; on Windows a real one (needs the
// right to create links). False when none could be made.
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target);

// "<build>\standins": the stand-in package and launcher, beside the tests'
// own folder.
std::wstring StandinDir();

bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);

}  // namespace testsupport
