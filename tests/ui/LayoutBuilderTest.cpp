// The dialog builder on small documents: declarations, window attributes,
// defaults, "Include", the class table and its fall-backs, and damaged
// documents that must build or fail without crashing or hanging.

#include <gtest/gtest.h>

#include <memory>
#include <cstdio>
#include <random>
#include <string>

#include "UiTestSupport.h"
#include "campaign/Mutators.h"
#include "support/TestSupport.h"
#include "ui/Container.h"
#include "ui/LayoutBuilder.h"
#include "ui/PaintHost.h"
#include "ui/SkinResources.h"

namespace {

// Keeps the process-wide skin source of the other suites intact.
class SkinStateGuard {
public:
    SkinStateGuard() : path_(CSkinResources::ResourcePath()), zip_(CSkinResources::ResourceZip()) {}
    ~SkinStateGuard() {
        CSkinResources::SetResourcePath(path_);
        if (zip_ == L"membuffer")
            CSkinResources::SetResourceZipFromCopy();
        else
            CSkinResources::SetResourceZip(zip_);
    }

private:
    std::wstring path_, zip_;
};

std::unique_ptr<CControlUI> Build(const std::wstring& text, CPaintHostUI* host = nullptr,
                                  IDialogBuilderCallback* callback = nullptr) {
    CLayoutBuilder builder;
    return std::unique_ptr<CControlUI>(builder.Create(text.c_str(), nullptr, callback, host));
}

IContainerUI* AsContainer(CControlUI* c) { return static_cast<IContainerUI*>(c->AsInterface(L"IContainer")); }

struct CountingCallback : IDialogBuilderCallback {
    CControlUI* CreateCustomControl(const wchar_t* className) override {
        asked.push_back(className);
        return std::wstring(className) == L"Custom" || std::wstring(className) == L"Slider" ? new CContainerUI
                                                                                             : nullptr;
    }
    std::vector<std::wstring> asked;
};

}  // namespace

TEST(LayoutBuilder, FontsAreNumberedOnlyWhenNamedAndDefaultReplacesTheDefaultFont) {
    CPaintHostUI host;
    auto root = Build(
        L"<Window><Font size=\"20\" default=\"true\"/><Font name=\"Arial\" size=\"9\"/>"
        L"<Font name=\"Tahoma\" bold=\"true\" default=\"true\"/><Control/></Window>",
        &host);
    ASSERT_TRUE(root);
    ASSERT_EQ(2, host.GetFontCount());
    EXPECT_EQ(L"Arial", host.GetFontInfo(0)->name);
    EXPECT_EQ(9, host.GetFontInfo(0)->size);
    EXPECT_EQ(L"Tahoma", host.GetFontInfo(1)->name);
    EXPECT_EQ(12, host.GetFontInfo(1)->size);  // size defaults to 12
    EXPECT_TRUE(host.GetFontInfo(1)->bold);
    EXPECT_EQ(L"Tahoma", host.GetDefaultFontInfo()->name);
}

TEST(LayoutBuilder, DefaultAttributesApplyByElementNameAndExplicitAttributesWin) {
    CPaintHostUI host;
    auto root = Build(
        L"<Window><Default name=\"Control\" value=\"height=&quot;33&quot; name=&quot;d&quot;\"/>"
        L"<VerticalLayout><Control/><Control height=\"10\" name=\"own\"/><Container/></VerticalLayout></Window>",
        &host);
    ASSERT_TRUE(root);
    IContainerUI* list = AsContainer(root.get());
    ASSERT_EQ(3, list->GetCount());
    EXPECT_EQ(33, list->GetItemAt(0)->GetFixedHeight());
    EXPECT_EQ(L"d", list->GetItemAt(0)->GetName());
    EXPECT_EQ(10, list->GetItemAt(1)->GetFixedHeight());
    EXPECT_EQ(L"own", list->GetItemAt(1)->GetName());
    EXPECT_EQ(0, list->GetItemAt(2)->GetFixedHeight());  // another class: no defaults
    // Attached only while attributes were applied.
    EXPECT_EQ(nullptr, list->GetItemAt(0)->GetManager());
    EXPECT_EQ(root.get(), list->GetItemAt(0)->GetParent());
}

TEST(LayoutBuilder, IncludeRepeatsItsSourceCountTimes) {
    const struct {
        const wchar_t* count;  // null: attribute absent
        int children;
    } cases[] = {{nullptr, 1}, {L"0", 0}, {L"-2", 0}, {L"3", 3}};
    for (const auto& c : cases) {
        std::wstring text = L"<Window><VerticalLayout><Include source=\"&lt;Window&gt;&lt;Control/&gt;&lt;/Window&gt;\"";
        if (c.count) text += std::wstring(L" count=\"") + c.count + L"\"";
        text += L"/></VerticalLayout></Window>";
        auto root = Build(text);
        ASSERT_TRUE(root);
        EXPECT_EQ(c.children, AsContainer(root.get())->GetCount()) << (c.count ? c.count : L"(none)");
    }
}

