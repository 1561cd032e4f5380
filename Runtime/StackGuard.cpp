// The stack protector's guard value and its failure handler, in place of the
// compiler's own runtime for them (libssp). That runtime takes the value from
// the CryptoAPI, which loads a crypto provider with its imports into every
// process before its entry point; under Wine the provider brings a whole TLS
// library along, which made the installer's start slower than its first
// frame. The system's random generator (RtlGenRandom) gives the same quality
// of value without loading anything.
//
// The value is set by a TLS callback, which the loader runs before the C
// runtime's start-up: no protected function can be on the stack then.

#include <windows.h>

#include <cstdint>

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);  // RtlGenRandom

extern "C" {

// Not zero before the callback has run, so that an early frame is protected
// with a value that is at least not the obvious one.
uintptr_t __stack_chk_guard = static_cast<uintptr_t>(0x2a8e5c3f7d1b9e64ull);

// A smashed stack: end the process at once, as /GS code does, without
// unwinding through the damaged frames or running any handler.
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    // __fastfail (interrupt 0x29, the code in ecx), which this compiler's
    // headers do not offer; where the system does not know it, the process
    // is ended all the same.
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_unreachable();
}

}  // extern "C"

namespace {

// Not protected itself: it changes the value its own frame would be checked with.
__attribute__((no_stack_protector)) void NTAPI SetStackGuard(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return;
    uintptr_t value = 0;
    // A zero value would let a string copy forge it: try again, and keep the
    // built-in value should the generator fail.
    for (int attempt = 0; attempt < 4 && value == 0; ++attempt)
        if (!SystemFunction036(&value, sizeof value))
            value = 0;
    if (value != 0)
        __stack_chk_guard = value;
}

}  // namespace

extern "C" __attribute__((section(".CRT$XLA1"), used)) const PIMAGE_TLS_CALLBACK ov_set_stack_guard = SetStackGuard;
