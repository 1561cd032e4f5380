#pragma once
// CNotifyPump: routes a notification to a handler by its type and the sender's
// name. A window class declares a notify map (a table of entries ending in an
// empty one, linked to its base class's map); the first map in the chain with
// a matching entry decides. Pumps of "virtual windows" can be registered by
// name and are tried first for records that carry that name.
//
// Threads: UI thread only. Registered virtual-window pumps are not owned.

#include <map>
#include <string>

#include "ui/UIDefine.h"

class CNotifyPump;

using NotifyRecordHandler = void (CNotifyPump::*)(TNotifyRecord& msg);
using NotifyParamsHandler = void (CNotifyPump::*)(WPARAM wParam, LPARAM lParam);

enum : int {
    kNotifyHandlerParams = 1,  // handler takes (wParam, lParam)
    kNotifyHandlerRecord = 2,  // handler takes the record
};

struct NotifyMapEntry {
    const wchar_t* type;         // null ends the table
    const wchar_t* controlName;  // empty: any control
    int kind;
    NotifyRecordHandler onRecord;
    NotifyParamsHandler onParams;
};

struct NotifyMap {
    const NotifyMap* base;
    const NotifyMapEntry* entries;
};

class CNotifyPump {
public:
    CNotifyPump() = default;
    virtual ~CNotifyPump() = default;

    bool AddVirtualWnd(const std::wstring& name, CNotifyPump* pump);
    bool RemoveVirtualWnd(const std::wstring& name);
    // True when some handler took the record.
    bool NotifyPump(TNotifyRecord& msg);

    virtual const NotifyMap* GetNotifyMap() const { return nullptr; }

protected:
    bool LoopDispatch(TNotifyRecord& msg);

private:
    struct NoCase {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    std::map<std::wstring, CNotifyPump*, NoCase> virtualWnds_;
};

// Declaring and defining maps. Handlers are member functions of the class
// that declares the map:
//   OV_NOTIFY_MAP_BEGIN(CMyWnd, WindowImplBase)
//     OV_NOTIFY_ON_RECORD(L"click", L"btn_ok", &CMyWnd::OnOk)
//     OV_NOTIFY_ON_PARAMS(L"timer", L"", &CMyWnd::OnTimer)
//   OV_NOTIFY_MAP_END()
#define OV_DECLARE_NOTIFY_MAP()                       \
public:                                               \
    static const NotifyMap notifyMap_;                \
    const NotifyMap* GetNotifyMap() const override;   \
                                                      \
private:                                              \
    static const NotifyMapEntry notifyEntries_[];

#define OV_NOTIFY_MAP_BEGIN(theClass, baseClass)                                        \
    const NotifyMap* theClass::GetNotifyMap() const { return &theClass::notifyMap_; }   \
    const NotifyMap theClass::notifyMap_ = {&baseClass::notifyMap_, theClass::notifyEntries_}; \
    const NotifyMapEntry theClass::notifyEntries_[] = {

#define OV_NOTIFY_MAP_BEGIN_ROOT(theClass)                                              \
    const NotifyMap* theClass::GetNotifyMap() const { return &theClass::notifyMap_; }   \
    const NotifyMap theClass::notifyMap_ = {nullptr, theClass::notifyEntries_};         \
    const NotifyMapEntry theClass::notifyEntries_[] = {

#define OV_NOTIFY_ON_RECORD(type, name, handler) \
    {type, name, kNotifyHandlerRecord, static_cast<NotifyRecordHandler>(handler), nullptr},
#define OV_NOTIFY_ON_PARAMS(type, name, handler) \
    {type, name, kNotifyHandlerParams, nullptr, static_cast<NotifyParamsHandler>(handler)},

#define OV_NOTIFY_MAP_END() {nullptr, nullptr, 0, nullptr, nullptr} };
