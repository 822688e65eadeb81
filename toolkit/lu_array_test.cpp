#include "toolkit/lu_array.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

namespace {

// Records which elements are destroyed, so tests can see exactly what an operation released.
struct Tracked {
    static std::vector<int>& destroyed() {
        static std::vector<int> ids;
        return ids;
    }
    static int& alive() {
        static int n = 0;
        return n;
    }
    int id = -1;
    Tracked() { ++alive(); }
    explicit Tracked(int id) : id(id) { ++alive(); }
    Tracked(const Tracked& o) : id(o.id) { ++alive(); }
    Tracked(Tracked&& o) noexcept : id(o.id) {
        o.id = -1;
        ++alive();
    }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() {
        if (id >= 0) destroyed().push_back(id);
        --alive();
    }
};

// Element types of records need not be default-constructible to be appended.
struct NoDefault {
    explicit NoDefault(int v) : value(v) {}
    int value;
};

LuDArray<int> ints(std::initializer_list<int> values) {
    LuDArray<int> a;
    for (int v : values) a.append(v);
    return a;
}

}  // namespace

TEST(LuArray, SetSizeToZeroOrToTheSameCountChangesNothingElse) {
    LuDArray<int> empty;
    empty.setSize(0);
    EXPECT_EQ(0, empty.getSize());
    EXPECT_EQ(nullptr, empty.begin());

    LuDArray<int> a = ints({1, 2, 3});
    const int* storage = a.begin();
    a.setSize(3);
    EXPECT_TRUE(storage == a.begin()) << "storage was reallocated";
    EXPECT_EQ(3, a[2]);
    a.setSize(0);
    EXPECT_EQ(nullptr, a.begin());
}

TEST(LuArray, ShrinkingDestroysExactlyTheRemovedElementsInIndexOrder) {
    {
        LuDArray<Tracked> a;
        for (int i = 0; i < 5; ++i) a.append(Tracked(i));
        Tracked::destroyed().clear();
        a.setSize(2);
        EXPECT_EQ((std::vector<int>{2, 3, 4}), Tracked::destroyed());
        EXPECT_EQ(0, a[0].id);
        EXPECT_EQ(1, a[1].id);
    }
    EXPECT_EQ(0, Tracked::alive());
}

TEST(LuArray, ShrinkingStringsReleasesOnlyTheirReferences) {
    LuStr kept("kept");
    LuDArray<LuStr> a;
    a.append(kept);
    a.append(LuStr("dropped"));
    a.setSize(1);
    a[0].append("!");  // must copy: kept still shares the buffer
    EXPECT_EQ(LuStr("kept"), kept);
    EXPECT_EQ(LuStr("kept!"), a[0]);
}

TEST(LuArray, AppendingAnElementOfTheSameArrayCopiesItBeforeStorageMoves) {
    LuDArray<LuStr> a;
    a.append(LuStr("first"));
    for (int i = 0; i < 5; ++i) a.append(a[0]);
    ASSERT_EQ(6, a.getSize());
    for (const LuStr& s : a) EXPECT_EQ(LuStr("first"), s);

    LuDArray<NoDefault> records;
    records.append(NoDefault(7));
    records.append(records[0]);
    EXPECT_EQ(7, records[1].value);
}

TEST(LuArray, CopyAssignmentForLongerShorterAndEqualTargets) {
    LuDArray<int> source = ints({1, 2});
    LuDArray<int> longer = ints({9, 9, 9, 9});
    LuDArray<int> shorter = ints({9});
    LuDArray<int> equal = ints({9, 9});
    longer = source;
    shorter = source;
    equal = source;
    EXPECT_TRUE(longer == source);
    EXPECT_TRUE(shorter == source);
    EXPECT_TRUE(equal == source);
    LuDArray<int> none;
    longer = none;
    EXPECT_EQ(0, longer.getSize());
}

TEST(LuArray, NestedArraysAreDeepCopies) {
    LuDArray<LuDArray<LuStr>> outer;
    LuDArray<LuStr> inner;
    inner.append(LuStr("a"));
    outer.append(inner);
    LuDArray<LuDArray<LuStr>> copy(outer);
    copy[0][0].append("b");
    copy[0].append(LuStr("c"));
    EXPECT_EQ(1, outer[0].getSize());
    EXPECT_EQ(LuStr("a"), outer[0][0]);
    EXPECT_EQ(LuStr("ab"), copy[0][0]);
}

TEST(LuNullable, HoldsAValueOnlyWhileNotNull) {
    LuNullable<LuStr> n;
    EXPECT_TRUE(n.isNull());
    n = LuStr("x");
    ASSERT_FALSE(n.isNull());
    EXPECT_EQ(LuStr("x"), n.get());
    n = n.get();  // assigning its own value
    EXPECT_EQ(LuStr("x"), n.get());
    n.setNull();
    EXPECT_TRUE(n.isNull());
}

TEST(LuNullable, CopyingCarriesTheFlagAndDestroysReplacedValues) {
    {
        LuNullable<Tracked> a(Tracked(1));
        LuNullable<Tracked> b;
        LuNullable<Tracked> c(a);
        EXPECT_FALSE(c.isNull());
        EXPECT_EQ(1, c.get().id);
        Tracked::destroyed().clear();
        c = b;  // a null source makes the target null
        EXPECT_TRUE(c.isNull());
        EXPECT_EQ((std::vector<int>{1}), Tracked::destroyed());
        LuNullable<Tracked>& alias = c;
        c = alias;
        EXPECT_TRUE(c.isNull());
    }
    EXPECT_EQ(0, Tracked::alive());

    LuDArray<LuNullable<int>> source;
    source.append(LuNullable<int>());
    source.append(LuNullable<int>(5));
    LuDArray<LuNullable<int>> target;
    target.append(LuNullable<int>(3));
    target.append(LuNullable<int>());
    target = source;
    EXPECT_TRUE(target[0].isNull());
    ASSERT_FALSE(target[1].isNull());
    EXPECT_EQ(5, target[1].get());
}

// The sanitizers refuse such an allocation themselves, before the array can report it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FY_ASAN 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(FY_ASAN)
TEST(LuArrayDeathTest, RunningOutOfMemoryAbortsWithTheCountAndSize) {
    struct Huge {
        char bytes[1 << 20];
    };
    LuDArray<Huge> a;
    EXPECT_DEATH(a.setSize(INT_MAX),
                 "Unable to allocate memory!\nAttempted to allocate 2147483647 elements, total size: "
                 "2251799812636672\\.");
}
#endif
