#include "ui/FocusChain.h"

#include <algorithm>

namespace {

bool CentreWithin(const RECT& a, const RECT& b) {
    const LONG centre = (a.top + a.bottom) / 2;
    return centre >= b.top && centre < b.bottom;
}

}  // namespace

std::vector<size_t> ReadingOrder(const std::vector<RECT>& rects) {
    std::vector<size_t> byTop(rects.size());
    for (size_t i = 0; i < byTop.size(); ++i) byTop[i] = i;
    std::stable_sort(byTop.begin(), byTop.end(), [&](size_t a, size_t b) {
        return rects[a].top != rects[b].top ? rects[a].top < rects[b].top : rects[a].left < rects[b].left;
    });
    std::vector<size_t> order;
    // Appends byTop[from, to) as one line, left to right.
    auto addLine = [&](size_t from, size_t to) {
        const size_t at = order.size();
        order.insert(order.end(), byTop.begin() + static_cast<long>(from), byTop.begin() + static_cast<long>(to));
        std::stable_sort(order.begin() + static_cast<long>(at), order.end(),
                         [&](size_t a, size_t b) { return rects[a].left < rects[b].left; });
    };
    size_t lineStart = 0;
    for (size_t k = 1; k < byTop.size(); ++k) {
        // A line is led by its topmost rectangle; the first one that is not
        // level with the leader starts the next line.
        const RECT& lead = rects[byTop[lineStart]];
        const RECT& r = rects[byTop[k]];
        if (!CentreWithin(r, lead) && !CentreWithin(lead, r)) {
            addLine(lineStart, k);
            lineStart = k;
        }
    }
    if (!byTop.empty()) addLine(lineStart, byTop.size());
    return order;
}

size_t NextInChain(size_t count, size_t current, bool forward) {
    if (count == 0) return static_cast<size_t>(-1);
    if (current >= count) return forward ? 0 : count - 1;
    if (forward) return current + 1 == count ? 0 : current + 1;
    return current == 0 ? count - 1 : current - 1;
}
