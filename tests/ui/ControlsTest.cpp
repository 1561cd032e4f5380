// The skinned controls in a real window under real GDI: mouse messages go
// through the paint manager, drawings are read back pixel by pixel.

#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "UiTestSupport.h"
#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/Label.h"
#include "ui/Option.h"
#include "ui/Progress.h"
#include "ui/VerticalLayout.h"

using ctltest::Click;
using ctltest::Recorder;
using uitest::Surface;
using uitest::TestWindow;

namespace {

// A solid-colour PNG under the temporary folder, as an image description.
std::wstring SolidPng(const wchar_t* name, uint32_t rgba, int w = 40, int h = 20) {
    const std::wstring path = uitest::TempPath(name);
    uitest::WriteFileBytes(path, uitest::EncodePng(uitest::SolidImage(w, h, rgba)));
    return L"file='" + path + L"'";
}

// `name` in the skin folder, with more image attributes after it.
std::wstring SkinFile(const wchar_t* name, const wchar_t* more = L"") {
    return L"file='" + ctltest::SkinImage(name) + L"'" + more;
}

using Props = std::initializer_list<std::pair<const wchar_t*, std::wstring>>;

template <typename T>
T* Floating(const wchar_t* name, const wchar_t* pos, Props props = {}) {
    T* c = new T;
    c->SetProperty(L"name", name);
    c->SetProperty(L"float", L"true");
    c->SetProperty(L"pos", pos);
    for (const auto& p : props) c->SetProperty(p.first, p.second.c_str());
    return c;
}

// A window of the given controls, recording every notification.
struct Harness {
    explicit Harness(std::function<void(CVerticalLayoutUI*)> fill, int cx = 300, int cy = 200)
        : window([fill](CPaintHostUI&) {
              auto* root = new CVerticalLayoutUI;
              fill(root);
              return root;
          }) {
        hwnd = window.CreateAt(50, 50, cx, cy);
        if (hwnd) window.PaintHost().AddNotifier(&recorder);
    }
    ~Harness() {
        if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
        uitest::PumpPending();
    }
    template <typename T>
    T* Get(const wchar_t* name) {
        return static_cast<T*>(window.PaintHost().FindByName(name));
    }
    DWORD PixelAt(int x, int y) {
        Surface s(300, 200, 0x00000000);
        ctltest::PaintInto(window.PaintHost(), s);
        return s.Rgb(x, y);
    }
    TestWindow window;
    HWND hwnd = nullptr;
    Recorder recorder;
};

}  // namespace

TEST(Controls, AlignWordsAreSubstringTests) {
    struct Case {
        UINT start;
        const wchar_t* value;
        UINT expected;
    } cases[] = {
        {DT_VCENTER, L"center", DT_VCENTER | DT_CENTER},
        {DT_VCENTER, L"vcenter", DT_VCENTER | DT_CENTER | DT_SINGLELINE},  // "center" also found
        {DT_SINGLELINE | DT_CENTER | DT_VCENTER, L"left", 0},               // clears the single-line bit
        {DT_CENTER, L"right", DT_RIGHT},
        {DT_VCENTER, L"bottom", DT_BOTTOM | DT_SINGLELINE},
        {0, L"vleft", DT_VCENTER},  // "left" first, then "vleft"
        {DT_VCENTER, L"top", DT_SINGLELINE},
        {DT_VCENTER, L"nothing", DT_VCENTER},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ApplyAlignWords(c.start, c.value)) << c.value;

    CLabelUI label;
    label.SetProperty(L"align", L"center");
    label.SetProperty(L"endellipsis", L"true");
    EXPECT_EQ(static_cast<UINT>(DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS), label.GetTextStyle());
    label.SetProperty(L"endellipsis", L"True");  // only exact "true" is true
    EXPECT_EQ(static_cast<UINT>(DT_VCENTER | DT_CENTER), label.GetTextStyle());
}

