#include <gtest/gtest.h>

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>

using namespace Corrade;

TEST(Array, TaggedConstructionAndMove) {
    Containers::Array<int> zeros{Corrade::ValueInit, 3};
    EXPECT_EQ(zeros.size(), 3u);
    EXPECT_EQ(zeros[0] + zeros[1] + zeros[2], 0);

    Containers::Array<int> empty{Corrade::ValueInit, 0};
    EXPECT_EQ(empty.data(), nullptr);

    Containers::Array<int> list{Corrade::InPlaceInit, {4, 5}};
    Containers::Array<int> moved{std::move(list)};
    EXPECT_EQ(list.data(), nullptr);
    EXPECT_EQ(list.size(), 0u);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[1], 5);

    Containers::ArrayView<const int> view = moved;
    EXPECT_EQ(view.exceptPrefix(1).front(), 5);
    EXPECT_EQ(view.prefix(1).back(), 4);
}

TEST(GrowableArray, GrowthReserveAndRemoval) {
    Containers::Array<int> a;
    std::size_t capacities[7];
    for(int i = 0; i != 7; ++i) {
        arrayAppend(a, i);
        capacities[i] = arrayCapacity(a);
    }
    const std::size_t expected[7]{2, 2, 6, 6, 6, 6, 14};
    for(int i = 0; i != 7; ++i) EXPECT_EQ(capacities[i], expected[i]) << i;
    EXPECT_TRUE(arrayIsGrowable(a));

    Containers::Array<int> reserved;
    EXPECT_EQ(arrayReserve(reserved, 5), 5u);
    const int* const data = reserved.data();
    for(int i = 0; i != 5; ++i) arrayAppend(reserved, i);
    EXPECT_EQ(reserved.data(), data);

    /* A non-growable array is copied over, not appended in place */
    Containers::Array<int> plain{Corrade::InPlaceInit, {1, 2}};
    arrayAppend(plain, Containers::ArrayView<const int>{a.data(), 2});
    ASSERT_EQ(plain.size(), 4u);
    EXPECT_EQ(plain[3], 1);

    arrayRemoveSuffix(plain, 3);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0], 1);
    arrayResize(plain, 3);
    EXPECT_EQ(plain[2], 0);
}

TEST(GrowableArray, NonTrivialElements) {
    Containers::Array<Containers::Pair<Containers::String, int>> pairs;
    for(int i = 0; i != 20; ++i)
        arrayAppend(pairs, Corrade::InPlaceInit, Containers::String{"a long string that is never small"}, i);
    /* Appending an element of the array itself while it reallocates */
    arrayAppend(pairs, pairs[0]);
    ASSERT_EQ(pairs.size(), 21u);
    EXPECT_EQ(pairs[20].first(), "a long string that is never small");
    EXPECT_EQ(pairs[19].second(), 19);

    Containers::Array<Containers::Pair<Containers::String, int>> moved = std::move(pairs);
    EXPECT_TRUE(pairs.isEmpty());
    EXPECT_EQ(moved.size(), 21u);
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
        Containers::Pointer<Base> other = std::move(base);
        EXPECT_TRUE(base == nullptr);
        EXPECT_TRUE(other);
    }
    EXPECT_EQ(destructions, 1);

    Derived derived{destructions};
    Containers::Reference<Base> reference = derived;
    EXPECT_EQ(reference->value(), 2);
    Base plain;
    reference = plain;
    EXPECT_EQ(reference.get().value(), 1);
}
