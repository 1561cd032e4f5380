#pragma once
// Helpers for the UI toolkit tests: an in-memory 32-bit drawing surface whose
// pixels can be read, PNG and zip archives made on the fly, and a skinned test
// window whose control tree is built in code.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/Control.h"
#include "ui/WindowImplBase.h"

namespace uitest {

// A top-down 32-bit DIB section selected into a memory DC.
class Surface {
public:
    Surface(int width, int height, DWORD fill = 0xFFFFFFFF);
    ~Surface();
    HDC dc() const { return dc_; }
    int width() const { return w_; }
    int height() const { return h_; }
    // 0x00RRGGBB of the pixel (the alpha byte GDI leaves is ignored).
    DWORD Rgb(int x, int y) const;
    void Fill(DWORD rgb);
    // Writes the surface as a PNG (for looking at a drawing while debugging).
    bool SavePng(const std::wstring& path) const;

private:
    HDC dc_ = nullptr;
    HBITMAP bmp_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
    int w_, h_;
};

// RGBA pixels, row by row.
struct RgbaImage {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
    void Set(int x, int y, uint32_t rgba);  // 0xRRGGBBAA
};
RgbaImage SolidImage(int width, int height, uint32_t rgba);
std::string EncodePng(const RgbaImage& image);

struct ZipItem {
    std::string name;
    std::string data;
    bool deflate = true;
};
std::string BuildZip(const std::vector<ZipItem>& items);

std::wstring TempPath(const std::wstring& name);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Channel helpers for 0x00RRGGBB values.
inline int R(DWORD c) { return (c >> 16) & 0xFF; }
inline int G(DWORD c) { return (c >> 8) & 0xFF; }
inline int B(DWORD c) { return c & 0xFF; }

// A skinned window whose tree comes from `build`; records what it sees.
class TestWindow : public WindowImplBase {
public:
    explicit TestWindow(std::function<CControlUI*(CPaintHostUI&)> build) : build_(std::move(build)) {}
    const wchar_t* WindowClassName() const override { return L"OvUiTestWindow"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return L"test.xml"; }
    int SkinSource() const override { return kSkinFile; }
    void OnWindowDestroyed(HWND hwnd) override {
        WindowImplBase::OnWindowDestroyed(hwnd);
        destroyed = true;
    }
    LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override {
        ++closeCount;
        if (vetoCloses > 0) {
            --vetoCloses;
            return 0;  // handled: the window stays
        }
        handled = false;
        return 0;
    }
    // Creates a popup of the given client size at (x, y) and lays it out.
    HWND CreateAt(int x, int y, int cx, int cy, HWND owner = nullptr);

    bool destroyed = false;
    int closeCount = 0;
    int vetoCloses = 0;

protected:
    CControlUI* BuildRoot() override { return build_ ? build_(paintHost_) : nullptr; }

private:
    std::function<CControlUI*(CPaintHostUI&)> build_;
};

// A control that claims to be of another class (for hit-test rules) and
// records the events it gets.
class ProbeControl : public CControlUI {
public:
    explicit ProbeControl(const wchar_t* className = L"ControlUI") : className_(className) {}
    const wchar_t* ClassName() const override { return className_; }
    UINT GetControlFlags() const override { return tabStop ? static_cast<UINT>(UIFLAG_TABSTOP) : 0u; }
    void HandleEvent(TEventUI& e) override {
        events.push_back(e.type);
        CControlUI::HandleEvent(e);
    }
    std::vector<int> events;
    bool tabStop = false;

private:
    const wchar_t* className_;
};

// One of the real skins' windows, built from the archive embedded in this
// test program the way the installer builds it.
class SkinWindow : public WindowImplBase {
public:
    explicit SkinWindow(const wchar_t* file) : file_(file) {}
    ~SkinWindow() override {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    const wchar_t* WindowClassName() const override { return L"OvUiSkinTestWindow"; }
    std::wstring SkinFolder() override { return L"skin"; }
    std::wstring SkinFile() override { return file_; }
    // Creates the window at the size the layout gives, shows and lays it out.
    bool Open();
    CControlUI* Find(const wchar_t* name) { return paintHost_.FindByName(name); }

private:
    std::wstring file_;
};

void PumpPending();

}  // namespace uitest
