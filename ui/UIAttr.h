#pragma once
// Parsing of attribute values shared by controls, the layout builder and the
// image description strings. Plain data only; safe on any thread.
//
// Value syntax:
//   integer  decimal text with the usual optional sign; a non-number gives 0;
//            values beyond +-kMaxValue are clamped to it (a damaged skin's
//            extremes must not overflow the layout's arithmetic)
//   boolean  exactly "true" is true, anything else (even "True") false
//   list     integers separated by one character each ("1,2,3,4")
//   colour   hexadecimal AARRGGBB with an optional leading "#"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace uiattr {

constexpr int kMaxValue = 1000000;

int ParseInt(const wchar_t* text);
bool ParseBool(const wchar_t* text);

// Reads up to `count` integers separated by single characters into `out`
// (missing numbers stay 0). Returns how many numbers were actually present.
int ParseList(const wchar_t* text, int* out, int count);
RECT ParseRect(const wchar_t* text);
SIZE ParseSize(const wchar_t* text);

// Leading blanks and one "#" are skipped; a value that is not hexadecimal
// stops at the first non-digit (so "" or "zz" give 0).
DWORD ParseColor(const wchar_t* text);

// An attribute list as stored by "Default" declarations and the scroll bar
// styles: name="value" pairs separated by blanks; values may also be quoted
// with single quotes. Parsing stops at the first malformed pair.
std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const wchar_t* text);

bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

}  // namespace uiattr
