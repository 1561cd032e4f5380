#pragma once
// PNG images of the skin decoded into premultiplied 32-bit bitmaps.
//
// Threads: decoding is safe on any thread; LoadSkinImage reads the process-wide
// skin resources and belongs to the UI thread.
// Ownership: the caller owns a returned TImageInfo and frees it with FreeImage.

#include <windows.h>

#include <cstdint>
#include <string>

struct TImageInfo {
    HBITMAP bitmap = nullptr;  // 32-bit top-down DIB section, premultiplied BGRA
    int width = 0;
    int height = 0;
    bool alpha = false;
    DWORD mask = 0;
    std::wstring resType;
    // The dpi the bitmap is drawn for: 96 for a 1x image, the window's when
    // it was made from the @2x image (or resampled) for that window.
    int dpi = 96;
};

// Converts RGBA pixels (as decoded) into premultiplied BGRA values (one
// uint32_t 0xAARRGGBB per pixel). A pixel whose converted value equals `mask`
// becomes 0. Returns true when any pixel is not fully opaque.
bool ConvertPixels(const unsigned char* rgba, size_t pixelCount, DWORD mask, uint32_t* out);

// Decodes PNG bytes. Null for undecodable data or an image too large to hold.
// With a target size (both > 0) the decoded image is resampled to it with a
// Mitchell filter in linear light, alpha weighted, before conversion.
TImageInfo* DecodeImage(const unsigned char* data, size_t length, DWORD mask, int targetWidth = 0,
                        int targetHeight = 0);

// "a.png" -> "a@2x.png": the skin's drawing of the same image at twice the size.
std::wstring DoubleSizeName(const std::wstring& name);

// Finds the bytes of `name` (module resource of `resType`, else the skin
// archive, else the file at the resource path, else `name` as a path) and
// decodes them for a window at `dpi`: at 96 and below the 1x image (below,
// reduced); above 96 the @2x image when the skin has one, used as it is at
// 192 and resampled to the window's scale otherwise (reduced up to 192,
// enlarged above: the sharpest source there is). A 1x image is never
// enlarged: without a @2x version it is returned at 96 dpi and the drawing
// stretches it.
TImageInfo* LoadSkinImage(const std::wstring& name, const wchar_t* resType, DWORD mask, int dpi = 96);

void FreeImage(TImageInfo* image);
