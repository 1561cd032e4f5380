// The owning handle closes exactly once, whoever ends up holding it.

#include <windows.h>

#include <utility>

#include <gtest/gtest.h>

#include "Runtime/UniqueHandle.h"

namespace {

bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != 0;
}

TEST(UniqueHandle, ClosesOnceWhoeverHoldsIt) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle first(raw);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.Get(), raw);
        UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueHandle holder(kept);
        EXPECT_EQ(holder.Release(), kept);
    }
    EXPECT_TRUE(IsOpen(kept));
    UniqueHandle replaced(kept);
    HANDLE next = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    replaced.Reset(next);
    EXPECT_FALSE(IsOpen(kept));
    EXPECT_TRUE(IsOpen(next));
}

TEST(UniqueHandle, AFailedFileOpenIsEmpty) {
    UniqueHandle file(CreateFileW(L"C:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file);
    EXPECT_EQ(file.Get(), nullptr);
}

}  // namespace
