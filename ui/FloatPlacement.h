#pragma once
// Where a floating child goes: its markup offset and size (design pixels,
// from the parent's left/top edge, or from its right/bottom edge when the
// offset is negative) placed in the parent's rectangle (window pixels) at
// the window's dpi. Each edge is scaled from the anchor it is measured
// from, so floats that touch in the markup touch on the screen at any
// scale. Plain numbers; no window.

#include <windows.h>

#include "ui/Control.h"

struct FloatPlacement {
    RECT rect = {0, 0, 0, 0};  // window pixels
    // The relative rules' result in design pixels (what the control keeps).
    bool moved = false;
    POINT offset = {0, 0};
    SIZE size = {0, 0};
    SIZE parentSize = {0, 0};  // the parent in design pixels
};

FloatPlacement PlaceFloat(const RECT& parent, POINT offset, int width, int height,
                          const CControlUI::RelativePos& rel, int dpi);
