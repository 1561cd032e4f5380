#pragma once
// A small value tree typed at run time: null, 64-bit integer, narrow (byte)
// string, wide string, array, or map keyed by wide strings. It carries
// structured data that has no fixed record type: response headers, the result
// tree of a request attempt, the download progress record.
//
// Lookups through operator[] create what is missing, and the accessors throw
// ProtoValueException on a wrong type, so a caller can chain a member lookup
// and a read in one expression: `tree[L"http"][L"code"].integer()`.
// Find / Has are the read-only lookups that never create and never throw.
//
// Ownership: every value owns its payload outright; copies are deep and there
// is no sharing or reference counting.
// Threads: a value is not safe for concurrent use; each tree is written and
// read by one thread at a time (its owner decides which).

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

class ProtoValueException : public std::exception {
public:
    enum : int32_t { kIndex = 1, kKey = 2, kAccess = 3 };

    ProtoValueException(int32_t code, const wchar_t* message);
    const char* what() const noexcept override { return narrow_.c_str(); }

    int32_t code;
    std::wstring message;

private:
    std::string narrow_;  // what() text for handlers that only know std::exception
};

class ProtoValue {
public:
    // Type codes as stored; 2 is unused and taken as null.
    enum Type : int32_t { kNull = 0, kInteger = 1, kNarrow = 3, kWide = 4, kArray = 5, kMap = 6 };

    // Keys compare by plain UTF-16 code units, case-sensitive ("Zeta" < "alpha"),
    // independent of locale or of the signedness of wchar_t.
    struct KeyLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    using Array = std::vector<ProtoValue>;
    using Map = std::map<std::wstring, ProtoValue, KeyLess>;

    ProtoValue() noexcept {}
    // An empty value of the given type (zero, "", [], {}); unknown codes give null.
    explicit ProtoValue(Type type);
    // Any integer argument (int, DWORD, 64-bit) makes an integer value. A
    // template so that `value = 0` or `value = status` can never pick the
    // type-code or the string constructor by accident.
    template <typename T, typename std::enable_if<std::is_integral<T>::value, int>::type = 0>
    ProtoValue(T number) noexcept : type_(kInteger)
    {
        payload_.integer = static_cast<int64_t>(number);
    }
    ProtoValue(const std::wstring& text);
    ProtoValue(const wchar_t* text);  // null is taken as ""
    ProtoValue(const std::string& bytes);
    ProtoValue(const char* bytes);  // null is taken as ""

    ProtoValue(const ProtoValue& other);
    ProtoValue(ProtoValue&& other) noexcept;
    // Both assignments first take the source into a temporary and then swap it
    // in: a failing copy leaves this value unchanged, and assigning a tree from
    // one of its own members (`tree = tree[L"a"]`) is well defined.
    ProtoValue& operator=(const ProtoValue& other);
    ProtoValue& operator=(ProtoValue&& other) noexcept;
    ~ProtoValue();

    void Swap(ProtoValue& other) noexcept;
    // Frees the payload; the value becomes null.
    void Reset() noexcept;

    Type type() const { return type_; }
    bool IsNull() const { return type_ == kNull; }

    // Array access. Null first becomes an empty array. index == element count
    // appends a null element; an index within the elements returns it. Any
    // other index, or a value of another type, throws code 1.
    ProtoValue& operator[](int index);
    // Map access. Null first becomes an empty map; a missing key is inserted
    // with a null value. A value of another type throws code 2.
    ProtoValue& operator[](const std::wstring& key);

    // The value under `key` on a map that holds it; otherwise a shared null.
    const ProtoValue& Find(const std::wstring& key) const noexcept;
    bool Has(const std::wstring& key) const noexcept;

    // Appends a copy of `value` at operator[](Count()): appends to an array,
    // turns null into a one-element array, throws code 1 for any other type.
    // `value` may live inside this tree (or be the tree itself).
    void Append(const ProtoValue& value);

    // Elements of an array or entries of a map; 0 for every other type.
    size_t Count() const noexcept;

    // Read accessors. Null reads as 0 / an empty string; another type throws
    // code 3. The references are read-only because null values all share the
    // same zero and empty strings; write with assignment instead.
    const int64_t& integer() const;
    const std::wstring& string() const;
    const std::string& narrow() const;

    // Read-only walks: array elements in order, map entries in key order.
    // Any other type reads as empty, like Find.
    const Array& elements() const noexcept;
    const Map& members() const noexcept;

private:
    Type type_ = kNull;
    union Payload {
        int64_t integer;
        std::string* narrow;
        std::wstring* wide;
        Array* array;
        Map* map;
    } payload_ = {0};
};
