#include "ui/UIAttr.h"

#include <cwchar>
#include <cwctype>

namespace uiattr {

namespace {

// Numbers of a layout document are pixel positions, sizes, counts and indexes;
// no screen comes near a million. Kept well inside that range, the sums and
// differences the layout forms from them cannot overflow, whatever a damaged
// skin says.
int Clamp(long v) {
    if (v > kMaxValue) return kMaxValue;
    if (v < -kMaxValue) return -kMaxValue;
    return static_cast<int>(v);
}

}  // namespace

int ParseInt(const wchar_t* text) {
    if (!text) return 0;
    return Clamp(wcstol(text, nullptr, 10));
}

bool ParseBool(const wchar_t* text) { return text && wcscmp(text, L"true") == 0; }

int ParseList(const wchar_t* text, int* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = 0;
    if (!text) return 0;
    const wchar_t* p = text;
    int found = 0;
    for (int i = 0; i < count; ++i) {
        wchar_t* end = nullptr;
        long v = wcstol(p, &end, 10);
        if (end == p) break;
        out[i] = Clamp(v);
        ++found;
        // Exactly one separator character between numbers.
        if (*end == L'\0') break;
        p = end + 1;
    }
    return found;
}

RECT ParseRect(const wchar_t* text) {
    int v[4];
    ParseList(text, v, 4);
    RECT rc = {v[0], v[1], v[2], v[3]};
    return rc;
}

SIZE ParseSize(const wchar_t* text) {
    int v[2];
    ParseList(text, v, 2);
    SIZE sz = {v[0], v[1]};
    return sz;
}

DWORD ParseColor(const wchar_t* text) {
    if (!text) return 0;
    while (*text == L' ' || *text == L'\t') ++text;
    if (*text == L'#') ++text;
    return static_cast<DWORD>(wcstoul(text, nullptr, 16));
}

std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const wchar_t* text) {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    if (!text) return out;
    const wchar_t* p = text;
    for (;;) {
        while (*p && iswspace(*p)) ++p;
        if (!*p) break;
        std::wstring name;
        while (*p && *p != L'=' && !iswspace(*p)) name += *p++;
        while (*p && iswspace(*p)) ++p;
        if (*p != L'=' || name.empty()) break;
        ++p;
        while (*p && iswspace(*p)) ++p;
        wchar_t quote = *p;
        if (quote != L'"' && quote != L'\'') break;
        ++p;
        std::wstring value;
        while (*p && *p != quote) value += *p++;
        if (*p != quote) break;
        ++p;
        out.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace uiattr
