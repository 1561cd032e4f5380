// Containers and layouts: floating placement, stretch shares, clamping,
// paddings and tab selection, all on plain control trees.

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/HorizontalLayout.h"
#include "ui/PaintHost.h"
#include "ui/StackLayout.h"
#include "ui/TabLayout.h"
#include "ui/VerticalLayout.h"

namespace {

// A manager without a window: layout runs over initSize.
struct Host {
    CPaintHostUI host;
    explicit Host(CControlUI* root, int cx = 800, int cy = 600) {
        host.SetInitSize(cx, cy);
        host.AttachRoot(root);
        host.UpdateLayout();
    }
};

CControlUI* Child(int fixedHeight = 0, int fixedWidth = 0) {
    auto* c = new CControlUI;
    if (fixedHeight) c->SetFixedHeight(fixedHeight);
    if (fixedWidth) c->SetFixedWidth(fixedWidth);
    return c;
}

// A new T placed by "pos" instead of by its parent's layout.
template <typename T = CControlUI>
T* Floating(const wchar_t* pos) {
    auto* c = new T;
    c->SetProperty(L"float", L"true");
    c->SetProperty(L"pos", pos);
    return c;
}

template <typename T>
T* Of(T* parent, std::initializer_list<CControlUI*> children) {
    for (CControlUI* c : children) parent->Add(c);
    return parent;
}

void ExpectRect(const RECT& rc, int l, int t, int r, int b) {
    EXPECT_EQ(l, rc.left);
    EXPECT_EQ(t, rc.top);
    EXPECT_EQ(r, rc.right);
    EXPECT_EQ(b, rc.bottom);
}

}  // namespace

TEST(Layout, FloatingChildrenWithPositiveAndNegativeOffsets) {
    auto* a = Floating(L"10,20,110,60");
    auto* b = Floating(L"-110,20,-10,60");
    auto* c = Floating(L"-110,-60,-10,-20");
    auto* layout = Of(Floating<CVerticalLayoutUI>(L"100,100,700,500"), {a, b, c});
    Host h(Of(new CContainerUI, {layout}));
    ExpectRect(layout->GetPosition(), 100, 100, 700, 500);
    ExpectRect(a->GetPosition(), 110, 120, 210, 160);
    ExpectRect(b->GetPosition(), 590, 120, 690, 160);
    ExpectRect(c->GetPosition(), 590, 440, 690, 480);
    // Laid out again, the recorded offsets stay what "pos" said.
    EXPECT_EQ(-10, b->GetFloatOffset().x);
    EXPECT_EQ(-20, c->GetFloatOffset().y);
    // Resized, a floating control keeps the new size.
    a->SetFixedWidth(80);
    h.host.UpdateLayout();
    ExpectRect(a->GetPosition(), 110, 120, 190, 160);
    EXPECT_EQ(80, a->GetFixedWidth());
}

TEST(Layout, RelativePlacementFollowsTheParentSize) {
    auto* a = Floating(L"10,10,60,30");
    a->SetProperty(L"relativepos", L"100,50,0,100");
    auto* root = Of(new CContainerUI, {a});
    Host h(root, 400, 300);
    ExpectRect(a->GetPosition(), 10, 10, 60, 30);
    // The first placement records the parent size; grow the parent by 100×60.
    root->SetPosition(RECT{0, 0, 500, 360});
    // moveX 100% of 100, moveY 50% of 60, zoomY 100% of 60.
    ExpectRect(a->GetPosition(), 110, 40, 160, 120);
}

TEST(Layout, VerticalStretchSharesAndOddRemainder) {
    for (int height : {200, 201}) {
        auto* s1 = Child();
        auto* f = Child(40);
        auto* s2 = Child();
        Host h(Of(new CVerticalLayoutUI, {s1, f, s2}), 100, height);
        EXPECT_EQ(80, s1->GetHeight());
        EXPECT_EQ(40, f->GetHeight());
        EXPECT_EQ(height - 120, s2->GetHeight());  // the last share takes the odd pixel
        EXPECT_EQ(height, s2->GetPosition().bottom);
        EXPECT_EQ(100, f->GetWidth());
    }
}

TEST(Layout, VerticalClampsPadsAndFillsToTheEnd) {
    auto* clamped = Child();
    clamped->SetMaxHeight(50);
    auto* after = Child(40);
    Host one(Of(new CVerticalLayoutUI, {clamped, after}), 100, 200);
    ExpectRect(clamped->GetPosition(), 0, 0, 100, 50);
    ExpectRect(after->GetPosition(), 0, 50, 100, 90);  // the rest stays empty

    // The bottom padding lies inside the rectangle: 30 high + 5 below.
    auto* padded = Child(30);
    padded->SetPadding(RECT{4, 2, 6, 5});
    auto* next = Child(10);
    Host two(Of(new CVerticalLayoutUI, {padded, next}), 100, 200);
    ExpectRect(padded->GetPosition(), 4, 2, 94, 37);
    EXPECT_EQ(37, next->GetPosition().top);

    // The last stretchable child fills to the end after the child padding.
    auto* root = new CVerticalLayoutUI;
    root->SetChildPadding(10);
    auto* fixed = Child(40);
    auto* last = Child();
    Host three(Of(root, {fixed, last}), 100, 200);
    ExpectRect(fixed->GetPosition(), 0, 0, 100, 40);
    ExpectRect(last->GetPosition(), 0, 50, 100, 200);
}

