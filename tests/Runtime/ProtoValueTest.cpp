#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Runtime/ProtoValue.h"

namespace {

// A small tree with every payload kind, nested.
ProtoValue SampleTree()
{
    ProtoValue tree;
    tree[L"name"] = L"setup";
    tree[L"body"] = std::string("raw\x01");
    tree[L"process"][L"total"] = 1000;
    tree[L"list"].Append(7);
    tree[L"list"].Append(L"x");
    return tree;
}

}  // namespace

TEST(ProtoValue, CopiesAreDeepAndIndependent)
{
    ProtoValue source = SampleTree();
    ProtoValue copy(source);
    copy[L"name"] = L"changed";
    copy[L"process"][L"total"] = 1;
    copy[L"list"][0] = 8;
    copy[L"list"].Append(9);

    EXPECT_EQ(source.Find(L"name").string(), L"setup");
    EXPECT_EQ(source.Find(L"process").Find(L"total").integer(), 1000);
    EXPECT_EQ(source[L"list"][0].integer(), 7);
    EXPECT_EQ(source[L"list"].Count(), 2u);

    ProtoValue assigned;
    assigned = source;
    source.Reset();
    EXPECT_TRUE(source.IsNull());
    EXPECT_EQ(assigned.Find(L"body").narrow(), std::string("raw\x01"));
    EXPECT_EQ(assigned[L"list"][1].string(), L"x");
}

TEST(ProtoValue, AssigningFromInsideItsOwnTreeIsWellDefined)
{
    ProtoValue tree = SampleTree();
    tree = tree[L"process"];  // the source is freed along with the old payload
    EXPECT_EQ(tree.Count(), 1u);
    EXPECT_EQ(tree.Find(L"total").integer(), 1000);

    tree[L"self"] = tree;  // `self` exists (null) by the time the copy is taken
    EXPECT_EQ(tree.Find(L"self").Find(L"total").integer(), 1000);
    EXPECT_TRUE(tree.Find(L"self").Find(L"self").IsNull());

    ProtoValue moved = SampleTree();
    moved = std::move(moved[L"process"]);
    EXPECT_EQ(moved.Count(), 1u);
    EXPECT_EQ(moved.Find(L"total").integer(), 1000);

    // Appending an element of the same array: growth moves the elements, so
    // the source must have been copied first.
    ProtoValue list;
    list.Append(L"first");
    for (int i = 0; i < 100; ++i)
        list.Append(list[0]);
    list.Append(list);
    ASSERT_EQ(list.Count(), 102u);
    EXPECT_EQ(list[100].string(), L"first");
    EXPECT_EQ(list[101].Count(), 101u);
}

TEST(ProtoValue, MisuseThrowsTheCodeOfItsKind)
{
    // 1: no such element, 2: not a map, 3: not the value's type.
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
    };
    const std::vector<Case> cases = {
        {"[1] on empty array", [] { ProtoValue v(ProtoValue::kArray); v[1]; }, 1},
        {"[-1] on array", [] { ProtoValue v; v.Append(1); v[-1]; }, 1},
        {"[0] on map", [] { ProtoValue v(ProtoValue::kMap); v[0]; }, 1},
        {"Append on integer", [] { ProtoValue v(5); v.Append(1); }, 1},
        {"Append on map", [] { ProtoValue v; v[L"a"] = 1; v.Append(1); }, 1},
        {"Append on string", [] { ProtoValue v(L"s"); v.Append(1); }, 1},
        {"[key] on integer", [] { ProtoValue v(5); v[L"k"]; }, 2},
        {"[key] on array", [] { ProtoValue v(ProtoValue::kArray); v[L"k"]; }, 2},
        {"integer() on string", [] { ProtoValue(L"5").integer(); }, 3},
        {"integer() on map", [] { ProtoValue(ProtoValue::kMap).integer(); }, 3},
        {"string() on integer", [] { ProtoValue(5).string(); }, 3},
        {"string() on narrow", [] { ProtoValue("bytes").string(); }, 3},
    };
    for (const Case& c : cases) {
        try {
            c.action();
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const ProtoValueException& e) {
            EXPECT_EQ(e.code, c.code) << c.what;
        }
    }
}

TEST(ProtoValue, NullTurnsIntoWhatTheFirstWriteNeeds)
{
    ProtoValue list;
    list.Append(L"a");
    EXPECT_EQ(list.type(), ProtoValue::kArray);
    EXPECT_EQ(list.Count(), 1u);

    ProtoValue map;
    EXPECT_TRUE(map[L"k"].IsNull());
    EXPECT_EQ(map.type(), ProtoValue::kMap);
    EXPECT_TRUE(map.Has(L"k"));
    EXPECT_FALSE(map.Has(L"K"));

    // Integers of any width are integers, never a type code or a string.
    ProtoValue zero = 0;
    ProtoValue array(ProtoValue::kArray);
    map[L"code"] = 404u;
    EXPECT_EQ(zero.type(), ProtoValue::kInteger);
    EXPECT_EQ(array.type(), ProtoValue::kArray);
    EXPECT_EQ(map[L"code"].integer(), 404);
}

TEST(ProtoValue, FindNeverCreatesAndMissesReadAsEmpty)
{
    ProtoValue values[] = {ProtoValue(), ProtoValue(5), ProtoValue(L"s"), SampleTree()};
    for (const ProtoValue& v : values) {
        const ProtoValue& missing = v.Find(L"absent");
        EXPECT_TRUE(missing.IsNull());
        EXPECT_EQ(missing.integer(), 0);
        EXPECT_EQ(missing.string(), L"");
        EXPECT_EQ(&missing, &values[0].Find(L"x")) << "one shared null";
        EXPECT_FALSE(v.Has(L"absent"));
    }
    EXPECT_EQ(values[3].Count(), 4u);
}

TEST(ProtoValue, MapsIterateInCodeUnitOrder)
{
    ProtoValue map;
    for (const wchar_t* key : {L"\xFF01", L"alpha", L"\x00E9", L"Zeta", L"ab", L"a", L"B"})
        map[key] = key;
    std::vector<std::wstring> keys;
    for (const auto& entry : map.members()) {
        keys.push_back(entry.first);
        EXPECT_EQ(entry.second.string(), entry.first);
    }
    const std::vector<std::wstring> expected = {L"B", L"Zeta", L"a", L"ab", L"alpha", L"\x00E9", L"\xFF01"};
    EXPECT_EQ(keys, expected);
    EXPECT_TRUE(ProtoValue(5).members().empty());
    EXPECT_TRUE(map.elements().empty());
}
