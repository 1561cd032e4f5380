// Attribute parsing and the control model: what the layout builder will feed
// to SetProperty and how visibility, focus and enabled state propagate.

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/Container.h"
#include "ui/PaintHost.h"
#include "ui/UIAttr.h"
#include "ui/VerticalLayout.h"

using uitest::ProbeControl;

TEST(UiAttr, ColoursWithAndWithoutHashAreTheSame) {
    struct Case {
        const wchar_t* text;
        DWORD expected;
    } cases[] = {
        {L"#FFFFFFFF", 0xFFFFFFFF}, {L"ffffffff", 0xFFFFFFFF}, {L"  #ff444343", 0xFF444343},
        {L"#00C0C0C0", 0x00C0C0C0}, {L"", 0},                  {L"zz", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, uiattr::ParseColor(c.text)) << c.text;
}

TEST(UiAttr, BooleansAreTrueOnlyForExactTrue) {
    EXPECT_TRUE(uiattr::ParseBool(L"true"));
    for (const wchar_t* no : {L"True", L"TRUE", L"1", L"yes", L"", L"true "}) EXPECT_FALSE(uiattr::ParseBool(no)) << no;
}

TEST(UiAttr, ListsAndAttributeLists) {
    RECT rc = uiattr::ParseRect(L"-110,20,-10,60");
    EXPECT_EQ(-110, rc.left);
    EXPECT_EQ(60, rc.bottom);
    int v[4];
    EXPECT_EQ(2, uiattr::ParseList(L"5,6", v, 4));  // missing numbers stay 0
    EXPECT_EQ(0, v[3]);
    auto attrs = uiattr::ParseAttributeList(L"width=\"10\" bkimage='file=\"x\"'  name=\"a b\"");
    ASSERT_EQ(3u, attrs.size());
    EXPECT_EQ(L"file=\"x\"", attrs[1].second);
    EXPECT_EQ(L"a b", attrs[2].second);
    EXPECT_TRUE(uiattr::ParseAttributeList(L"broken").empty());
}

TEST(ControlModel, PosGivesOffsetAndFixedSize) {
    CControlUI c;
    c.SetProperty(L"float", L"true");
    c.SetProperty(L"pos", L"10,20,110,60");
    EXPECT_EQ(10, c.GetFloatOffset().x);
    EXPECT_EQ(20, c.GetFloatOffset().y);
    EXPECT_EQ(100, c.GetFixedWidth());
    EXPECT_EQ(40, c.GetFixedHeight());
    c.SetProperty(L"pos", L"-110,20,-10,60");
    EXPECT_EQ(-10, c.GetFloatOffset().x);
    EXPECT_EQ(100, c.GetFixedWidth());
}

TEST(ControlModel, SizeSettersIgnoreNegativeAndRepeatedValues) {
    CPaintHostUI host;
    auto* root = new CVerticalLayoutUI;
    auto* child = new CControlUI;
    root->Add(child);
    host.AttachRoot(root);
    host.UpdateLayout();
    ASSERT_FALSE(host.IsLayoutNeeded());

    child->SetProperty(L"width", L"30");
    child->SetProperty(L"width", L"-1");
    child->SetProperty(L"height", L"-5");
    EXPECT_EQ(30, child->GetFixedWidth());
    EXPECT_EQ(0, child->GetFixedHeight());

    child->SetProperty(L"maxheight", L"50");
    host.UpdateLayout();
    child->SetProperty(L"maxheight", L"50");  // unchanged: no layout request
    child->SetProperty(L"minwidth", L"-3");   // negative: ignored, no request
    EXPECT_FALSE(host.IsLayoutNeeded());
    EXPECT_EQ(50, child->GetMaxHeight());
    EXPECT_EQ(0, child->GetMinWidth());
}

TEST(ControlModel, AttributesReachTheirFields) {
    CControlUI c;
    c.SetProperty(L"bkcolor", L"#FF102030");
    c.SetProperty(L"bordercolor", L"00C0C0C0");
    c.SetProperty(L"bordersize", L"1,2,3,4");
    c.SetProperty(L"visible", L"True");
    c.SetProperty(L"tooltip", L"a<n>b");
    c.SetProperty(L"name", L"ctl");
    c.SetProperty(L"no-such-attribute", L"1");
    EXPECT_EQ(0xFF102030u, c.GetBkColor());
    EXPECT_EQ(0x00C0C0C0u, c.GetBorderColor());
    EXPECT_EQ(3, c.GetBorderSides().right);
    EXPECT_FALSE(c.IsVisible());
    EXPECT_EQ(L"a\r\nb", c.GetToolTip());
    EXPECT_EQ(L"ctl", c.GetName());
    c.SetProperty(L"bordersize", L"2");  // a single size resets the sides
    EXPECT_EQ(2, c.GetBorderSize());
    EXPECT_EQ(0, c.GetBorderSides().left);
}

TEST(ControlModel, HidingTheFocusedControlClearsTheManagersFocus) {
    CPaintHostUI host;
    auto* root = new CVerticalLayoutUI;
    auto* a = new ProbeControl;
    root->Add(a);
    host.AttachRoot(root);
    host.SetFocus(a);
    ASSERT_EQ(a, host.GetFocus());
    EXPECT_TRUE(a->IsFocused());
    a->SetVisible(false);
    EXPECT_EQ(nullptr, host.GetFocus());
    EXPECT_FALSE(a->IsFocused());

    // Hiding an ancestor clears it too.
    a->SetVisible(true);
    host.SetFocus(a);
    root->SetVisible(false);
    EXPECT_FALSE(a->IsVisible());
    EXPECT_EQ(nullptr, host.GetFocus());
}

TEST(ControlModel, IsEnabledLooksAtEveryAncestor) {
    CVerticalLayoutUI outer;
    outer.SetAutoDestroy(true);
    auto* middle = new CContainerUI;
    auto* leaf = new CControlUI;
    middle->Add(leaf);
    outer.Add(middle);
    EXPECT_TRUE(leaf->IsEnabled());
    outer.SetEnabled(false);
    EXPECT_FALSE(leaf->IsEnabled());
    EXPECT_FALSE(middle->IsEnabled());
    outer.SetEnabled(true);
    middle->SetProperty(L"enabled", L"false");
    EXPECT_FALSE(leaf->IsEnabled());
    EXPECT_TRUE(outer.IsEnabled());
}

TEST(ControlModel, InterfacesFallBackToTheBase) {
    CVerticalLayoutUI v;
    EXPECT_EQ(static_cast<void*>(&v), v.AsInterface(L"VerticalLayout"));
    EXPECT_NE(nullptr, v.AsInterface(L"Container"));
    EXPECT_NE(nullptr, v.AsInterface(L"IContainer"));
    EXPECT_NE(nullptr, v.AsInterface(L"Control"));
    EXPECT_EQ(nullptr, v.AsInterface(L"TabLayout"));
    EXPECT_STREQ(L"VerticalLayoutUI", v.ClassName());
}

TEST(ControlModel, NamesAreRegisteredAndForgottenWithTheControl) {
    CPaintHostUI host;
    auto* root = new CVerticalLayoutUI;
    auto* a = new CControlUI;
    a->SetName(L"a");
    root->Add(a);
    host.AttachRoot(root);
    EXPECT_EQ(a, host.FindByName(L"a"));
    root->SetDelayedDestroy(false);
    root->Remove(a);
    EXPECT_EQ(nullptr, host.FindByName(L"a"));
}

namespace {
struct Counted : CControlUI {
    explicit Counted(int* deleted) : deleted_(deleted) {}
    ~Counted() override { ++*deleted_; }
    int* deleted_;
};
}  // namespace

TEST(ControlModel, NestedTreesAreFreedWithTheHostAndAfterRemoval) {
    int deleted = 0;
    {
        CPaintHostUI host;
        auto* root = new CVerticalLayoutUI;
        auto* inner = new CContainerUI;
        auto* deeper = new CContainerUI;
        deeper->Add(new Counted(&deleted));
        inner->Add(new Counted(&deleted));
        inner->Add(deeper);
        root->Add(inner);
        root->Add(new Counted(&deleted));
        host.AttachRoot(root);
        // Removing a subtree queues it for delayed cleanup.
        root->Remove(inner);
        EXPECT_EQ(0, deleted);
    }
    EXPECT_EQ(3, deleted);
}
