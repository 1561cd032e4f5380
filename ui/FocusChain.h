#pragma once
// The order in which Tab moves the keyboard focus: reading order of the
// controls' rectangles (lines from top to bottom, each from left to right),
// whatever order the markup lists them in. Plain geometry, so it follows
// whatever rectangles the layout produced.
//
// Threads: any (no state).

#include <windows.h>

#include <cstddef>
#include <vector>

// Indices into `rects` in reading order. Two rectangles share a line when
// the vertical centre of one lies within the other's height.
std::vector<size_t> ReadingOrder(const std::vector<RECT>& rects);

// The position in a chain of `count` to focus after `current` (forward) or
// before it, wrapping around; with no current position (npos) the first or
// the last. npos when the chain is empty.
size_t NextInChain(size_t count, size_t current, bool forward);
