#include <vector>
#include <gtest/gtest.h>

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>

using namespace Corrade;

TEST(Array, TaggedConstructionMoveAndViews) {
    const Containers::Array<int> zeros{Corrade::ValueInit, 3};
    EXPECT_EQ(zeros[0] + zeros[1] + zeros[2], 0);

    Containers::Array<int> list{Corrade::InPlaceInit, {4, 5}};
    const Containers::Array<int> moved{std::move(list)};
    EXPECT_EQ(list.data(), nullptr);
    EXPECT_EQ(list.size(), 0u);
    const Containers::ArrayView<const int> view = moved;
    EXPECT_EQ(view.exceptPrefix(1).front(), 5);
    EXPECT_EQ(view.prefix(1).back(), 4);
}

TEST(GrowableArray, GrowthReserveAndRemoval) {
    Containers::Array<int> a;
    std::vector<std::size_t> capacities;
    for(int i = 0; i != 7; ++i) capacities.push_back((arrayAppend(a, i), arrayCapacity(a)));
    EXPECT_EQ(capacities, (std::vector<std::size_t>{2, 2, 6, 6, 6, 6, 14}));

    Containers::Array<int> reserved;
    EXPECT_EQ(arrayReserve(reserved, 5), 5u);
    const int* const data = reserved.data();
    for(int i = 0; i != 5; ++i) arrayAppend(reserved, i);
    EXPECT_EQ(reserved.data(), data);

    /* A non-growable array is copied over, not appended in place */
    Containers::Array<int> plain{Corrade::InPlaceInit, {1, 2}};
    arrayAppend(plain, Containers::ArrayView<const int>{a.data(), 2});
    EXPECT_TRUE(arrayIsGrowable(plain));
    ASSERT_EQ(plain.size(), 4u);
    EXPECT_EQ(plain[3], 1);
    arrayRemoveSuffix(plain, 3);
    arrayResize(plain, 3);
    EXPECT_EQ(plain[0] + plain[1] + plain[2], 1);
}

TEST(GrowableArray, AppendingOwnElementWhileReallocating) {
    Containers::Array<Containers::Pair<Containers::String, int>> pairs;
    for(int i = 0; i != 20; ++i)
        arrayAppend(pairs, Corrade::InPlaceInit, Containers::String{"a long string that is never small"}, i);
    arrayAppend(pairs, pairs[0]);
    ASSERT_EQ(pairs.size(), 21u);
    EXPECT_EQ(pairs[20].first(), "a long string that is never small");
    EXPECT_EQ(pairs[19].second(), 19);
}

namespace {
    struct Base { virtual ~Base() = default; virtual int value() const { return 1; } };
    struct Derived: Base {
        explicit Derived(int& destructions): destructions{destructions} {}
        ~Derived() override { ++destructions; }
        int value() const override { return 2; }
        int& destructions;
    };
}

TEST(Pointer, OwnershipAndReference) {
    int destructions = 0;
    {
        Containers::Pointer<Base> base = Containers::pointer<Derived>(destructions);
        EXPECT_EQ(base->value(), 2);
        const Containers::Pointer<Base> other = std::move(base);
        EXPECT_TRUE(base == nullptr);
        EXPECT_TRUE(other);
    }
    EXPECT_EQ(destructions, 1);

    /* Rebinds on assignment */
    Derived derived{destructions};
    Base plain;
    Containers::Reference<Base> reference = derived;
    EXPECT_EQ(reference->value(), 2);
    reference = plain;
    EXPECT_EQ(reference.get().value(), 1);
}
