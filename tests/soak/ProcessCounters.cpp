#include "tests/soak/ProcessCounters.h"

#include <psapi.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

namespace {

// One entry of the GDI handle table: 24 bytes on 64-bit; a free entry has type 0.
struct GdiHandleEntry {
    uint64_t object;
    uint32_t owner;
    uint16_t unique;
    uint8_t type;
    uint8_t flags;
    uint64_t userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "GDI handle table entry layout");
const size_t kGdiTableEntries = 0x4000;  // the per-process GDI handle limit
const size_t kPebGdiTableOffset = 0xF8;  // PEB.GdiSharedHandleTable on 64-bit

DWORD CountGdiTableEntries()
{
    using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
                             GetProcAddress(ntdll, "NtQueryInformationProcess")))
                       : nullptr;
    PROCESS_BASIC_INFORMATION info = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) < 0 ||
        !info.PebBaseAddress)
        return 0;
    const auto* peb = reinterpret_cast<const uint8_t*>(info.PebBaseAddress);
    const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + kPebGdiTableOffset);
    if (!table)
        return 0;
    const DWORD pid = GetCurrentProcessId();
    DWORD count = 0;
    for (size_t i = 0; i < kGdiTableEntries; ++i) {
        // Wine's table is the process's own and leaves the owner 0; where an
        // owner is filled in, its low 16 bits are the process id.
        const uint32_t owner = table[i].owner & 0xFFFF;
        if (table[i].type != 0 && (owner == 0 || owner == (pid & 0xFFFF)))
            ++count;
    }
    return count;
}

BOOL CALLBACK CountChild(HWND, LPARAM counter)
{
    ++*reinterpret_cast<DWORD*>(counter);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM counter)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) {
        ++*reinterpret_cast<DWORD*>(counter);
        EnumChildWindows(hwnd, CountChild, counter);
    }
    return TRUE;
}

DWORD CountOwnWindows()
{
    DWORD count = 0;
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

struct HandleEntry {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};
const SYSTEM_INFORMATION_CLASS kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);

DWORD CountListedHandles()
{
    using QueryFn = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
                             GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
    if (!query)
        return 0;
    std::vector<uint8_t> buf(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(kSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buf.resize(needed > buf.size() ? needed + 65536 : buf.size() * 2);
            continue;
        }
        if (status < 0)
            return 0;
        const auto* list = reinterpret_cast<const HandleList*>(buf.data());
        const DWORD pid = GetCurrentProcessId();
        DWORD count = 0;
        for (ULONG i = 0; i < list->count; ++i)
            count += list->entries[i].processId == pid ? 1 : 0;
        return count;
    }
    return 0;
}

}  // namespace

ProcessCounters ReadProcessCounters()
{
    ProcessCounters c;
    HANDLE self = GetCurrentProcess();
    std::wstring gdiSource = L"GetGuiResources", userSource = L"GetGuiResources", handleSource = L"GetProcessHandleCount";
    c.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    if (c.gdiObjects == 0) {
        c.gdiObjects = CountGdiTableEntries();
        gdiSource = L"handle-table";
    }
    c.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    if (c.userObjects == 0) {
        c.userObjects = CountOwnWindows();
        userSource = L"windows";
    }
    if (!GetProcessHandleCount(self, &c.handles) || c.handles == 0) {
        c.handles = CountListedHandles();
        handleSource = L"system-handle-list";
    }
    PROCESS_MEMORY_COUNTERS_EX mem = {};
    mem.cb = sizeof(mem);
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof(mem))) {
        c.workingSet = mem.WorkingSetSize;
        c.pagefileUsage = mem.PagefileUsage;
        c.privateUsage = mem.PrivateUsage;
    }
    c.source = L"gdi=" + gdiSource + L" user=" + userSource + L" handles=" + handleSource;
    return c;
}
