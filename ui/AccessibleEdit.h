#pragma once
// The accessible object of the native edit window while the directory field
// is being typed in: the system's own object for an edit box (text, caret,
// value), with the name a screen reader cannot find by itself (the label
// beside the field is painted, not a window). Everything else is the
// system's object's answer.
//
// Lifetime: reference-counted like any accessible object; it keeps a copy of
// the name and the system's object, never the control or its window object.
// Threads: the edit window's UI thread.

#include <windows.h>
#include <oleacc.h>

#include <string>

// Answers WM_GETOBJECT for `edit`'s client area with the system's edit object
// named `name`; false when there is nothing to answer (the system's default
// answer then stands).
bool AnswerEditObject(HWND edit, const std::wstring& name, WPARAM wParam, LPARAM lParam, LRESULT* result);
