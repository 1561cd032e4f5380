#include "ui/HtmlText.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <tuple>

#include "ui/ImageLoader.h"
#include "ui/PaintHost.h"
#include "ui/Render.h"
#include "ui/UIAttr.h"

namespace {

const wchar_t kTagLetters[] = L"abcfinprsuxy";
const wchar_t kEllipsis[] = L"...";

bool IsTagLetter(wchar_t c) { return c != 0 && wcschr(kTagLetters, c) != nullptr; }

// Reads a tag at `p` ("<b>", "{/c}", "<c #ff0000ff>"); returns the character
// after it, or null when `p` does not start a well-formed tag.
const wchar_t* ReadTag(const wchar_t* p, HtmlToken& tok) {
    const wchar_t* q = p + 1;
    bool closing = false;
    if (*q == L'/') {
        closing = true;
        ++q;
    }
    if (!IsTagLetter(*q)) return nullptr;
    tok.tag = *q++;
    tok.kind = closing ? HtmlToken::kClose : HtmlToken::kOpen;
    tok.text.clear();
    if (*q == L' ' && !closing) {
        ++q;
        while (*q && *q != L'>' && *q != L'}') tok.text += *q++;
    }
    if (*q != L'>' && *q != L'}') return nullptr;
    return q + 1;
}

void AppendText(std::vector<HtmlToken>& out, const std::wstring& text) {
    if (text.empty()) return;
    if (!out.empty() && out.back().kind == HtmlToken::kText) {
        out.back().text += text;
        return;
    }
    HtmlToken t;
    t.text = text;
    out.push_back(std::move(t));
}

// The value of key='...' inside a tag argument, or empty.
std::wstring ArgValue(const std::wstring& arg, const wchar_t* key) {
    const std::wstring k = std::wstring(key) + L"='";
    size_t pos = arg.find(k);
    if (pos == std::wstring::npos) return std::wstring();
    pos += k.size();
    size_t end = arg.find(L'\'', pos);
    return arg.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
}

struct Piece {
    int x = 0;
    int width = 0;
    int height = 0;
    int ascent = 0;
    std::wstring text;
    HFONT font = nullptr;
    DWORD color = 0;
    bool selected = false;
    const TImageInfo* image = nullptr;
};

struct Line {
    std::vector<Piece> pieces;
    int width = 0;
    int height = 0;    // from the tallest piece (or the font when empty)
    int fixed = -1;    // set by "y"
    int spaceAbove = 0;
    int ascent = 0;
    int Height() const { return fixed >= 0 ? fixed : height; }
};

// Fonts derived from the paint manager's fonts for bold, italic and
// underline; created on demand and freed with the layout.
class FontCache {
public:
    FontCache(CPaintHostUI* manager) : manager_(manager) {}
    ~FontCache() {
        for (auto& kv : made_) DeleteObject(kv.second);
    }
    HFONT Get(int index, bool bold, bool italic, bool underline) {
        HFONT base = manager_ ? manager_->GetFont(index) : nullptr;
        if (!base) base = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        if (!bold && !italic && !underline) return base;
        auto key = std::make_tuple(index, bold, italic, underline);
        auto it = made_.find(key);
        if (it != made_.end()) return it->second;
        LOGFONTW lf = {};
        if (GetObjectW(base, sizeof(lf), &lf) == 0) return base;
        if (bold) lf.lfWeight = FW_BOLD;
        if (italic) lf.lfItalic = TRUE;
        if (underline) lf.lfUnderline = TRUE;
        HFONT f = CreateFontIndirectW(&lf);
        if (!f) return base;
        made_[key] = f;
        return f;
    }

private:
    CPaintHostUI* manager_;
    std::map<std::tuple<int, bool, bool, bool>, HFONT> made_;
};

class Layout {
public:
    Layout(HDC dc, CPaintHostUI* manager, int maxWidth, bool singleLine)
        : dc_(dc), manager_(manager), fonts_(manager), maxWidth_(maxWidth), singleLine_(singleLine) {
        lines_.emplace_back();
    }

    void Run(const std::vector<HtmlToken>& tokens, DWORD color, int font) {
        colors_.push_back(color);
        fontIdx_.push_back(font);
        for (const HtmlToken& t : tokens) {
            switch (t.kind) {
                case HtmlToken::kText: AddText(t.text); break;
                case HtmlToken::kLineBreak: NewLine(0); break;
                case HtmlToken::kOpen: Open(t); break;
                case HtmlToken::kClose: Close(t.tag); break;
            }
        }
        FinishLine();
    }

