#include "Runtime/FileEx.h"

namespace {

[[noreturn]] void ThrowLastError(const std::wstring& message = std::wstring())
{
    throw CFileExException(static_cast<int>(GetLastError()), message);
}

DWORD AccessFor(unsigned int flags)
{
    switch (flags & CFileEx::kAccessMask) {
    case CFileEx::kRead: return GENERIC_READ;
    case CFileEx::kWrite: return GENERIC_WRITE;
    case CFileEx::kReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return 0;
    }
}

DWORD ShareFor(unsigned int flags)
{
    switch (flags & CFileEx::kShareMask) {
    case CFileEx::kShareRead: return FILE_SHARE_READ;
    case CFileEx::kShareWrite: return FILE_SHARE_WRITE;
    case CFileEx::kShareAll: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // 0x00, 0x10 and the unused values are exclusive
    }
}

DWORD CreationFor(unsigned int flags)
{
    if (!(flags & CFileEx::kCreate))
        return OPEN_EXISTING;
    return (flags & CFileEx::kNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

}  // namespace

CFileEx::~CFileEx()
{
    if (IsOpen() && closeOnDelete) {
        // A destructor must not let the exception out (that would end the
        // process); the handle is released either way.
        try {
            Close();
        } catch (const CFileExException&) {
        }
    }
}

uint64_t CFileEx::GetPosition()
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER pos{};
    if (!SetFilePointerEx(handle, zero, &pos, FILE_CURRENT))
        ThrowLastError();
    return static_cast<uint64_t>(pos.QuadPart);
}

bool CFileEx::Open(const std::wstring& path, unsigned int flags, CFileExException* error)
{
    // Re-opening must not strand the previous handle (it could keep the old
    // file locked for the rest of the run).
    if (IsOpen())
        CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    closeOnDelete = false;
    fileName = path;

    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = (flags & kNoInherit) ? FALSE : TRUE;

    HANDLE h = CreateFileW(path.c_str(), AccessFor(flags), ShareFor(flags), &sa, CreationFor(flags),
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) {
            error->code = static_cast<int>(GetLastError());
            error->message = L"INVALID_HANDLE_VALUE";
        }
        return false;
    }
    handle = h;
    closeOnDelete = true;
    return true;
}

uint64_t CFileEx::Seek(int64_t offset, unsigned int origin)
{
    // The origins are the system's own move methods; an unknown origin is
    // refused by the system and throws like any other failure.
    static_assert(kBegin == FILE_BEGIN && kCurrent == FILE_CURRENT && kEnd == FILE_END, "seek origins");
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER pos{};
    if (!SetFilePointerEx(handle, distance, &pos, origin))
        ThrowLastError();
    return static_cast<uint64_t>(pos.QuadPart);
}

void CFileEx::SetLength(uint64_t length)
{
    Seek(static_cast<int64_t>(length), kBegin);
    if (!SetEndOfFile(handle))
        ThrowLastError();
}

uint64_t CFileEx::GetLength()
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size))
        ThrowLastError();
    return static_cast<uint64_t>(size.QuadPart);
}

unsigned int CFileEx::Read(void* buffer, unsigned int count)
{
    if (count == 0)
        return 0;
    DWORD got = 0;
    if (!ReadFile(handle, buffer, count, &got, nullptr))
        ThrowLastError();
    return got;
}

void CFileEx::Write(const void* data, unsigned int count)
{
    if (count == 0)
        return;
    DWORD written = 0;
    if (!WriteFile(handle, data, count, &written, nullptr))
        ThrowLastError(fileName);
    if (written != count)
        throw CFileExException(CFileExException::kShortWrite, fileName);
}

void CFileEx::Abort()
{
    if (IsOpen())
        CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    closeOnDelete = false;
    fileName.clear();
}

void CFileEx::Flush()
{
    if (!IsOpen())
        return;
    if (!FlushFileBuffers(handle))
        ThrowLastError();
}

void CFileEx::Close()
{
    bool failed = false;
    DWORD code = 0;
    if (IsOpen() && !CloseHandle(handle)) {
        failed = true;
        code = GetLastError();
    }
    handle = INVALID_HANDLE_VALUE;
    closeOnDelete = false;
    fileName.clear();
    if (failed)
        throw CFileExException(static_cast<int>(code), std::wstring());
}
