// The window shadow: the computed bitmap, and a real layered window that
// follows its owner as it moves, resizes, hides and minimises.

#include <gtest/gtest.h>

#include <array>

#include "UiTestSupport.h"
#include "ui/VerticalLayout.h"
#include "ui/WndShadow.h"

namespace {

int AlphaOf(uint32_t px) { return static_cast<int>(px >> 24); }

// Left, top, width and height of the window on the screen.
using Box = std::array<LONG, 4>;
Box BoxOf(HWND hwnd) {
    RECT rc = {};
    GetWindowRect(hwnd, &rc);
    return Box{rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top};
}

CControlUI* Shadowed(CPaintHostUI& host) {
    host.SetShadow(true);
    return new CVerticalLayoutUI;
}

}  // namespace

TEST(Shadow, RingAlphasForFourteen) {
    EXPECT_EQ((std::vector<int>{0, 1, 3, 6, 11, 18, 27, 38, 51, 66, 84, 103, 124, 146}), CWndShadow::RingAlphas(14));
    EXPECT_TRUE(CWndShadow::RingAlphas(0).empty());
}

TEST(Shadow, BitmapIsDarkerAtTheSidesAndEmptyInside) {
    const int n = 14, w = 568, h = 383;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h, 0u);
    CWndShadow::DrawShadow(px.data(), w, h, n, 0x505050);
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * w + x]; };
    // Innermost ring (t = 13, base alpha 146) in the middle of each edge.
    EXPECT_EQ(146 * 46 / 100, AlphaOf(at(13, h / 2)));          // left: 67
    EXPECT_EQ(AlphaOf(at(13, h / 2)), AlphaOf(at(w - 14, h / 2)));  // right mirrors left
    EXPECT_EQ(29, AlphaOf(at(w / 2, 13)));                       // top: 146 * 0.2
    EXPECT_EQ(67, AlphaOf(at(w / 2, h - 2 - 13)));               // bottom as dark as the sides
    // Premultiplied grey.
    const uint32_t side = at(13, h / 2);
    EXPECT_EQ(0x50u * 67 / 255, side & 0xFF);
    EXPECT_EQ(side & 0xFF, (side >> 8) & 0xFF);
    // Covered by the owner, the last row, and the outermost ring (alpha 0).
    EXPECT_EQ(0u, at(w / 2, h / 2));
    EXPECT_EQ(0u, at(w / 2, h - 1));
    EXPECT_EQ(0, AlphaOf(at(0, h / 2)));
    // Fading towards the corners.
    EXPECT_LT(AlphaOf(at(13, 14)), AlphaOf(at(13, h / 2)));
    EXPECT_LT(AlphaOf(at(20, 13)), AlphaOf(at(w / 2, 13)));
    // Tiny sizes do not write outside the buffer.
    std::vector<uint32_t> tiny(4, 0u);
    CWndShadow::DrawShadow(tiny.data(), 2, 2, 14, 0x505050);
}

TEST(Shadow, FollowsItsOwner) {
    uitest::TestWindow w(Shadowed);
    HWND owner = w.CreateAt(100, 100, 540, 355);
    ASSERT_NE(nullptr, owner);
    CWndShadow* shadow = CWndShadow::FromOwner(owner);
    ASSERT_NE(nullptr, shadow) << "UpdateLayeredWindow missing?";
    HWND sw = shadow->GetHWND();
    ASSERT_TRUE(IsWindow(sw));
    wchar_t cls[32] = {};
    GetClassNameW(sw, cls, 32);
    EXPECT_STREQ(L"OvShadowWnd", cls);
    EXPECT_EQ(static_cast<LONG>(WS_EX_LAYERED | WS_EX_TRANSPARENT),
              GetWindowLongW(sw, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT));
    EXPECT_EQ(owner, GetWindow(sw, GW_OWNER));

    uitest::PumpPending();
    EXPECT_TRUE(IsWindowVisible(sw));
    EXPECT_EQ((Box{86, 86, 568, 383}), BoxOf(sw));

    SetWindowPos(owner, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    uitest::PumpPending();
    EXPECT_EQ((Box{186, 136, 568, 383}), BoxOf(sw));

    // Shrinking redraws at once; growing on the next paint.
    SetWindowPos(owner, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    uitest::PumpPending();
    EXPECT_EQ((Box{186, 136, 428, 328}), BoxOf(sw));
    SetWindowPos(owner, nullptr, 0, 0, 500, 320, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(owner, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::PumpPending();
    EXPECT_EQ((Box{186, 136, 528, 348}), BoxOf(sw));

    ShowWindow(owner, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(sw));
    ShowWindow(owner, SW_SHOWNOACTIVATE);
    RedrawWindow(owner, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::PumpPending();
    EXPECT_TRUE(IsWindowVisible(sw));

    ShowWindow(owner, SW_MINIMIZE);
    uitest::PumpPending();
    EXPECT_FALSE(IsWindowVisible(sw));
    ShowWindow(owner, SW_RESTORE);
    uitest::PumpPending();
    EXPECT_TRUE(IsWindowVisible(sw));

    DestroyWindow(owner);
    uitest::PumpPending();
    EXPECT_FALSE(IsWindow(sw));
    EXPECT_EQ(nullptr, CWndShadow::FromOwner(owner));
}

TEST(Shadow, DrawnOnlyAfterItsOwnerHasPainted) {
    // Drawing the shadow costs a full-size bitmap: it must never hold up the
    // owner's first frame, so it follows the owner's paint.
    uitest::TestWindow w(Shadowed);
    HWND owner = w.CreateAt(100, 100, 300, 200);  // shown and painted
    ASSERT_NE(nullptr, owner);
    CWndShadow* shadow = CWndShadow::FromOwner(owner);
    ASSERT_NE(nullptr, shadow);
    HWND sw = shadow->GetHWND();
    EXPECT_FALSE(IsWindowVisible(sw));
    uitest::PumpPending();
    EXPECT_TRUE(IsWindowVisible(sw));

    ShowWindow(owner, SW_HIDE);
    ShowWindow(owner, SW_SHOWNOACTIVATE);
    EXPECT_FALSE(IsWindowVisible(sw)) << "shown again: still after the owner's paint";
    RedrawWindow(owner, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::PumpPending();
    EXPECT_TRUE(IsWindowVisible(sw));
    DestroyWindow(owner);
    uitest::PumpPending();
}

TEST(Shadow, NotCreatedUnlessTheLayoutAsks) {
    uitest::TestWindow w([](CPaintHostUI& host) {
        host.SetShadow(true);
        host.SetSelfShadow(true);  // drawn inside the window instead
        return new CVerticalLayoutUI;
    });
    HWND owner = w.CreateAt(10, 10, 100, 100);
    ASSERT_NE(nullptr, owner);
    EXPECT_EQ(nullptr, CWndShadow::FromOwner(owner));
    DestroyWindow(owner);
    uitest::PumpPending();
}
