#pragma once
// What a screen reader is told about the controls of a window, as plain data:
// which controls it sees (ExposedControls: their 1-based position in that
// list is their child id, stable for the life of the tree) and, for each, a
// role, a name, a value, a state and a default action (Describe). The COM
// object that hands this to other processes is AccessibleWindow.h; keeping
// the mapping here lets it be checked without COM.
//
// Roles and states are the system's (oleacc.h ROLE_SYSTEM_*, STATE_SYSTEM_*).
// The markup may name a control ("accname", for image-only buttons) and give
// it the role "link" ("accrole"); otherwise the class decides.
//
// Threads: UI thread of the controls' window.

#include <string>
#include <vector>

class CControlUI;

struct AccessibleDescription {
    long role = 0;  // 0: not exposed
    std::wstring name;
    std::wstring value;
    long state = 0;
    std::wstring defaultAction;  // empty: none
};

// Every exposed control of the tree under `root`, in tree order, hidden
// ones included (a hidden page's controls keep their ids).
std::vector<CControlUI*> ExposedControls(CControlUI* root);

// The description of `control`; `windowEnabled` is false while the window
// is disabled (under a modal box), which makes every control unavailable.
AccessibleDescription DescribeControl(CControlUI& control, bool windowEnabled);

// The text of `control` as read aloud: line breaks become blanks.
std::wstring SpokenText(const std::wstring& text);