TEST(Layout, HorizontalMirrorsVertical) {
    auto* root = new CHorizontalLayoutUI;
    root->SetInset(RECT{5, 5, 5, 5});
    auto* s1 = Child();
    auto* f = Child(0, 40);
    auto* s2 = Child(20);
    s2->SetPadding(RECT{0, 3, 2, 0});
    Host h(Of(root, {s1, f, s2}), 211, 100);
    // 201 wide inside the inset: 40 fixed, 2 padding, 159 shared as 79 + 80.
    ExpectRect(s1->GetPosition(), 5, 5, 84, 95);
    ExpectRect(f->GetPosition(), 84, 5, 124, 95);
    ExpectRect(s2->GetPosition(), 124, 8, 206, 28);
}

TEST(Layout, ArrangeGivesNothingNegative) {
    std::vector<stacklayout::Child> kids(3);
    kids[0].measured = 150;
    kids[1].measured = 150;
    stacklayout::Arrange(kids, 200, 50, 0);
    EXPECT_EQ(0, kids[2].size);
    EXPECT_EQ(300, kids[2].pos);
}

namespace {
struct TabRecorder : INotifyUI {
    std::vector<std::pair<WPARAM, LPARAM>> seen;
    void Notify(TNotifyRecord& msg) override {
        if (msg.type == L"tabselect") seen.emplace_back(msg.wParam, msg.lParam);
    }
};
}  // namespace

TEST(Layout, TabSelectRulesAndNotification) {
    auto* p0 = Child();
    auto* p1 = Child();
    auto* p2 = Child();
    auto* tab = Of(new CTabLayoutUI, {p0, p1, p2});
    Host h(tab, 300, 200);
    TabRecorder rec;
    h.host.AddNotifier(&rec);
    EXPECT_EQ(0, tab->GetCurSel());
    EXPECT_TRUE(p0->IsVisible());
    EXPECT_FALSE(p1->IsVisible());
    ExpectRect(p0->GetPosition(), 0, 0, 300, 200);

    EXPECT_TRUE(tab->Select(0));  // current page: no notification
    EXPECT_TRUE(rec.seen.empty());
    EXPECT_FALSE(tab->Select(3));
    EXPECT_FALSE(tab->Select(-1));
    EXPECT_TRUE(tab->Select(2));
    ASSERT_EQ(1u, rec.seen.size());
    EXPECT_EQ(2u, rec.seen[0].first);
    EXPECT_EQ(0, rec.seen[0].second);
    EXPECT_FALSE(p0->IsVisible());
    EXPECT_TRUE(p2->IsVisible());
    ExpectRect(p2->GetPosition(), 0, 0, 300, 200);

    // A page inserted at the selection's place goes in front of it: the
    // selection shifts with its page, and the new one stays hidden.
    auto* early = Child();
    tab->AddAt(early, 2);
    EXPECT_EQ(3, tab->GetCurSel());
    EXPECT_EQ(p2, tab->GetItemAt(tab->GetCurSel()));
    EXPECT_FALSE(early->IsVisible());
    // Removing the selected page selects page 0.
    tab->SetDelayedDestroy(false);
    tab->Remove(p2);
    EXPECT_EQ(0, tab->GetCurSel());
    EXPECT_TRUE(p0->IsVisible());
    // Removing a page before the selection keeps the same page selected.
    ASSERT_TRUE(tab->Select(2));
    tab->RemoveAt(0);
    EXPECT_EQ(1, tab->GetCurSel());
    EXPECT_EQ(early, tab->GetItemAt(tab->GetCurSel()));
    tab->SetProperty(L"selectedid", L"0");
    EXPECT_EQ(0, tab->GetCurSel());
    h.host.RemoveNotifier(&rec);
}

TEST(Layout, HitTestsPreferTheTopmostChildAndHonourTheInset) {
    auto* under = new uitest::ProbeControl;
    auto* over = new uitest::ProbeControl;
    auto* floating = Floating<uitest::ProbeControl>(L"0,0,5,5");
    auto* root = Of(new CContainerUI, {under, over, floating});
    root->SetInset(RECT{10, 10, 10, 10});
    Host h(root, 100, 100);
    EXPECT_EQ(over, h.host.FindControl(POINT{50, 50}));
    EXPECT_EQ(floating, h.host.FindControl(POINT{2, 2}));  // floating may cover the inset
    EXPECT_EQ(root, h.host.FindControl(POINT{7, 50}));
    over->SetMouseEnabled(false);
    EXPECT_EQ(under, h.host.FindControl(POINT{50, 50}));
}
