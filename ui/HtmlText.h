#pragma once
// The HTML-like text renderer of labels with "showhtml": text laid out line by
// line in a rectangle, breaking at line feeds and (unless DT_SINGLELINE) at the
// right edge, aligned as the DrawText style asks, with a few inline tags.
//
// Tags are one lower-case letter after "<" or "{", ended by ">" or "}", with
// "</x>" closing; an argument follows the letter after one blank:
//   b  bold                      i  italic; "<i file='a.png'>" draws an image
//   u  underline                 s  selected-text background (manager colour)
//   a  link: link colour and underline (the argument, a target, is kept only)
//   c  colour "<c #ffff0000>"    f  font index of the paint manager "<f 1>"
//   p  paragraph: a line break with the argument as extra space above "<p 6>"
//   n  line break                x  adds the argument to the horizontal position
//   y  sets the height of the current line "<y 30>"
//   r  everything up to "</r>" is shown raw
// Anything that is not one of these tags is shown as text.
//
// Tokenising is plain data; drawing needs a device context and, for fonts,
// colours and images, the paint manager (which may be null: default font).
// Threads: UI thread (fonts and images come from the paint manager).

#include <windows.h>

#include <string>
#include <vector>

class CPaintHostUI;

struct HtmlToken {
    enum Kind { kText, kLineBreak, kOpen, kClose };
    Kind kind = kText;
    wchar_t tag = 0;    // the tag letter for kOpen / kClose
    std::wstring text;  // the text, or the tag's argument
};

std::vector<HtmlToken> TokenizeHtmlText(const wchar_t* text);

// Where one line of laid-out text ended up (for tests and measuring).
struct HtmlLine {
    RECT rc = {0, 0, 0, 0};
    std::wstring text;  // the characters of the line, tags removed
};

// Draws `text` into `rc` with the label's colour and font index. With
// DT_CALCRECT in `style` nothing is drawn and `rc` receives the extent of
// the text (left-top kept). `lines`, when given, receives the line layout.
void DrawHtmlText(HDC dc, CPaintHostUI* manager, RECT& rc, const wchar_t* text, DWORD color, int font, UINT style,
                  std::vector<HtmlLine>* lines = nullptr);