TEST(Controls, AttributesReachTheControls) {
    CEditUI edit;
    EXPECT_EQ(4, edit.GetTextPadding().left);
    EXPECT_EQ(3, edit.GetTextPadding().bottom);
    edit.SetProperty(L"numberonly", L"true");
    edit.SetProperty(L"maxchar", L"0");
    edit.SetProperty(L"password", L"true");
    edit.SetProperty(L"textcolor", L"#FF112233");
    edit.SetProperty(L"bkcolor", L"#FFFFFFFF");  // base attribute
    EXPECT_EQ(static_cast<DWORD>(ES_NUMBER), edit.GetAddedStyle());
    EXPECT_EQ(0, edit.GetMaxChar());
    EXPECT_TRUE(edit.IsPassword());
    EXPECT_EQ(0xFF112233u, edit.GetTextColor());
    EXPECT_EQ(0xFF112233u, edit.EffectiveTextColor());
    EXPECT_EQ(0xFFFFFFFFu, edit.GetBkColor());
    edit.SetProperty(L"numberonly", L"false");
    EXPECT_EQ(0u, edit.GetAddedStyle());

    CProgressUI progress;
    EXPECT_EQ(static_cast<UINT>(DT_SINGLELINE | DT_CENTER), progress.GetTextStyle());
    progress.SetProperty(L"max", L"40");
    progress.SetProperty(L"value", L"90");  // stored as is; painting clamps
    progress.SetProperty(L"roundcorner", L"false");
    EXPECT_EQ(90, progress.GetValue());
    EXPECT_FALSE(progress.IsStretchForeImage());
}

TEST(Controls, ProgressFillRectangle) {
    struct Case {
        int w, h, min, max, value;
        bool hor;
        RECT expected;
    } cases[] = {
        {470, 30, 0, 100, 50, true, {0, 0, 235, 30}},
        {470, 30, 0, 100, 150, true, {0, 0, 470, 30}},       // clamped up
        {470, 30, 0, 100, -5, true, {0, 0, 0, 30}},          // clamped down
        {470, 30, 10, 10, 10, true, {0, 0, 0, 30}},          // max taken as 11
        {470, 30, 10, 10, 11, true, {0, 0, 470, 30}},
        {470, 30, 0, 0, 0, true, {0, 0, 0, 30}},             // no total yet: no fill
        {470, 30, 0, 2000000000, 1000000000, true, {0, 0, 235, 30}},  // no overflow
        {20, 100, 0, 100, 25, false, {0, 75, 20, 100}},
        {100, 10, 0, 3, 1, true, {0, 0, 33, 10}},             // integer division
    };
    for (const Case& c : cases) {
        RECT rc = ProgressFillRect(c.w, c.h, c.min, c.max, c.value, c.hor);
        EXPECT_TRUE(EqualRect(&rc, &c.expected))
            << c.min << ".." << c.max << " @" << c.value << " -> " << rc.left << "," << rc.top << "," << rc.right << ","
            << rc.bottom;
    }
}

TEST(Controls, ProgressPaintsTheFillOnlyOverTheDonePart) {
    Harness h([](CVerticalLayoutUI* root) {
        root->Add(Floating<CProgressUI>(L"bar", L"10,10,210,30",
                                        {{L"bkimage", SolidPng(L"ctl_track.png", 0xDDDDDDFF, 200, 20)},
                                         {L"foreimage", SolidPng(L"ctl_fill.png", 0x2080F0FF, 200, 20)}}));
    });
    ASSERT_NE(nullptr, h.hwnd);
    auto* bar = h.Get<CProgressUI>(L"bar");
    for (bool stretch : {true, false}) {
        bar->SetStretchForeImage(stretch);
        bar->SetValue(30);  // 60 of 200 pixels
        EXPECT_EQ(0x2080F0u, h.PixelAt(10 + 59, 20)) << stretch;
        EXPECT_EQ(0xDDDDDDu, h.PixelAt(10 + 61, 20)) << stretch;
    }
    bar->SetMaxValue(0);
    bar->SetValue(0);
    EXPECT_EQ(0xDDDDDDu, h.PixelAt(11, 20));
    EXPECT_FALSE(bar->GetProgressForeImage().empty());  // an empty fill is not a failed image
}

