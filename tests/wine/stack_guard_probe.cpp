// The stack protector of the product's code, seen from outside:
//   stack_guard_probe guard FILE   writes the guard value of this run (hex)
//   stack_guard_probe smash        overruns a stack buffer and returns through
//                                  it; the process must end there
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" uintptr_t __stack_chk_guard;

namespace {

// Writes past its buffer by `extra` bytes, one volatile store at a time, so
// that the compiler can neither prove nor drop the overrun.
__attribute__((noinline)) int Overrun(size_t extra)
{
    char buffer[16];
    volatile char* target = buffer;
    for (size_t i = 0; i < sizeof buffer + extra; ++i)
        target[i] = 'A';
    return target[3];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "guard") == 0) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f)
            return 2;
        std::fprintf(f, "%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        std::fclose(f);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "smash") == 0) {
        const int kept = Overrun(static_cast<size_t>(argc) * 32);
        std::printf("stack guard probe: survived (%d)\n", kept);
        return 0;
    }
    return 2;
}
