#pragma once
// The stacking algorithm shared by the vertical and horizontal layouts, on
// plain data: sizes along the stacking axis ("main") and across it ("cross").
//
// Threads: any (plain data).

#include <vector>

namespace stacklayout {

struct Child {
    int measured = 0;            // main-axis size from MeasureSize; 0 = stretch
    int fixedCross = 0;          // cross-axis fixed size; 0 = fill
    int minMain = 0, maxMain = 9999;
    int minCross = 0, maxCross = 9999;
    int padBefore = 0, padAfter = 0;    // padding along the main axis
    int padCrossBefore = 0, padCrossAfter = 0;
    // Results, relative to the content box origin.
    int pos = 0;     // main-axis start of the child's rectangle
    int size = 0;    // main-axis extent of the rectangle (includes padAfter)
    int crossPos = 0;
    int crossSize = 0;
};

// Lays out `children` in a box of `mainAvail` × `crossAvail` with
// `childPadding` between them. Returns the required main-axis size.
int Arrange(std::vector<Child>& children, int mainAvail, int crossAvail, int childPadding);

}  // namespace stacklayout
