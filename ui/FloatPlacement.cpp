#include "ui/FloatPlacement.h"

#include "ui/DisplayScale.h"

namespace {

// One axis in design pixels: [lo, hi) from the anchor (the parent's near
// edge for a non-negative offset, its far edge otherwise).
struct Span {
    int lo, hi;
};

Span FromOffset(int offset, int size) { return offset >= 0 ? Span{offset, offset + size} : Span{offset - size, offset}; }

}  // namespace

FloatPlacement PlaceFloat(const RECT& parent, POINT offset, int width, int height,
                          const CControlUI::RelativePos& rel, int dpi) {
    FloatPlacement out;
    Span x = FromOffset(offset.x, width), y = FromOffset(offset.y, height);
    out.parentSize = SIZE{dpi::Unscale(parent.right - parent.left, dpi), dpi::Unscale(parent.bottom - parent.top, dpi)};
    if (rel.enabled && rel.parentSize.cx != 0) {
        const int dx = out.parentSize.cx - rel.parentSize.cx, dy = out.parentSize.cy - rel.parentSize.cy;
        x.lo += dx * rel.moveX / 100;
        y.lo += dy * rel.moveY / 100;
        x.hi = x.lo + width + dx * rel.zoomX / 100;
        y.hi = y.lo + height + dy * rel.zoomY / 100;
        out.moved = true;
        out.offset = POINT{offset.x < 0 ? x.hi : x.lo, offset.y < 0 ? y.hi : y.lo};
        out.size = SIZE{x.hi - x.lo, y.hi - y.lo};
    }
    const int ax = offset.x >= 0 ? parent.left : parent.right;
    const int ay = offset.y >= 0 ? parent.top : parent.bottom;
    out.rect = RECT{ax + dpi::Scale(x.lo, dpi), ay + dpi::Scale(y.lo, dpi), ax + dpi::Scale(x.hi, dpi),
                    ay + dpi::Scale(y.hi, dpi)};
    return out;
}
