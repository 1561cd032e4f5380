#pragma once
// Text conversion between the wide strings the program keeps and the byte
// strings of the HTTP layer, plus wide printf-style formatting.
//
// Formats follow the Windows C runtime's conventions for wide functions: %s
// takes a wide string, %S a narrow one, %d an int, %I64d / %lld a 64-bit value.
// All functions are safe on any thread.

#include <cstdarg>
#include <string>

// ANSI code page → wide / wide → ANSI code page (or the given code page).
// Characters the code page cannot hold become a space. Failures give an empty
// string.
std::string ToNarrow(const std::wstring& wide);
std::string ToNarrow(const std::wstring& wide, unsigned codePage);
std::wstring ToWide(const std::string& narrow);
// UTF-8 → wide, for manifest bodies.
std::wstring Utf8ToWide(const std::string& narrow);

// Formatted text of any length; a null format or an empty result gives "".
std::wstring Format(const wchar_t* format, ...);
std::wstring VFormat(const wchar_t* format, va_list args);

// Strips leading and trailing white space in place. A string made only of
// white space is left as it is.
std::wstring& Trim(std::wstring& text);
