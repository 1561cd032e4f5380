#include "Runtime/StagingFolder.h"

#include <cwchar>

#include "Runtime/Logger.h"

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);  // RtlGenRandom

namespace {

const wchar_t kSource[] = L".\\Runtime\\StagingFolder";
// The named folder, then this many folders of new names before giving up:
// each new name is random, so only chance could have made one first.
const int kFreshNames = 4;

std::wstring FreshName(const std::wstring& name)
{
    // The system's random generator: a name nobody can make ahead of us.
    ULONG suffix = 0;
    if (!SystemFunction036(&suffix, sizeof suffix))
        suffix = GetTickCount() ^ (GetCurrentProcessId() << 16);
    wchar_t hex[16];
    swprintf(hex, 16, L"-%08lx", suffix);
    return name + hex;
}

// Deletes the plain files of `dir` and then `dir`; the folder was made by
// this run, so nothing in it belongs to anybody else.
void RemoveRunFolder(const std::wstring& dir)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !DeleteFileW((dir + L"\\" + data.cFileName).c_str()))
                OV_LOG(LOG_WARN, kSource, L"cannot delete %s:%u", data.cFileName,
                       static_cast<unsigned>(GetLastError()));
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (!RemoveDirectoryW(dir.c_str()))
        OV_LOG(LOG_WARN, kSource, L"cannot remove %s:%u", dir.c_str(), static_cast<unsigned>(GetLastError()));
}

}  // namespace

bool StagingFolder::Prepare(const std::wstring& parent, const std::wstring& name, FolderDescriptorReader reader)
{
    Release();
    const PathCheck parentCheck = CheckPathForLinks(parent);
    if (parentCheck.verdict != PathVerdict::kSafe || GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES) {
        OV_LOG(LOG_ERROR, kSource, L"no staging parent %s at:%s", parent.c_str(), parentCheck.at.c_str());
        SetLastError(parentCheck.verdict == PathVerdict::kSafe ? ERROR_PATH_NOT_FOUND : ERROR_DIRECTORY);
        return false;
    }
    if (TryCandidate(parent + L"\\" + name, true, reader))
        return true;
    for (int i = 0; i < kFreshNames; ++i) {
        if (TryCandidate(parent + L"\\" + FreshName(name), false, reader)) {
            runOnly_ = true;
            return true;
        }
    }
    SetLastError(ERROR_CANNOT_MAKE);
    return false;
}

bool StagingFolder::TryCandidate(const std::wstring& path, bool mayExist, FolderDescriptorReader reader)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, StagingFolderSecurity().Get(), FALSE};
    const bool created = CreateDirectoryW(path.c_str(), &sa) != FALSE;
    if (!created && (!mayExist || GetLastError() != ERROR_ALREADY_EXISTS))
        return false;
    // Held before it is judged: what is judged is what is used. A link, a
    // mount point or a file at the name is refused here.
    if (!pin_.Pin(path)) {
        OV_LOG(LOG_WARN, kSource, L"staging folder refused (not a plain folder:%u): %s",
               static_cast<unsigned>(GetLastError()), path.c_str());
        if (created)
            RemoveDirectoryW(path.c_str());
        return false;
    }
    if (!created) {
        // Someone may have made it first: only a folder nobody else can
        // change is used.
        const SecurityDescriptor sd = reader ? reader(pin_.Handle()) : SecurityDescriptor::OfFile(pin_.Handle());
        if (!OnlyAdministratorsCanChange(sd.Get(), ProtectedObject::kFolder)) {
            OV_LOG(LOG_WARN, kSource, L"staging folder refused (others may change it): %s descriptor %s",
                   path.c_str(), sd.ToSddl().c_str());
            pin_.Release();
            return false;
        }
    }
    // The folders above, once nothing on the path can change any more.
    const PathCheck check = CheckPathForLinks(path);
    if (check.verdict != PathVerdict::kSafe) {
        OV_LOG(LOG_WARN, kSource, L"staging folder refused (link at %s)", check.at.c_str());
        pin_.Release();
        return false;
    }
    path_ = path;
    return true;
}

void StagingFolder::Release()
{
    pin_.Release();
    if (runOnly_ && !path_.empty())
        RemoveRunFolder(path_);
    path_.clear();
    runOnly_ = false;
}
