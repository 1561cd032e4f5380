#include "ui/StackLayout.h"

#include <algorithm>

namespace stacklayout {

namespace {
int Clamp(int v, int lo, int hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}
}  // namespace

int Arrange(std::vector<Child>& children, int mainAvail, int crossAvail, int childPadding) {
    const int n = static_cast<int>(children.size());
    if (n == 0) return 0;
    int stretchCount = 0;
    int fixedSum = 0;
    for (const Child& c : children) {
        int m = c.measured;
        if (m == 0)
            ++stretchCount;
        else
            m = Clamp(m, c.minMain, c.maxMain);
        fixedSum += m + c.padBefore + c.padAfter;
    }
    fixedSum += childPadding * (n - 1);
    int share = 0;
    if (stretchCount > 0) {
        share = (mainAvail - fixedSum) / stretchCount;
        if (share < 0) share = 0;
    }

    int pos = 0;
    int remaining = mainAvail;
    // What the children after the current one still need: their fixed sizes,
    // their paddings and the child padding in front of each of them. Keeping
    // this exact lets the last stretchable child fill the box to the end even
    // when paddings precede it.
    int fixedRemaining = fixedSum;
    int stretchSeen = 0;
    int required = 0;
    for (int i = 0; i < n; ++i) {
        Child& c = children[static_cast<size_t>(i)];
        fixedRemaining -= c.padBefore + c.padAfter + (i > 0 ? childPadding : 0);
        remaining -= c.padBefore;
        int m = c.measured;
        if (m == 0) {
            ++stretchSeen;
            m = share;
            if (stretchSeen == stretchCount) m = std::max(0, remaining - c.padAfter - fixedRemaining);
            m = Clamp(m, c.minMain, c.maxMain);
        } else {
            m = Clamp(m, c.minMain, c.maxMain);
            fixedRemaining -= m;
        }
        int cross = c.fixedCross;
        if (cross == 0) cross = crossAvail - c.padCrossBefore - c.padCrossAfter;
        if (cross < 0) cross = 0;
        cross = Clamp(cross, c.minCross, c.maxCross);

        c.pos = pos + c.padBefore;
        c.size = m + c.padAfter;
        c.crossPos = c.padCrossBefore;
        c.crossSize = cross;

        pos += m + childPadding + c.padBefore + c.padAfter;
        remaining -= m + childPadding + c.padAfter;
        required += c.padBefore + m + c.padAfter;
    }
    return required + childPadding * (n - 1);
}

}  // namespace stacklayout
