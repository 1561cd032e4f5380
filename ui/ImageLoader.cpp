#include "ui/ImageLoader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "ui/SkinResources.h"

// Skin images are PNG only; limiting the dimensions keeps a damaged header from
// asking for gigabytes.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS (1 << 14)
// The decoder copies zero bytes into a buffer it has not allocated yet when a
// PNG holds an empty data chunk first: memcpy with a null target, undefined
// even for no bytes. Its copies go through this one, which does nothing for
// an empty copy; the library itself stays as installed.
namespace {
inline void* StbCopy(void* to, const void* from, size_t n) { return n ? std::memcpy(to, from, n) : to; }
}  // namespace
#define memcpy StbCopy
#include "stb_image.h"
#undef memcpy

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include "stb_image_resize.h"

#include "ui/DisplayScale.h"

namespace {

// Largest image file accepted from the archive or the disk.
const size_t kMaxImageBytes = 64u * 1024u * 1024u;
// Largest decoded image (pixels); the skin's biggest is 540×313. A damaged
// header must not make the decoder reserve gigabytes.
const long long kMaxImagePixels = 16ll * 1024 * 1024;

}  // namespace

bool ConvertPixels(const unsigned char* rgba, size_t pixelCount, DWORD mask, uint32_t* out) {
    bool alpha = false;
    for (size_t i = 0; i < pixelCount; ++i) {
        const unsigned char* p = rgba + i * 4;
        uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
        if (a != 255) {
            r = r * a / 255;
            g = g * a / 255;
            b = b * a / 255;
            alpha = true;
        }
        uint32_t v = (a << 24) | (r << 16) | (g << 8) | b;
        if (v == mask) {
            v = 0;
            alpha = true;
        }
        out[i] = v;
    }
    return alpha;
}

TImageInfo* DecodeImage(const unsigned char* data, size_t length, DWORD mask, int targetWidth, int targetHeight) {
    if (!data || length == 0 || length > static_cast<size_t>(INT_MAX)) return nullptr;
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, static_cast<int>(length), &w, &h, &channels)) return nullptr;
    if (w <= 0 || h <= 0 || static_cast<long long>(w) * h > kMaxImagePixels) return nullptr;
    unsigned char* pixels = stbi_load_from_memory(data, static_cast<int>(length), &w, &h, &channels, 4);
    if (!pixels) return nullptr;
    if (w <= 0 || h <= 0) {
        stbi_image_free(pixels);
        return nullptr;
    }
    std::vector<unsigned char> resized;
    if (targetWidth > 0 && targetHeight > 0 && (targetWidth != w || targetHeight != h) &&
        static_cast<long long>(targetWidth) * targetHeight <= kMaxImagePixels) {
        resized.resize(static_cast<size_t>(targetWidth) * static_cast<size_t>(targetHeight) * 4);
        // sRGB-aware with alpha as channel 3: edges of transparent parts do
        // not darken, and thin light lines keep their brightness.
        if (stbir_resize_uint8_generic(pixels, w, h, 0, resized.data(), targetWidth, targetHeight, 0, 4, 3, 0,
                                       STBIR_EDGE_CLAMP, STBIR_FILTER_MITCHELL, STBIR_COLORSPACE_SRGB, nullptr)) {
            stbi_image_free(pixels);
            pixels = nullptr;
            w = targetWidth;
            h = targetHeight;
        } else {
            resized.clear();
        }
    }
    const unsigned char* rgba = pixels ? pixels : resized.data();
    BITMAPINFO bmi;
    memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        if (pixels) stbi_image_free(pixels);
        return nullptr;
    }
    bool alpha =
        ConvertPixels(rgba, static_cast<size_t>(w) * static_cast<size_t>(h), mask, static_cast<uint32_t*>(bits));
    if (pixels) stbi_image_free(pixels);
    GdiFlush();
    TImageInfo* info = new TImageInfo;
    info->bitmap = bitmap;
    info->width = w;
    info->height = h;
    info->alpha = alpha;
    info->mask = mask;
    return info;
}

std::wstring DoubleSizeName(const std::wstring& name) {
    const size_t slash = name.find_last_of(L"\\/");
    size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = name.size();
    return name.substr(0, dot) + L"@2x" + name.substr(dot);
}

namespace {

// `anyPath`: the name itself may be a path on disk too (the 1x image's last
// resort). A @2x image is only taken from where the skin keeps its images, so
// that a file lying about cannot stand in for an image the skin has.
bool ReadImageBytes(const std::wstring& name, const wchar_t* resType, bool anyPath,
                    std::vector<unsigned char>& bytes) {
    if (resType && *resType) {
        HINSTANCE module = CSkinResources::Instance();
        HRSRC res = FindResourceW(module, name.c_str(), resType);
        if (res) {
            HGLOBAL global = LoadResource(module, res);
            DWORD size = SizeofResource(module, res);
            const unsigned char* p = global ? static_cast<const unsigned char*>(LockResource(global)) : nullptr;
            if (p && size) bytes.assign(p, p + size);
        }
    } else if (!CSkinResources::ResourceZip().empty()) {
        CSkinResources::ReadZipEntry(name, bytes, kMaxImageBytes);
    } else {
        CSkinResources::ReadFileBytes(CSkinResources::ResourcePath() + name, bytes, kMaxImageBytes);
    }
    if (bytes.empty() && anyPath) CSkinResources::ReadFileBytes(name, bytes, kMaxImageBytes);
    return !bytes.empty();
}

// The pixel size of an encoded image, or false.
bool PeekSize(const std::vector<unsigned char>& bytes, int& w, int& h) {
    int channels = 0;
    return bytes.size() <= static_cast<size_t>(INT_MAX) &&
           stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels) && w > 0 && h > 0;
}

}  // namespace

TImageInfo* LoadSkinImage(const std::wstring& name, const wchar_t* resType, DWORD mask, int dpi) {
    if (name.empty()) return nullptr;
    std::vector<unsigned char> bytes;
    int w = 0, h = 0;
    int madeFor = dpi::kDesign;  // the dpi the bytes are drawn for
    if (dpi > dpi::kDesign && ReadImageBytes(DoubleSizeName(name), resType, false, bytes) && PeekSize(bytes, w, h)) {
        madeFor = 2 * dpi::kDesign;
    } else {
        bytes.clear();
        if (!ReadImageBytes(name, resType, true, bytes)) return nullptr;
        if (!PeekSize(bytes, w, h)) w = h = 0;
    }
    // Resampled for the window unless drawn for it already; a 1x image only
    // ever gets smaller.
    int target = madeFor;
    if (madeFor != dpi && (madeFor > dpi::kDesign || dpi < dpi::kDesign)) target = dpi;
    const int tw = target == madeFor ? 0 : std::max(1, dpi::Convert(w, madeFor, target));
    const int th = target == madeFor ? 0 : std::max(1, dpi::Convert(h, madeFor, target));
    TImageInfo* info = DecodeImage(bytes.data(), bytes.size(), mask, w > 0 ? tw : 0, h > 0 ? th : 0);
    if (!info) return nullptr;
    if (resType) info->resType = resType;
    // What the bitmap really is: a failed resample leaves the source size.
    info->dpi = (tw > 0 && info->width == tw) ? target : madeFor;
    return info;
}

void FreeImage(TImageInfo* image) {
    if (!image) return;
    if (image->bitmap) DeleteObject(image->bitmap);
    delete image;
}
