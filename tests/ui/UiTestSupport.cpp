#include "UiTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace uitest {

Surface::Surface(int width, int height, DWORD fill) : w_(width), h_(height) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bmp_ = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bmp_);
    Fill(fill & 0xFFFFFF);
}

Surface::~Surface() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bmp_);
}

DWORD Surface::Rgb(int x, int y) const {
    GdiFlush();
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return 0xFFFFFFFF;
    return bits_[static_cast<size_t>(y) * w_ + x] & 0xFFFFFF;
}

void Surface::Fill(DWORD rgb) {
    GdiFlush();
    for (int i = 0; i < w_ * h_; ++i) bits_[i] = rgb & 0xFFFFFF;
}

bool Surface::SavePng(const std::wstring& path) const {
    RgbaImage img;
    img.width = w_;
    img.height = h_;
    img.pixels.resize(static_cast<size_t>(w_) * h_ * 4);
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            DWORD c = Rgb(x, y);
            img.Set(x, y, (static_cast<uint32_t>(c) << 8) | 0xFF);
        }
    return WriteFileBytes(path, EncodePng(img));
}

void RgbaImage::Set(int x, int y, uint32_t rgba) {
    unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    p[0] = static_cast<unsigned char>(rgba >> 24);
    p[1] = static_cast<unsigned char>(rgba >> 16);
    p[2] = static_cast<unsigned char>(rgba >> 8);
    p[3] = static_cast<unsigned char>(rgba);
}

RgbaImage SolidImage(int width, int height, uint32_t rgba) {
    RgbaImage img;
    img.width = width;
    img.height = height;
    img.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) img.Set(x, y, rgba);
    return img;
}

namespace {
void AppendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}
void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
std::string RawDeflate(const std::string& in) {
    z_stream zs = {};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, in.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}
}  // namespace

std::string EncodePng(const RgbaImage& image) {
    std::string out;
    stbi_write_png_to_func(AppendBytes, &out, image.width, image.height, 4, image.pixels.data(), image.width * 4);
    return out;
}

std::string BuildZip(const std::vector<ZipItem>& items) {
    std::string body, central;
    for (const ZipItem& it : items) {
        const std::string payload = it.deflate ? RawDeflate(it.data) : it.data;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(it.data.data()), static_cast<uInt>(it.data.size())));
        const uint32_t offset = static_cast<uint32_t>(body.size());
        const uint16_t method = it.deflate ? 8 : 0;
        // From the flags to the extra field's length, both headers say the same.
        auto shared = [&](std::string& out) {
            Put16(out, 0);
            Put16(out, method);
            Put32(out, 0);
            Put32(out, crc);
            Put32(out, static_cast<uint32_t>(payload.size()));
            Put32(out, static_cast<uint32_t>(it.data.size()));
            Put16(out, static_cast<uint32_t>(it.name.size()));
            Put16(out, 0);
        };
        Put32(body, 0x04034b50);
        Put16(body, 20);
        shared(body);
        body += it.name;
        body += payload;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, 20);
        shared(central);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += it.name;
    }
    std::string zip = body + central;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<uint32_t>(items.size()));
    Put16(zip, static_cast<uint32_t>(items.size()));
    Put32(zip, static_cast<uint32_t>(central.size()));
    Put32(zip, static_cast<uint32_t>(body.size()));
    Put16(zip, 0);
    return zip;
}

std::wstring TempPath(const std::wstring& name) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(f);
    return ok;
}

HWND TestWindow::CreateAt(int x, int y, int cx, int cy, HWND owner) {
    HWND hwnd = Create(owner, L"ui test", WS_POPUP | WS_CLIPCHILDREN, 0, x, y, cx, cy);
    if (hwnd) {
        ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        UpdateWindow(hwnd);
        paintHost_.UpdateLayout();
    }
    return hwnd;
}

bool SkinWindow::Open() {
    // The archive comes from the build step that embeds the skin into this
    // test program (cmake/skin.cmake).
    if (!FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(150), L"ZIPRES")) {
        ADD_FAILURE() << "skin resource ZIPRES 150 is not linked into ui_tests";
        return false;
    }
    if (!Create(nullptr, L"skin test", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, 0)) return false;
    ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    paintHost_.UpdateLayout();
    return true;
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace uitest