    std::vector<Line>& Lines() { return lines_; }
    HFONT CurrentFont() { return fonts_.Get(fontIdx_.back(), bold_ > 0, italic_ > 0, underline_ > 0); }
    SIZE Measure(HFONT font, const wchar_t* s, int len) {
        SIZE sz = {0, 0};
        HGDIOBJ old = SelectObject(dc_, font);
        GetTextExtentPoint32W(dc_, s, len, &sz);
        SelectObject(dc_, old);
        return sz;
    }

private:
    void Open(const HtmlToken& t) {
        switch (t.tag) {
            case L'b': ++bold_; break;
            case L'u': ++underline_; break;
            case L's': ++selected_; break;
            case L'a':
                ++underline_;
                colors_.push_back(manager_ ? manager_->GetDefaultLinkFontColor() : 0xFF0000FF);
                break;
            case L'c': colors_.push_back(uiattr::ParseColor(t.text.c_str())); break;
            case L'f': fontIdx_.push_back(uiattr::ParseInt(t.text.c_str())); break;
            case L'i': {
                std::wstring file = ArgValue(t.text, L"file");
                if (file.empty()) file = ArgValue(t.text, L"res");
                if (file.empty())
                    ++italic_;
                else
                    AddImage(file);
                break;
            }
            case L'n': NewLine(0); break;
            case L'p': NewLine(std::max(0, uiattr::ParseInt(t.text.c_str()))); break;
            case L'x': x_ += uiattr::ParseInt(t.text.c_str()); break;
            case L'y': lines_.back().fixed = std::max(0, uiattr::ParseInt(t.text.c_str())); break;
            default: break;
        }
    }

    void Close(wchar_t tag) {
        switch (tag) {
            case L'b': bold_ = std::max(0, bold_ - 1); break;
            case L'u': underline_ = std::max(0, underline_ - 1); break;
            case L's': selected_ = std::max(0, selected_ - 1); break;
            case L'i': italic_ = std::max(0, italic_ - 1); break;
            case L'a':
                underline_ = std::max(0, underline_ - 1);
                if (colors_.size() > 1) colors_.pop_back();
                break;
            case L'c':
                if (colors_.size() > 1) colors_.pop_back();
                break;
            case L'f':
                if (fontIdx_.size() > 1) fontIdx_.pop_back();
                break;
            case L'p': NewLine(0); break;
            default: break;
        }
    }

    void Place(Piece p) {
        Line& line = lines_.back();
        p.x = x_;
        x_ += p.width;
        line.width = std::max(line.width, x_);
        line.height = std::max(line.height, p.height);
        line.ascent = std::max(line.ascent, p.ascent);
        line.pieces.push_back(std::move(p));
    }

    void AddImage(const std::wstring& name) {
        const TImageInfo* img = manager_ ? manager_->GetImageEx(name) : nullptr;
        if (!img) return;
        if (!singleLine_ && x_ > 0 && x_ + img->width > maxWidth_) NewLine(0);
        Piece p;
        p.image = img;
        p.width = img->width;
        p.height = p.ascent = img->height;
        Place(std::move(p));
    }

    Piece TextPiece(const std::wstring& s, HFONT font) {
        Piece p;
        p.text = s;
        p.font = font;
        p.color = colors_.back();
        p.selected = selected_ > 0;
        TEXTMETRICW tm = {};
        HGDIOBJ old = SelectObject(dc_, font);
        GetTextMetricsW(dc_, &tm);
        SIZE sz = {0, 0};
        GetTextExtentPoint32W(dc_, s.c_str(), static_cast<int>(s.size()), &sz);
        SelectObject(dc_, old);
        p.width = sz.cx;
        p.height = tm.tmHeight;
        p.ascent = tm.tmAscent;
        return p;
    }

