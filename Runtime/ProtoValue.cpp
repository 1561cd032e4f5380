#include "Runtime/ProtoValue.h"

#include <utility>

namespace {

const wchar_t kIndexMessage[] = L"ProtoValue operator[int] out of range";
const wchar_t kKeyMessage[] = L"ProtoValue operator[string] wrong type";
const wchar_t kIntegerMessage[] = L"ProtoValue::integer wrong type";
const wchar_t kStringMessage[] = L"ProtoValue::string wrong type";
const wchar_t kNarrowMessage[] = L"ProtoValue::narrow wrong type";

// What every null value reads as. Handed out only by const reference, so no
// caller can change what the next null value reads.
const ProtoValue& SharedNull()
{
    static const ProtoValue value;
    return value;
}
const int64_t kSharedZero = 0;
const std::wstring& SharedEmptyWide()
{
    static const std::wstring value;
    return value;
}
const std::string& SharedEmptyNarrow()
{
    static const std::string value;
    return value;
}
const ProtoValue::Array& SharedEmptyArray()
{
    static const ProtoValue::Array value;
    return value;
}
const ProtoValue::Map& SharedEmptyMap()
{
    static const ProtoValue::Map value;
    return value;
}

}  // namespace

ProtoValueException::ProtoValueException(int32_t code, const wchar_t* message)
    : code(code), message(message)
{
    // The messages are plain ASCII; keep a byte copy for what().
    for (wchar_t c : this->message)
        narrow_.push_back(static_cast<char>(c));
}

bool ProtoValue::KeyLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const uint16_t ca = static_cast<uint16_t>(a[i]);
        const uint16_t cb = static_cast<uint16_t>(b[i]);
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

ProtoValue::ProtoValue(Type type)
{
    // Allocate first and set the type last, so a failed allocation leaves null.
    switch (type) {
    case kInteger: payload_.integer = 0; break;
    case kNarrow: payload_.narrow = new std::string(); break;
    case kWide: payload_.wide = new std::wstring(); break;
    case kArray: payload_.array = new Array(); break;
    case kMap: payload_.map = new Map(); break;
    default: return;
    }
    type_ = type;
}

ProtoValue::ProtoValue(const std::wstring& text)
{
    payload_.wide = new std::wstring(text);
    type_ = kWide;
}

ProtoValue::ProtoValue(const wchar_t* text)
{
    payload_.wide = text ? new std::wstring(text) : new std::wstring();
    type_ = kWide;
}

ProtoValue::ProtoValue(const std::string& bytes)
{
    payload_.narrow = new std::string(bytes);
    type_ = kNarrow;
}

ProtoValue::ProtoValue(const char* bytes)
{
    payload_.narrow = bytes ? new std::string(bytes) : new std::string();
    type_ = kNarrow;
}

ProtoValue::ProtoValue(const ProtoValue& other)
{
    // Deep copy. If a nested copy throws, the containers' own copy constructors
    // free what they had built, and this value never owned anything.
    switch (other.type_) {
    case kInteger: payload_.integer = other.payload_.integer; break;
    case kNarrow: payload_.narrow = new std::string(*other.payload_.narrow); break;
    case kWide: payload_.wide = new std::wstring(*other.payload_.wide); break;
    case kArray: payload_.array = new Array(*other.payload_.array); break;
    case kMap: payload_.map = new Map(*other.payload_.map); break;
    default: return;
    }
    type_ = other.type_;
}

ProtoValue::ProtoValue(ProtoValue&& other) noexcept
{
    Swap(other);
}

ProtoValue& ProtoValue::operator=(const ProtoValue& other)
{
    ProtoValue copy(other);
    Swap(copy);
    return *this;
}

ProtoValue& ProtoValue::operator=(ProtoValue&& other) noexcept
{
    // Not a plain swap: if `other` is a member of this tree, swapping would
    // hang this tree's old payload inside itself. Taking `other` out first
    // leaves a null in its place, and the old payload dies with `taken`.
    ProtoValue taken(std::move(other));
    Swap(taken);
    return *this;
}

ProtoValue::~ProtoValue()
{
    Reset();
}

void ProtoValue::Swap(ProtoValue& other) noexcept
{
    std::swap(type_, other.type_);
    std::swap(payload_, other.payload_);
}

void ProtoValue::Reset() noexcept
{
    switch (type_) {
    case kNarrow: delete payload_.narrow; break;
    case kWide: delete payload_.wide; break;
    case kArray: delete payload_.array; break;
    case kMap: delete payload_.map; break;
    default: break;
    }
    type_ = kNull;
    payload_.integer = 0;
}

ProtoValue& ProtoValue::operator[](int index)
{
    if (type_ == kNull) {
        payload_.array = new Array();
        type_ = kArray;
    }
    if (type_ != kArray || index < 0)
        throw ProtoValueException(ProtoValueException::kIndex, kIndexMessage);
    Array& items = *payload_.array;
    const size_t at = static_cast<size_t>(index);
    if (at < items.size())
        return items[at];
    if (at == items.size()) {
        items.emplace_back();
        return items.back();
    }
    throw ProtoValueException(ProtoValueException::kIndex, kIndexMessage);
}

ProtoValue& ProtoValue::operator[](const std::wstring& key)
{
    if (type_ == kNull) {
        payload_.map = new Map();
        type_ = kMap;
    }
    if (type_ != kMap)
        throw ProtoValueException(ProtoValueException::kKey, kKeyMessage);
    return (*payload_.map)[key];
}

const ProtoValue& ProtoValue::Find(const std::wstring& key) const noexcept
{
    if (type_ != kMap)
        return SharedNull();
    Map::const_iterator it = payload_.map->find(key);
    return it == payload_.map->end() ? SharedNull() : it->second;
}

bool ProtoValue::Has(const std::wstring& key) const noexcept
{
    return type_ == kMap && payload_.map->find(key) != payload_.map->end();
}

void ProtoValue::Append(const ProtoValue& value)
{
    // Copy before growing: `value` may be an element of this very array, and
    // appending can move the elements and leave the reference dangling.
    ProtoValue copy(value);
    ProtoValue& slot = (*this)[static_cast<int>(Count())];
    slot.Swap(copy);
}

size_t ProtoValue::Count() const noexcept
{
    if (type_ == kArray)
        return payload_.array->size();
    if (type_ == kMap)
        return payload_.map->size();
    return 0;
}

const int64_t& ProtoValue::integer() const
{
    if (type_ == kInteger)
        return payload_.integer;
    if (type_ == kNull)
        return kSharedZero;
    throw ProtoValueException(ProtoValueException::kAccess, kIntegerMessage);
}

const std::wstring& ProtoValue::string() const
{
    if (type_ == kWide)
        return *payload_.wide;
    if (type_ == kNull)
        return SharedEmptyWide();
    throw ProtoValueException(ProtoValueException::kAccess, kStringMessage);
}

const std::string& ProtoValue::narrow() const
{
    if (type_ == kNarrow)
        return *payload_.narrow;
    if (type_ == kNull)
        return SharedEmptyNarrow();
    throw ProtoValueException(ProtoValueException::kAccess, kNarrowMessage);
}

const ProtoValue::Array& ProtoValue::elements() const noexcept
{
    return type_ == kArray ? *payload_.array : SharedEmptyArray();
}

const ProtoValue::Map& ProtoValue::members() const noexcept
{
    return type_ == kMap ? *payload_.map : SharedEmptyMap();
}
