// The display scale's arithmetic on plain numbers and rectangles: the one
// rounding rule, and floating controls placed edge by edge so that controls
// that touch in the markup still touch at every scale.

#include <gtest/gtest.h>

#include "ui/DisplayScale.h"
#include "ui/FloatPlacement.h"

TEST(DisplayScale, RoundsHalfAwayFromZeroAndInvertsAboveDesignDpi) {
    struct Case {
        int v, dpi, want;
    } const cases[] = {
        {540, 96, 540}, {540, 120, 675}, {355, 120, 444}, {355, 144, 533}, {355, 192, 710},
        {1, 144, 2},    {3, 120, 4},     {-1, 144, -2},   {-10, 120, -13}, {0, 168, 0},
        {2, 72, 2},     {1, 72, 1},      {-2, 72, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, dpi::Scale(c.v, c.dpi)) << c.v << " at " << c.dpi;
        if (c.dpi >= 96) {
            EXPECT_EQ(c.v, dpi::Unscale(c.want, c.dpi)) << c.v << " at " << c.dpi;
        }
    }
    EXPECT_EQ(3, dpi::Convert(6, 192, 96));  // a 2x bitmap's pixels in design pixels
    EXPECT_EQ(9, dpi::Convert(6, 96, 144));
}

TEST(DisplayScale, FloatsKeepTheirEdgesAndTheirNeighbours) {
    const CControlUI::RelativePos none;
    const RECT parent = {10, 20, 10 + 675, 20 + 444};  // 540 x 355 at 120 dpi
    struct Case {
        POINT offset;
        int w, h, dpi;
        RECT want;
    } const cases[] = {
        // Left/top anchored: parent origin + scaled edges (2 px apart at 510/512).
        {{485, 1}, 25, 23, 120, {10 + 606, 20 + 1, 10 + 638, 20 + 30}},
        {{512, 1}, 25, 23, 120, {10 + 640, 20 + 1, 10 + 671, 20 + 30}},
        // Right/bottom anchored: measured from the far edges.
        {{-10, -5}, 100, 20, 120, {685 - 138, 464 - 31, 685 - 13, 464 - 6}},
        // 96 dpi is the markup as it stands.
        {{177, 237}, 184, 44, 96, {187, 257, 371, 301}},
    };
    for (const Case& c : cases) {
        const RECT p = c.dpi == 96 ? RECT{10, 20, 550, 375} : parent;
        const FloatPlacement got = PlaceFloat(p, c.offset, c.w, c.h, none, c.dpi);
        EXPECT_TRUE(EqualRect(&got.rect, &c.want))
            << c.offset.x << "," << c.offset.y << ": " << got.rect.left << "," << got.rect.top << ","
            << got.rect.right << "," << got.rect.bottom;
        EXPECT_FALSE(got.moved);
    }
}

TEST(DisplayScale, RelativeFloatsMoveInDesignPixels) {
    CControlUI::RelativePos rel;
    rel.enabled = true;
    rel.parentSize = SIZE{500, 300};
    rel.moveX = 100;
    rel.zoomY = 50;
    // The parent grew by 40 x 20 design pixels (here shown at 144 dpi).
    const FloatPlacement got = PlaceFloat(RECT{0, 0, 810, 480}, POINT{10, 10}, 50, 20, rel, 144);
    EXPECT_TRUE(got.moved);
    EXPECT_EQ(540, got.parentSize.cx);
    EXPECT_EQ(50, got.offset.x);
    EXPECT_EQ(30, got.size.cy);
    const RECT want = {75, 15, 150, 60};
    EXPECT_TRUE(EqualRect(&got.rect, &want));
}