    void AddText(const std::wstring& text) {
        HFONT font = CurrentFont();
        std::wstring rest = text;
        while (!rest.empty()) {
            if (singleLine_) {
                Place(TextPiece(rest, font));
                return;
            }
            const int avail = std::max(0, maxWidth_ - x_);
            int fit = 0;
            SIZE sz = {0, 0};
            HGDIOBJ old = SelectObject(dc_, font);
            GetTextExtentExPointW(dc_, rest.c_str(), static_cast<int>(rest.size()), avail, &fit, nullptr, &sz);
            SelectObject(dc_, old);
            if (fit >= static_cast<int>(rest.size())) {
                Place(TextPiece(rest, font));
                return;
            }
            // Prefer the last blank inside what fits (Latin words); Chinese
            // text has none and breaks between any two characters.
            size_t brk = std::wstring::npos;
            for (int i = fit; i > 0; --i)
                if (rest[static_cast<size_t>(i)] == L' ') {
                    brk = static_cast<size_t>(i);
                    break;
                }
            if (brk != std::wstring::npos) {
                Place(TextPiece(rest.substr(0, brk), font));
                rest.erase(0, brk + 1);
            } else if (fit == 0 && x_ > 0) {
                // Nothing fits after earlier pieces: continue on a new line.
            } else {
                const size_t n = static_cast<size_t>(std::max(fit, 1));
                Place(TextPiece(rest.substr(0, n), font));
                rest.erase(0, n);
            }
            NewLine(0);
            while (!rest.empty() && rest[0] == L' ') rest.erase(0, 1);
        }
    }

    void FinishLine() {
        Line& line = lines_.back();
        if (line.height == 0) {
            TEXTMETRICW tm = {};
            HGDIOBJ old = SelectObject(dc_, CurrentFont());
            GetTextMetricsW(dc_, &tm);
            SelectObject(dc_, old);
            line.height = tm.tmHeight;
            line.ascent = tm.tmAscent;
        }
    }

    void NewLine(int spaceAbove) {
        FinishLine();
        lines_.emplace_back();
        lines_.back().spaceAbove = spaceAbove;
        x_ = 0;
    }

    HDC dc_;
    CPaintHostUI* manager_;
    FontCache fonts_;
    int maxWidth_;
    bool singleLine_;
    std::vector<Line> lines_;
    std::vector<DWORD> colors_;
    std::vector<int> fontIdx_;
    int bold_ = 0, italic_ = 0, underline_ = 0, selected_ = 0;
    int x_ = 0;

};

// Cuts `line` so that it and a trailing ellipsis fit in `maxWidth`.
void EndWithEllipsis(Layout& layout, Line& line, int maxWidth) {
    HFONT font = line.pieces.empty() || !line.pieces.back().font ? layout.CurrentFont() : line.pieces.back().font;
    const int dots = layout.Measure(font, kEllipsis, 3).cx;
    const int limit = std::max(0, maxWidth - dots);
    while (!line.pieces.empty()) {
        Piece& p = line.pieces.back();
        if (p.x + p.width <= limit) break;
        if (p.image || p.text.empty() || p.x >= limit) {
            line.pieces.pop_back();
            continue;
        }
        while (!p.text.empty() && p.x + layout.Measure(p.font, p.text.c_str(), static_cast<int>(p.text.size())).cx > limit)
            p.text.pop_back();
        p.width = layout.Measure(p.font, p.text.c_str(), static_cast<int>(p.text.size())).cx;
        break;
    }
    Piece tail;
    tail.text = kEllipsis;
    tail.font = font;
    tail.color = line.pieces.empty() ? 0xFF000000 : line.pieces.back().color;
    tail.x = line.pieces.empty() ? 0 : line.pieces.back().x + line.pieces.back().width;
    tail.width = dots;
    tail.height = line.height;
    tail.ascent = line.ascent;
    line.width = tail.x + dots;
    line.pieces.push_back(tail);
}

}  // namespace

std::vector<HtmlToken> TokenizeHtmlText(const wchar_t* text) {
    std::vector<HtmlToken> out;
    if (!text) return out;
    const wchar_t* p = text;
    std::wstring run;
    while (*p) {
        if (*p == L'\r') {
            ++p;
            continue;
        }
        if (*p == L'\n') {
            AppendText(out, run);
            run.clear();
            out.push_back(HtmlToken{HtmlToken::kLineBreak, 0, std::wstring()});
            ++p;
            continue;
        }
        HtmlToken tok;
        const wchar_t* next = (*p == L'<' || *p == L'{') ? ReadTag(p, tok) : nullptr;
        if (!next) {
            run += *p++;
            continue;
        }
        AppendText(out, run);
        run.clear();
        p = next;
        if (tok.tag == L'r') {
            if (tok.kind == HtmlToken::kClose) continue;
            // Raw text up to the closing tag (either bracket form).
            const wchar_t* end = p;
            while (*end && !((end[0] == L'<' || end[0] == L'{') && end[1] == L'/' && end[2] == L'r' &&
                             (end[3] == L'>' || end[3] == L'}')))
                ++end;
            AppendText(out, std::wstring(p, end));
            p = *end ? end + 4 : end;
            continue;
        }
        if (tok.tag == L'n') {
            if (tok.kind == HtmlToken::kOpen) out.push_back(HtmlToken{HtmlToken::kLineBreak, 0, std::wstring()});
            continue;
        }
        out.push_back(std::move(tok));
    }
    AppendText(out, run);
    return out;
}