TEST(LayoutBuilder, FromFilesASelfIncludingDocumentStopsAtTheNestingLimitAndAMissingOneFails) {
    SkinStateGuard guard;
    testsupport::TempDir dir;
    ASSERT_TRUE(uitest::WriteFileBytes(dir / L"self.xml",
                                       "<Window><VerticalLayout><Include source=\"self.xml\" count=\"2\"/>"
                                       "</VerticalLayout></Window>"));
    CSkinResources::SetResourceZip(L"");
    CSkinResources::SetResourcePath(dir.Path());
    CLayoutBuilder builder;
    std::unique_ptr<CControlUI> root(builder.Create(L"self.xml"));
    ASSERT_TRUE(root);
    int depth = 0;
    for (CControlUI* c = root.get(); c; c = AsContainer(c)->GetItemAt(0)) ++depth;
    EXPECT_EQ(1 + CLayoutBuilder::kMaxIncludeDepth, depth);

    // A file that is not there: the reader's message.
    CLayoutBuilder missing;
    EXPECT_EQ(nullptr, missing.Create(L"nothere.xml"));
    EXPECT_EQ(L"Error opening file", missing.GetLastErrorMessage());
}

TEST(LayoutBuilder, The65thAttributeIsInvisible) {
    for (int before : {63, 64}) {
        std::wstring text = L"<Window><Control";
        for (int i = 0; i < before; ++i) text += L" a" + std::to_wstring(i) + L"=\"1\"";
        text += L" name=\"late\"/></Window>";
        auto root = Build(text);
        ASSERT_TRUE(root);
        EXPECT_EQ(before == 63 ? L"late" : L"", root->GetName()) << before;
    }
}

TEST(LayoutBuilder, UnknownClassesGoToTheCallbackOrAreSkippedWithTheirSubtree) {
    CountingCallback callback;
    auto root = Build(
        L"<Window><VerticalLayout><Custom name=\"c\"><Control name=\"in\"/></Custom>"
        L"<Nothing><Control name=\"lost\"/></Nothing><Slider/><TreeNode/><Control name=\"after\"/>"
        L"</VerticalLayout></Window>",
        nullptr, &callback);
    ASSERT_TRUE(root);
    IContainerUI* list = AsContainer(root.get());
    ASSERT_EQ(3, list->GetCount());
    EXPECT_EQ(L"c", list->GetItemAt(0)->GetName());
    EXPECT_EQ(1, AsContainer(list->GetItemAt(0))->GetCount());
    EXPECT_EQ(L"after", list->GetItemAt(2)->GetName());
    EXPECT_EQ((std::vector<std::wstring>{L"Custom", L"Nothing", L"Slider"}), callback.asked);
}

TEST(LayoutBuilder, ClassTableKnowsTheCoreClassesAndNamesExactly) {
    for (const wchar_t* name : {L"Control", L"Container", L"VerticalLayout", L"HorizontalLayout", L"TabLayout"}) {
        std::unique_ptr<CControlUI> c(CLayoutBuilder::CreateControlByClass(name));
        EXPECT_TRUE(c) << name;
    }
    for (const wchar_t* name : {L"control", L"TileLayout", L"WebBrowser", L"", L"Window"})
        EXPECT_EQ(nullptr, CLayoutBuilder::CreateControlByClass(name)) << name;
}

TEST(LayoutBuilder, ChildrenOfANonContainerAreDroppedAndAGivenNonContainerParentFails) {
    auto root = Build(L"<Window><Control name=\"leaf\"><Control name=\"child\"/></Control></Window>");
    ASSERT_TRUE(root);
    EXPECT_EQ(L"leaf", root->GetName());

    CControlUI leaf;
    CLayoutBuilder builder;
    EXPECT_EQ(nullptr, builder.Create(L"<Window><Control/></Window>", nullptr, nullptr, nullptr, &leaf));
}

TEST(LayoutBuilder, DeepNestingIsCutAtTheLimit) {
    std::wstring text = L"<Window>";
    for (int i = 0; i < 3 * CLayoutBuilder::kMaxNesting; ++i) text += L"<Container>";
    for (int i = 0; i < 3 * CLayoutBuilder::kMaxNesting; ++i) text += L"</Container>";
    text += L"</Window>";
    auto root = Build(text);
    ASSERT_TRUE(root);
    int depth = 0;
    for (CControlUI* c = root.get(); c; c = AsContainer(c)->GetItemAt(0)) ++depth;
    EXPECT_EQ(CLayoutBuilder::kMaxNesting, depth);
}

