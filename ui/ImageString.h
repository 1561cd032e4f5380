#pragma once
// Image description strings: key='value' lists that name and place the images
// of a control ("file='a.png' dest='0,0,10,10' corner='3,3,3,3'"). Parsing is
// plain data (PlanImageString); drawing loads each image through the paint
// manager's image cache and draws it with the nine-part renderer.
//
// Units: a description (markup, the program's own strings) is in design
// pixels and is scaled to the window's dpi: "dest"/"rdest" edge by edge from
// the item's corner, "corner" and "roundcorner" in window pixels, "source"
// in the pixels of the bitmap actually loaded (which may be a @2x image or
// one resampled for the window). A modifier is what a control computes from
// its own rectangle, so it is already in window pixels.
//
// Threads: UI thread (the drawing uses the paint manager's cache).

#include <windows.h>

#include <string>
#include <vector>

class CPaintHostUI;

// Everything one image part is drawn with; settings carry over from one part
// to the next within a description and its modifier.
struct ImageDrawSettings {
    std::wstring name;
    std::wstring resType;
    RECT dest = {0, 0, 0, 0};  // absolute target, already clamped to the item
    RECT source = {0, 0, 0, 0};
    bool sourceSet = false;    // false: the whole image
    int sourceDpi = 96;        // the dpi `source` was written for
    RECT corner = {0, 0, 0, 0};  // design pixels
    RECT centerRect = {0, 0, 0, 0};
    DWORD mask = 0;
    BYTE fade = 255;
    bool hole = false;
    bool xtiled = false;
    bool ytiled = false;
    bool stretch = true;
    bool center = false;
    bool alignTop = false;
    bool alignLeft = false;
    SIZE roundCorner = {0, 0};  // design pixels
};

// The parts that drawing `description` then `modifier` over `item` would draw,
// in order, each with the settings in force when it was drawn.
// `dpi` is the window's.
std::vector<ImageDrawSettings> PlanImageString(const RECT& item, const wchar_t* description, const wchar_t* modifier,
                                               int dpi = 96);

// Draws the parts. Returns false when a named image cannot be loaded (the
// owning control then clears the description); an empty description is true.
bool DrawImageString(HDC dc, CPaintHostUI* manager, const RECT& item, const RECT& paint, const wchar_t* description,
                     const wchar_t* modifier = nullptr);

// Draws one planned part; false when its image cannot be loaded.
bool DrawImagePart(HDC dc, CPaintHostUI* manager, const RECT& item, const RECT& paint, const ImageDrawSettings& part);