TEST(Controls, ButtonStatesFollowTheMouse) {
    Harness h([](CVerticalLayoutUI* root) {
        root->Add(Floating<CButtonUI>(L"btn", L"10,10,50,30",
                                      {{L"normalimage", SolidPng(L"ctl_n.png", 0x0000FFFF)},
                                       {L"hotimage", SolidPng(L"ctl_h.png", 0x00FF00FF)},
                                       {L"pushedimage", SolidPng(L"ctl_p.png", 0xFF0000FF)},
                                       {L"disabledimage", SolidPng(L"ctl_d.png", 0x808080FF)}}));
    });
    ASSERT_NE(nullptr, h.hwnd);
    auto* btn = h.Get<CButtonUI>(L"btn");
    EXPECT_EQ(0x0000FFu, h.PixelAt(20, 20));
    ctltest::MouseMove(h.hwnd, 20, 20);
    EXPECT_EQ(0x00FF00u, h.PixelAt(20, 20));
    ctltest::MouseDown(h.hwnd, 20, 20);
    EXPECT_EQ(0xFF0000u, h.PixelAt(20, 20));
    // Dragged off while pressed: no longer pushed, and released outside: no click.
    ctltest::MouseMove(h.hwnd, 150, 150);
    EXPECT_EQ(0x0000FFu, h.PixelAt(20, 20));
    ctltest::MouseUp(h.hwnd, 150, 150);
    EXPECT_EQ(0, h.recorder.Count(L"click"));
    EXPECT_EQ(0u, btn->GetState() & (UISTATE_PUSHED | UISTATE_CAPTURED));

    Click(h.hwnd, 20, 20);
    EXPECT_EQ(1, h.recorder.Count(L"click", L"btn"));

    btn->SetEnabled(false);
    EXPECT_EQ(0u, btn->GetState());
    EXPECT_EQ(0x808080u, h.PixelAt(20, 20));
    Click(h.hwnd, 20, 20);
    EXPECT_EQ(1, h.recorder.Count(L"click"));  // disabled buttons stay quiet
}