TEST(LayoutBuilder, WindowAttributesReachThePaintManager) {
    CLayoutBuilder builder;
    uitest::TestWindow window([&](CPaintHostUI& host) {
        return builder.Create(
            L"<Window size=\"300,200\" caption=\"0,0,0,35\" sizebox=\"1,2,3,4\" roundcorner=\"4,5\" "
            L"mininfo=\"100,90\" maxinfo=\"600,500\" shadow=\"true\" selfshadow=\"True\" shadowcorner=\"7,8\" "
            L"shadowborder=\"5,4,5,6\" shadowimage=\"s.png\" bktrans=\"false\" defaultfontcolor=\"#FF112233\" "
            L"disabledfontcolor=\"FF445566\" linkfontcolor=\"#ff0000aa\" linkhoverfontcolor=\"#ff0000bb\" "
            L"selectedcolor=\"#ff0000cc\" alpha=\"100\" sizegrip=\"1,1\"><Control/></Window>",
            nullptr, nullptr, &host);
    });
    ASSERT_TRUE(window.CreateAt(10, 10, 0, 0));
    CPaintHostUI& h = window.PaintHost();
    RECT rc;
    GetClientRect(window.GetHWND(), &rc);
    EXPECT_EQ(300, rc.right);
    EXPECT_EQ(200, rc.bottom);
    EXPECT_EQ(35, h.GetCaptionRect().bottom);
    EXPECT_EQ(3, h.GetSizeBox().right);
    EXPECT_EQ(5, h.GetRoundCorner().cy);
    EXPECT_EQ(90, h.GetMinInfo().cy);
    EXPECT_EQ(600, h.GetMaxInfo().cx);
    EXPECT_TRUE(h.IsShadow());
    EXPECT_FALSE(h.IsSelfShadow());  // booleans are exactly "true"
    EXPECT_EQ(8, h.GetShadowCorner().cy);
    EXPECT_EQ(6, h.GetShadowBorder().bottom);
    EXPECT_EQ(L"s.png", h.GetShadowImage());
    EXPECT_FALSE(h.IsLayered());
    EXPECT_EQ(0xFF112233u, h.GetDefaultFontColor());
    EXPECT_EQ(0xFF445566u, h.GetDefaultDisabledColor());
    EXPECT_EQ(0xFF0000AAu, h.GetDefaultLinkFontColor());
    EXPECT_EQ(0xFF0000BBu, h.GetDefaultLinkHoverFontColor());
    EXPECT_EQ(0xFF0000CCu, h.GetDefaultSelectedBkColor());
    DestroyWindow(window.GetHWND());
}

TEST(LayoutBuilder, RootNotCalledWindowOrNoWindowLeavesWindowPropertiesAlone) {
    CPaintHostUI windowless;
    auto a = Build(L"<Window caption=\"0,0,0,35\"><Control/></Window>", &windowless);
    ASSERT_TRUE(a);
    EXPECT_EQ(0, windowless.GetCaptionRect().bottom);

    CLayoutBuilder builder;
    uitest::TestWindow window([&](CPaintHostUI& host) {
        return builder.Create(L"<Dialog caption=\"0,0,0,35\"><Control/></Dialog>", nullptr, nullptr, &host);
    });
    ASSERT_TRUE(window.CreateAt(10, 10, 50, 50));
    EXPECT_EQ(0, window.PaintHost().GetCaptionRect().bottom);
    DestroyWindow(window.GetHWND());
}

// Seeded random damage to both real layouts: every document either builds or
// fails, within a bounded time, never crashing or hanging.
TEST(LayoutBuilder, MutatedLayoutsBuildOrFailWithoutCrashing) {
    SkinStateGuard guard;
    ASSERT_TRUE(CSkinResources::LoadArchiveCopyFromResource(GetModuleHandleW(nullptr), L"ZIPRES",
                                                            MAKEINTRESOURCEW(150)));
    ASSERT_TRUE(CSkinResources::SetResourceZipFromCopy());
    std::vector<std::string> seeds;
    for (const wchar_t* name : {L"InstallPackages.xml", L"MessageBox.xml"}) {
        std::vector<unsigned char> bytes;
        ASSERT_EQ(CSkinResources::kReadOk, CSkinResources::ReadZipEntry(name, bytes, CXmlDocument::kMaxFileBytes));
        seeds.emplace_back(bytes.begin(), bytes.end());
    }
    std::mt19937 rng(20240611u);
    const DWORD start = GetTickCount();
    int built = 0, runs = 0;
    for (; runs < 20000 && GetTickCount() - start < 8000; ++runs) {
        const std::string doc = campaign::MutateLayout(seeds[rng() % seeds.size()], rng);
        CPaintHostUI host;
        CLayoutBuilder builder;
        if (!builder.GetMarkup().LoadFromMemory(doc.data(), doc.size())) continue;
        std::unique_ptr<CControlUI> root(builder.Build(nullptr, &host));
        if (root) ++built;
    }
    std::printf("%d documents, %d built\n", runs, built);
    EXPECT_GE(runs, 1000);
    EXPECT_GT(built, runs / 20);
}
