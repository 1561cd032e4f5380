#pragma once
// Time marks of the program's start-up, for the start-up benchmark: with the
// environment variable OV_STARTUP_TRACE naming a file, each Mark records the
// moment a phase ends and the working set then, and Flush writes lines
// "phase milliseconds working-set-MiB peak-working-set-MiB" into that file,
// the time counted from the process's creation (the same origin an outside
// observer of the process uses). Without the variable every call returns at
// once; nothing is allocated and no file is touched.
//
// The marks only read the clock; the file is written at the end of the first
// paint (a benchmark may end the program right after it) and once more when
// the rest of the start-up has followed.
//
// Threads: UI thread only (start-up is single-threaded).

class CStartupTrace {
public:
    // Reads the variable; the first call only.
    static void Begin();
    // Records `phase` (a literal: the pointer is kept) as ending now; nothing
    // after Flush.
    static void Mark(const char* phase);
    // Writes the marks so far (the file is replaced); after the `last` one,
    // Mark and Flush do nothing.
    static void Flush(bool last);
    static bool Enabled();
};
