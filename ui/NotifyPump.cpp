#include "ui/NotifyPump.h"

#include "ui/Control.h"
#include "ui/UIAttr.h"

bool CNotifyPump::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
    if (a.empty() || b.empty()) return a.size() < b.size();
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

bool CNotifyPump::AddVirtualWnd(const std::wstring& name, CNotifyPump* pump) {
    if (!pump || name.empty() || virtualWnds_.count(name)) return false;
    virtualWnds_[name] = pump;
    return true;
}

bool CNotifyPump::RemoveVirtualWnd(const std::wstring& name) { return virtualWnds_.erase(name) > 0; }

bool CNotifyPump::NotifyPump(TNotifyRecord& msg) {
    if (!msg.virtualWnd.empty()) {
        auto it = virtualWnds_.find(msg.virtualWnd);
        if (it != virtualWnds_.end() && it->second->LoopDispatch(msg)) return true;
    }
    return LoopDispatch(msg);
}

bool CNotifyPump::LoopDispatch(TNotifyRecord& msg) {
    const std::wstring senderName = msg.sender ? msg.sender->GetName() : std::wstring();
    for (const NotifyMap* map = GetNotifyMap(); map; map = map->base) {
        const NotifyMapEntry* fallback = nullptr;
        const NotifyMapEntry* chosen = nullptr;
        for (const NotifyMapEntry* e = map->entries; e && e->type; ++e) {
            if (msg.type != e->type) continue;
            if (!e->controlName || !*e->controlName) {
                if (!fallback) fallback = e;
                continue;
            }
            if (senderName == e->controlName) {
                chosen = e;
                break;
            }
        }
        if (!chosen) chosen = fallback;
        if (!chosen) continue;
        if (chosen->kind == kNotifyHandlerParams && chosen->onParams)
            (this->*(chosen->onParams))(msg.wParam, msg.lParam);
        else if (chosen->kind == kNotifyHandlerRecord && chosen->onRecord)
            (this->*(chosen->onRecord))(msg);
        return true;
    }
    return false;
}