void DrawHtmlText(HDC dc, CPaintHostUI* manager, RECT& rc, const wchar_t* text, DWORD color, int font, UINT style,
                  std::vector<HtmlLine>* linesOut) {
    if (linesOut) linesOut->clear();
    if (!dc || !text || !*text) return;
    const int maxWidth = std::max(0, static_cast<int>(rc.right - rc.left));
    const int maxHeight = std::max(0, static_cast<int>(rc.bottom - rc.top));
    const bool singleLine = (style & DT_SINGLELINE) != 0;
    Layout layout(dc, manager, maxWidth, singleLine);
    layout.Run(TokenizeHtmlText(text), color, font);
    // Single-line only means no breaks at the right edge (the layout made
    // none): a line feed the text asks for is kept, as the text's author meant
    // two lines.
    std::vector<Line>& lines = layout.Lines();

    if (style & DT_END_ELLIPSIS) {
        // The last line that fits (or the only line) ends in an ellipsis when
        // text is cut off after it or runs past the right edge.
        int y = 0;
        size_t shown = 0;
        while (shown < lines.size() && (shown == 0 || y + lines[shown].spaceAbove + lines[shown].Height() <= maxHeight)) {
            y += lines[shown].spaceAbove + lines[shown].Height();
            ++shown;
        }
        Line& last = lines[shown - 1];
        if (shown < lines.size() || last.width > maxWidth) {
            lines.resize(shown);
            EndWithEllipsis(layout, last, maxWidth);
        }
    }

    int total = 0, widest = 0;
    for (const Line& l : lines) {
        total += l.spaceAbove + l.Height();
        widest = std::max(widest, l.width);
    }
    if (style & DT_CALCRECT) {
        rc.right = rc.left + widest;
        rc.bottom = rc.top + total;
        return;
    }

    int y = rc.top;
    if (style & DT_VCENTER)
        y = rc.top + (maxHeight - total) / 2;
    else if (style & DT_BOTTOM)
        y = rc.bottom - total;

    CRenderClip clip;
    clip.Generate(dc, rc);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColor = GetTextColor(dc);
    HGDIOBJ oldFont = GetCurrentObject(dc, OBJ_FONT);
    const DWORD selectedBk = manager ? manager->GetDefaultSelectedBkColor() : 0xFFBAE4FF;
    for (const Line& line : lines) {
        y += line.spaceAbove;
        int x = rc.left;
        if (style & DT_CENTER)
            x = rc.left + (maxWidth - line.width) / 2;
        else if (style & DT_RIGHT)
            x = rc.right - line.width;
        HtmlLine out;
        out.rc = RECT{x, y, x + line.width, y + line.Height()};
        for (const Piece& p : line.pieces) {
            const int top = y + line.ascent - p.ascent;
            RECT prc = {x + p.x, top, x + p.x + p.width, top + p.height};
            if (p.selected) render::DrawColor(dc, prc, selectedBk);
            if (p.image) {
                render::ImageParts parts;
                parts.source = RECT{0, 0, p.image->width, p.image->height};
                render::DrawImage(dc, *p.image, prc, rc, parts);
                continue;
            }
            SelectObject(dc, p.font);
            SetTextColor(dc, RGB((p.color >> 16) & 0xFF, (p.color >> 8) & 0xFF, p.color & 0xFF));
            TextOutW(dc, prc.left, prc.top, p.text.c_str(), static_cast<int>(p.text.size()));
            out.text += p.text;
        }
        if (linesOut) linesOut->push_back(std::move(out));
        y += line.Height();
    }
    SelectObject(dc, oldFont);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}
