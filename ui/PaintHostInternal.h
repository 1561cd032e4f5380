#pragma once
// What the PaintHost*.cpp files share among themselves and nobody else needs:
// the posted message that drains the delayed queues, the process-wide list of
// managers, and the small list helpers. Callers include ui/PaintHost.h only.

#include <windows.h>

#include <algorithm>
#include <vector>

class CPaintHostUI;

namespace painthost {

// Posted to drain the delayed cleanup queue and the delayed notifications.
constexpr UINT kMsgDelayed = WM_APP + 1;
// The window timer that delivers a value change held back by the once-a-second rule.
constexpr UINT_PTR kAccessibleValueTimer = 0x0ACC;

// Every manager bound to a window, for pre-translation in modal loops.
// UI thread only, like the managers themselves.
std::vector<CPaintHostUI*>& Managers();

template <class T>
bool AddUnique(std::vector<T*>& list, T* item) {
    if (!item || std::find(list.begin(), list.end(), item) != list.end()) return false;
    list.push_back(item);
    return true;
}

template <class T>
bool RemoveItem(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

}  // namespace painthost
