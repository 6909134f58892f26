#include "text/ptr_array.h"

#include <gtest/gtest.h>

namespace {

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

struct Counted {
    static int alive;
    Counted() { ++alive; }
    ~Counted() { --alive; }
};
int Counted::alive = 0;

}  // namespace

TEST(PtrArray, SizeAndGrowthSteps) {
    EPtrArray a;
    EXPECT_STREQ(a.GetClassName(), "EPtrArray");
    EXPECT_TRUE(a.SetSize(10));
    EXPECT_EQ(a.GetLimit(), 11u) << "automatic step: half of 0, at least 1";
    EXPECT_EQ(a.GetCount(), 10u);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(a[i], nullptr);
    EPtrArray b;
    b.SetSize(10, 4);
    EXPECT_EQ(b.GetLimit(), 12u);
    EXPECT_EQ(b.GetGrowthStep(), 4u);
    b.SetSize(3);
    EXPECT_EQ(b.GetLimit(), 12u) << "shrinking keeps the storage";

    // Appends reallocate only now and then.
    EPtrArray c;
    uint32_t reallocations = 0, limit = 0;
    for (uintptr_t i = 1; i <= 1000; ++i) {
        c.Add(P(i));
        if (c.GetLimit() != limit) {
            ++reallocations;
            limit = c.GetLimit();
        }
    }
    EXPECT_LT(reallocations, 25u);
    for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(c[i], P(i + 1));

    c.Reserve(5000);
    EXPECT_EQ(c.GetLimit(), 5000u);
    c.Reserve(10);
    EXPECT_EQ(c.GetLimit(), 5000u) << "below the count: nothing";
    c.RemoveAll();
    EXPECT_EQ(c.GetCount(), 0u);
    EXPECT_EQ(c.GetLimit(), 0u);
}

TEST(PtrArray, InsertRemoveSwap) {
    EPtrArray a;
    a.InsertAt(0, P(1));
    a.InsertAt(0, P(2));
    a.InsertAt(1, P(3));
    EXPECT_EQ(a.GetCount(), 3u);
    EXPECT_EQ(a[0], P(2));
    EXPECT_EQ(a[1], P(3));
    EXPECT_EQ(a[2], P(1));
    a.InsertAt(6, P(9));  // past the end: null slots between
    EXPECT_EQ(a.GetCount(), 7u);
    EXPECT_EQ(a[4], nullptr);
    EXPECT_EQ(a[6], P(9));
    a.RemoveAt(10);
    EXPECT_EQ(a.GetCount(), 7u);
    a.RemoveAt(3, 100);  // clipped to what exists
    EXPECT_EQ(a.GetCount(), 3u);
    a.RemoveAt(0);
    EXPECT_EQ(a[0], P(3));
    a.Swap(0, 1);
    EXPECT_EQ(a[0], P(1));
    EXPECT_EQ(a[1], P(3));
    a.Swap(0, 5);  // out of range: nothing
    EXPECT_EQ(a[0], P(1));
    EXPECT_EQ(a.GetAt(2), nullptr);
    EXPECT_FALSE(a.SetAt(2, P(4)));
}

TEST(PtrArray, CopyAndInsertArray) {
    EPtrArray source;
    for (uintptr_t i = 0; i < 10; ++i) source.Add(P(100 + i));
    EPtrArray range(source, 8, 5);
    EXPECT_EQ(range.GetCount(), 2u);
    EXPECT_EQ(range[1], P(109));
    EPtrArray none(source, 10);
    EXPECT_EQ(none.GetCount(), 0u);
    EPtrArray all(source);
    EXPECT_EQ(all.GetCount(), 10u);

    EPtrArray target;
    target.SetSize(20);
    target.InsertArray(5, source, 0, 2);
    EXPECT_EQ(target.GetCount(), 22u);
    EXPECT_EQ(target[5], P(100));
    EXPECT_EQ(target[6], P(101));
    EXPECT_EQ(target[7], nullptr);
    target.InsertArray(0, source, 7);  // -1: to the end of the source
    EXPECT_EQ(target.GetCount(), 25u);
    EXPECT_EQ(target[2], P(109));
    target.InsertArray(0, source, 12);
    EXPECT_EQ(target.GetCount(), 25u);
    // Past the end, and from itself.
    target.InsertArray(30, source, 0, 1);
    EXPECT_EQ(target.GetCount(), 31u);
    EXPECT_EQ(target[30], P(100));
    target.InsertArray(1, target, 0, 3);
    EXPECT_EQ(target.GetCount(), 34u);
    EXPECT_EQ(target[1], P(107));
    EXPECT_EQ(target[3], P(109));
    EXPECT_EQ(target[4], P(108));
}

TEST(PtrArray, TypedArrayOwnsItsElements) {
    {
        ETypedPtrArray<Counted> owned;
        owned.Add(new Counted);
        owned.Add(nullptr);
        owned.Add(new Counted);
        EXPECT_EQ(Counted::alive, 2);
        EXPECT_STREQ(owned.GetClassName(), "EPtrArray");
        EXPECT_NE(owned[0], nullptr);
    }
    EXPECT_EQ(Counted::alive, 0);
}
