#include "Runtime/TextUtil.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <vector>

std::string ToNarrow(const std::wstring& wide)
{
    return ToNarrow(wide, CP_ACP);
}

std::string ToNarrow(const std::wstring& wide, unsigned codePage)
{
    if (wide.empty())
        return std::string();
    // WideCharToMultiByte refuses a default character for UTF-8 code pages; those
    // can represent everything anyway, so no replacement is needed there.
    const UINT cp = codePage == CP_ACP ? GetACP() : codePage;
    const bool utf = (cp == CP_UTF8 || cp == CP_UTF7);
    const char* replacement = utf ? nullptr : " ";
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf ? nullptr : &usedDefault;
    const int length = static_cast<int>(wide.size());
    // Measured first: a character takes up to two bytes in the Chinese code
    // page, but up to three (four for a surrogate pair) in UTF-8, which
    // Windows offers as the system code page.
    const int capacity = WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, replacement, usedDefaultOut);
    if (capacity <= 0)
        return std::string();
    std::vector<char> buf(static_cast<size_t>(capacity));
    int n = WideCharToMultiByte(codePage, 0, wide.data(), length, buf.data(), capacity, replacement, usedDefaultOut);
    if (n <= 0)
        return std::string();
    return std::string(buf.data(), static_cast<size_t>(n));
}

namespace {

std::wstring MultiToWide(UINT codePage, const std::string& narrow, size_t capacity)
{
    if (narrow.empty())
        return std::wstring();
    std::vector<wchar_t> buf(capacity);
    int n = MultiByteToWideChar(codePage, 0, narrow.data(), static_cast<int>(narrow.size()), buf.data(),
                                static_cast<int>(capacity));
    if (n <= 0)
        return std::wstring();
    return std::wstring(buf.data(), static_cast<size_t>(n));
}

}  // namespace

std::wstring ToWide(const std::string& narrow)
{
    return MultiToWide(CP_ACP, narrow, narrow.size() + 1);
}

std::wstring Utf8ToWide(const std::string& narrow)
{
    return MultiToWide(CP_UTF8, narrow, 2 * narrow.size() + 1);
}

std::wstring VFormat(const wchar_t* format, va_list args)
{
    if (!format)
        return std::wstring();
    // The Windows runtime's wide formatter (not the C99 one that mingw may
    // substitute for vswprintf): %s must mean a wide string here.
    va_list measure;
    va_copy(measure, args);
    int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(length) + 1, L'\0');
    va_list fill;
    va_copy(fill, args);
    int written = _vsnwprintf(buf.data(), static_cast<size_t>(length) + 1, format, fill);
    va_end(fill);
    if (written <= 0)
        return std::wstring();
    return std::wstring(buf.data(), static_cast<size_t>(written));
}

std::wstring Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring out = VFormat(format, args);
    va_end(args);
    return out;
}

std::wstring& Trim(std::wstring& text)
{
    size_t first = 0;
    while (first < text.size() && iswspace(text[first]))
        ++first;
    if (first == text.size())
        return text;  // only white space (or empty): unchanged
    size_t last = text.size();
    while (last > first && iswspace(text[last - 1]))
        --last;
    text = text.substr(first, last - first);
    return text;
}