TEST(Controls, ButtonsTakeKeysOnlyWhenTheSkinAsks) {
    Harness h([](CVerticalLayoutUI* root) {
        root->Add(Floating<CButtonUI>(L"btn", L"10,10,50,30"));
        root->Add(Floating<COptionUI>(L"opt", L"60,10,100,30"));
        root->Add(Floating<CButtonUI>(L"keyed", L"110,10,150,30", {{L"keyboard", L"true"}}));
    });
    ASSERT_NE(nullptr, h.hwnd);
    // By default no tab stop; focused by a click, neither takes Space or Enter afterwards.
    for (const wchar_t* name : {L"btn", L"opt"}) {
        EXPECT_EQ(0u, h.Get<CButtonUI>(name)->GetControlFlags() & UIFLAG_TABSTOP) << name;
        h.Get<CButtonUI>(name)->SetFocus();
        SendMessageW(h.hwnd, WM_KEYDOWN, VK_SPACE, 0);
        SendMessageW(h.hwnd, WM_KEYDOWN, VK_RETURN, 0);
        EXPECT_EQ(0, h.recorder.Count(L"click", name)) << name;
    }
    EXPECT_FALSE(h.Get<COptionUI>(L"opt")->IsSelected());
    h.Get<CButtonUI>(L"keyed")->SetFocus();
    SendMessageW(h.hwnd, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(h.hwnd, WM_KEYDOWN, VK_RETURN, 0);
    SendMessageW(h.hwnd, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(2, h.recorder.Count(L"click", L"keyed"));
}

TEST(Controls, OptionGroupIsExclusiveAndReportsOnce) {
    Harness h([](CVerticalLayoutUI* root) {
        const std::wstring on = SolidPng(L"ctl_on.png", 0x00C000FF), off = SolidPng(L"ctl_off.png", 0xFFFFFFFF);
        const wchar_t* names[] = {L"a", L"b", L"c"};
        const wchar_t* pos[] = {L"10,10,50,30", L"60,10,100,30", L"110,10,150,30"};
        for (int i = 0; i < 3; ++i)
            root->Add(Floating<COptionUI>(names[i], pos[i],
                                          {{L"group", L"g"}, {L"bkimage", off}, {L"selectedimage", on}}));
        root->Add(Floating<COptionUI>(L"check", L"10,50,50,70", {{L"bkimage", off}, {L"selectedimage", on}}));
    });
    ASSERT_NE(nullptr, h.hwnd);
    auto* a = h.Get<COptionUI>(L"a");
    auto* b = h.Get<COptionUI>(L"b");
    a->Selected(true);
    h.recorder.seen.clear();

    Click(h.hwnd, 70, 20);  // b
    EXPECT_TRUE(b->IsSelected());
    EXPECT_FALSE(a->IsSelected());
    EXPECT_EQ(1, h.recorder.Count(L"selectchanged"));
    EXPECT_EQ(1, h.recorder.Count(L"selectchanged", L"b"));
    std::vector<std::wstring> order;
    for (const ctltest::Seen& s : h.recorder.seen)
        if (s.type == L"click" || s.type == L"selectchanged") order.push_back(s.type);
    EXPECT_EQ((std::vector<std::wstring>{L"click", L"selectchanged"}), order);  // the button's click first
    EXPECT_EQ(0x00C000u, h.PixelAt(70, 20));
    EXPECT_EQ(0xFFFFFFu, h.PixelAt(20, 20));

    Click(h.hwnd, 70, 20);  // selecting the selected one again
    EXPECT_EQ(1, h.recorder.Count(L"selectchanged"));
    EXPECT_TRUE(b->IsSelected());

    // Without a group the option toggles and reports both ways.
    Click(h.hwnd, 20, 60);
    Click(h.hwnd, 20, 60);
    EXPECT_EQ(2, h.recorder.Count(L"selectchanged", L"check"));
    EXPECT_FALSE(h.Get<COptionUI>(L"check")->IsSelected());

    // Moving an option to another group takes it out of the first one.
    h.Get<COptionUI>(L"c")->SetGroup(L"other");
    h.Get<COptionUI>(L"c")->Selected(true);
    EXPECT_TRUE(b->IsSelected());
}

TEST(Controls, EditTypingGoesThroughANativeWindowThatHonoursTheSettings) {
    Harness h([](CVerticalLayoutUI* root) {
        root->Add(Floating<CEditUI>(L"edit", L"10,10,210,40", {{L"text", L"C:\\Games"}}));
        root->Add(Floating<CEditUI>(L"locked", L"10,50,210,80",
                                    {{L"readonly", L"true"}, {L"numberonly", L"true"}, {L"maxchar", L"5"}}));
        root->Add(Floating<CButtonUI>(L"other", L"10,100,50,120"));
    });
    ASSERT_NE(nullptr, h.hwnd);
    auto* edit = h.Get<CEditUI>(L"edit");
    SetForegroundWindow(h.hwnd);  // a click on an inactive window would activate it and move the focus
    SetActiveWindow(h.hwnd);
    Click(h.hwnd, 50, 25);
    HWND native = edit->GetNativeWindow();
    ASSERT_NE(nullptr, native);
    wchar_t cls[32] = {};
    GetClassNameW(native, cls, 32);
    EXPECT_STREQ(L"EditWnd", cls);
    EXPECT_EQ(h.hwnd, GetParent(native));
    EXPECT_EQ(native, GetFocus());
    // Whole text selected by the click: typing replaces it.
    SendMessageW(native, WM_CHAR, L'D', 0);
    SendMessageW(native, WM_CHAR, L':', 0);
    EXPECT_EQ(L"D:", edit->GetText());
    EXPECT_EQ(2, h.recorder.Count(L"textchanged", L"edit"));

    SendMessageW(native, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(1, h.recorder.Count(L"return", L"edit"));

    edit->SetText(L"E:\\x");  // replaces the window text, reported once
    EXPECT_EQ(3, h.recorder.Count(L"textchanged", L"edit"));
    wchar_t buf[32] = {};
    GetWindowTextW(native, buf, 32);
    EXPECT_STREQ(L"E:\\x", buf);

    // Focus elsewhere closes the native window; the text stays.
    SetFocus(h.hwnd);
    uitest::PumpPending();
    EXPECT_FALSE(IsWindow(native));
    EXPECT_EQ(nullptr, edit->GetNativeWindow());
    EXPECT_EQ(L"E:\\x", edit->GetText());
    edit->SetText(L"F:");  // without a native window: reported at once
    EXPECT_EQ(4, h.recorder.Count(L"textchanged", L"edit"));

    // The native window honours the edit's settings.
    Click(h.hwnd, 50, 65);
    native = h.Get<CEditUI>(L"locked")->GetNativeWindow();
    ASSERT_NE(nullptr, native);
    const LONG style = GetWindowLongW(native, GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_NUMBER);
    EXPECT_TRUE(style & ES_AUTOHSCROLL);
    EXPECT_EQ(5, static_cast<int>(SendMessageW(native, EM_GETLIMITTEXT, 0, 0)));
    // Inside the text padding, one font line high, vertically centred.
    RECT rc;
    GetWindowRect(native, &rc);
    MapWindowPoints(HWND_DESKTOP, h.hwnd, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(14, rc.left);
    EXPECT_EQ(206, rc.right);
    EXPECT_GE(rc.top, 53);
    EXPECT_LE(rc.bottom, 77);
    EXPECT_LE(std::abs((rc.top - 53) - (77 - rc.bottom)), 1);
}

TEST(Controls, RealSkinImagesDraw) {
    Harness h([](CVerticalLayoutUI* root) {
        root->SetBkColor(0xFFFFFFFF);
        const std::wstring hot = SkinFile(L"install_1.png", L" source='5,5,189,49'");
        root->Add(Floating<CButtonUI>(
            L"btn_install", L"10,10,194,54",
            {{L"normalimage", SkinFile(L"install_0.png")}, {L"hotimage", hot}, {L"pushedimage", hot}}));
        root->Add(Floating<COptionUI>(L"opt_agree", L"10,70,110,86",
                                      {{L"bkimage", SkinFile(L"opt_000.png", L" dest='0,0,16,16'")},
                                       {L"selectedimage", SkinFile(L"opt_001.png", L" dest='0,0,16,16'")},
                                       {L"selected", L"true"},
                                       {L"textpadding", L"20,0,0,0"},
                                       {L"text", L"同意"}}));
        root->Add(Floating<CProgressUI>(L"bar", L"10,100,290,130",
                                        {{L"bkimage", SkinFile(L"progress_bk.png")},
                                         {L"foreimage", SkinFile(L"progress_fore.png")},
                                         {L"value", L"60"},
                                         {L"text", L"60%"}}));
        root->Add(Floating<CEditUI>(L"edit_input", L"10,140,290,169",
                                    {{L"bkimage", SkinFile(L"input.png")}, {L"text", L"C:\\Program Files\\澄岳"}}));
    });
    ASSERT_NE(nullptr, h.hwnd);
    h.window.PaintHost().SetDefaultFont(L"宋体", 12, false, false, false);
    Surface s(300, 200, 0x000000);
    ctltest::PaintInto(h.window.PaintHost(), s);
    ctltest::MaybeSave(s, L"ov_controls_normal.png");
    const DWORD normal = s.Rgb(102, 32);
    EXPECT_NE(0xFFFFFFu, normal);  // the install button image is there
    EXPECT_NE(0xFFFFFFu, s.Rgb(10 + 100, 115));  // progress fill at 60 %
    ctltest::MouseMove(h.hwnd, 102, 32);
    Surface hot(300, 200, 0x000000);
    ctltest::PaintInto(h.window.PaintHost(), hot);
    ctltest::MaybeSave(hot, L"ov_controls_hot.png");
    EXPECT_NE(normal, hot.Rgb(102, 32));  // hot look differs
}
