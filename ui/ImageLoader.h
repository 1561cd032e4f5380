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
};

// Converts RGBA pixels (as decoded) into premultiplied BGRA values (one
// uint32_t 0xAARRGGBB per pixel). A pixel whose converted value equals `mask`
// becomes 0. Returns true when any pixel is not fully opaque.
bool ConvertPixels(const unsigned char* rgba, size_t pixelCount, DWORD mask, uint32_t* out);

// Decodes PNG bytes. Null for undecodable data or an image too large to hold.
TImageInfo* DecodeImage(const unsigned char* data, size_t length, DWORD mask);

// Finds the bytes of `name` (module resource of `resType`, else the skin
// archive, else the file at the resource path, else `name` as a path) and
// decodes them.
TImageInfo* LoadSkinImage(const std::wstring& name, const wchar_t* resType, DWORD mask);

void FreeImage(TImageInfo* image);
