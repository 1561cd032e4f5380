#include "Updater/LockedPackage.h"

#include <winternl.h>

#include <vector>

#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"

namespace {

const wchar_t kSource[] = L".\\Updater\\LockedPackage";

// The kernel's name of a full Win32 path: "\??\C:\dir\file", or
// "\??\UNC\server\share\file" for a network path.
std::wstring KernelPath(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return L"\\??\\" + path.substr(4);
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

}  // namespace

bool LockedPackage::Open(const std::wstring& path, bool renamable)
{
    Release();
    // Renaming needs delete access to the file itself; sharing only reading
    // denies everybody else writing, deleting and renaming it.
    const DWORD access = GENERIC_READ | (renamable ? DELETE : 0);
    file_ = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        OV_LOG(LOG_ERROR, kSource, L"[UM] package lock failed:%u path:%s", static_cast<unsigned>(error), path.c_str());
        SetLastError(error);
        return false;
    }
    path_ = path;
    return true;
}

PackageVerdict LockedPackage::Verify(const PublisherKeys& keys, const ReleasePolicy& policy,
                                     const std::string& signatureFile, const std::wstring* manifestVersion,
                                     const std::wstring& md5, SignatureStatus* status) const
{
    SignatureStatus signature = SignatureStatus::kValid;
    std::string comment;
    if (keys.Required())
        signature = IsOpen() ? keys.VerifyFile(signatureFile, file_, &comment) : SignatureStatus::kUnreadable;
    if (status)
        *status = signature;
    if (signature != SignatureStatus::kValid) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] package signature refused:%s path:%s", SignatureStatusName(signature),
               path_.c_str());
        return PackageVerdict::kSignature;
    }
    // An older package signed by the same publisher verifies as well as the
    // new one: only the version it was signed as tells them apart.
    if (keys.Required() && CheckPackageRelease(policy, comment, manifestVersion) != ReleaseVerdict::kOk) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] package of another release:%S wanted:%s path:%s", comment.c_str(),
               manifestVersion ? manifestVersion->c_str() : L"(shipped)", path_.c_str());
        return PackageVerdict::kRelease;
    }
    const PackageCheck check = IsOpen() ? CheckPackageMd5(file_, md5) : PackageCheck::kUnreadable;
    if (check == PackageCheck::kMismatch || check == PackageCheck::kUnreadable) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] package check failed:%d md5:%s path:%s", static_cast<int>(check),
               md5.c_str(), path_.c_str());
        return PackageVerdict::kChecksum;
    }
    return PackageVerdict::kOk;
}

bool LockedPackage::RenameTo(const std::wstring& newPath)
{
    if (!IsOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // The rename goes through the handle we hold: by path, the file would
    // have to be let go first, and could be swapped in that moment. The full
    // kernel path means the same on Windows and Wine, where a bare name would
    // be resolved differently.
    const std::wstring target = KernelPath(newPath);
    const size_t header = offsetof(FILE_RENAME_INFORMATION, FileName);
    std::vector<BYTE> buffer(header + (target.size() + 1) * sizeof(wchar_t), 0);
    FILE_RENAME_INFORMATION* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<ULONG>(target.size() * sizeof(wchar_t));
    memcpy(info->FileName, target.c_str(), target.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = NtSetInformationFile(file_, &io, info, static_cast<ULONG>(buffer.size()),
                                                 FileRenameInformation);
    if (status < 0) {
        const DWORD error = RtlNtStatusToDosError(status);
        OV_LOG(LOG_ERROR, kSource, L"[UM] package rename failed:0x%08x path:%s", static_cast<unsigned>(status),
               newPath.c_str());
        SetLastError(error);
        return false;
    }
    path_ = newPath;
    return true;
}

void LockedPackage::Release()
{
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    path_.clear();
}

bool ReadSignatureFile(const std::wstring& path, std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(kMaxSignatureFileBytes + 1);
    DWORD got = 0;
    const BOOL ok = ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return false;
    text.assign(buffer.data(), got);
    return true;
}

namespace {

// Copies `from` (read from its first byte) into `to`; false on a failed read
// or write.
bool CopyThrough(HANDLE from, HANDLE to)
{
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
            return false;
        if (got == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(to, chunk.data(), got, &written, nullptr) || written != got)
            return false;
    }
}

}  // namespace

bool StageShippedPackage(LockedPackage& package, const std::wstring& shippedPath, const std::wstring& stagedPath,
                         const PublisherKeys& keys, const ReleasePolicy& policy)
{
    package.Release();
    std::string signature;
    if (keys.Required() && !ReadSignatureFile(shippedPath + L".minisig", signature)) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] shipped package has no signature:%s", shippedPath.c_str());
        return false;
    }
    // Others may go on reading the shipped file, but not change it while it
    // is copied.
    HANDLE source = CreateFileW(shippedPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        OV_LOG(LOG_ERROR, kSource, L"[UM] shipped package cannot be read:%u path:%s",
               static_cast<unsigned>(GetLastError()), shippedPath.c_str());
        return false;
    }
    HANDLE copy = CreateFreshInstallerFile(stagedPath, GENERIC_WRITE);
    bool copied = copy != INVALID_HANDLE_VALUE && CopyThrough(source, copy);
    const DWORD error = GetLastError();
    if (copy != INVALID_HANDLE_VALUE)
        copied = CloseHandle(copy) && copied;
    CloseHandle(source);
    // Held from here on, checked and later run like a downloaded package.
    if (copied && package.Open(stagedPath, false) &&
        package.Verify(keys, policy, signature, nullptr, std::wstring()) == PackageVerdict::kOk)
        return true;
    if (!copied)
        OV_LOG(LOG_ERROR, kSource, L"[UM] shipped package not copied:%u to:%s", static_cast<unsigned>(error),
               stagedPath.c_str());
    package.Release();
    DeleteFileW(stagedPath.c_str());
    return false;
}
