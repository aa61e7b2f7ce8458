#include <gtest/gtest.h>

#include <Corrade/Containers/EnumSet.h>

using namespace Corrade;

/* Not in an anonymous namespace, where the operators the test does not use
   would be unused functions */
namespace EnumSetTest {

enum class Flag: unsigned char { A = 1 << 0, B = 1 << 1, C = 1 << 2 };
typedef Containers::EnumSet<Flag, 7> Flags;
CORRADE_ENUMSET_OPERATORS(Flags)

}

using EnumSetTest::Flag;
using EnumSetTest::Flags;

TEST(EnumSet, SetOperations) {
    constexpr Flags ab = Flag::A|Flag::B;
    static_assert(ab >= Flag::A && !(ab >= Flag::C) && Flags{Flag::B} <= ab, "");
    EXPECT_EQ(Containers::enumCastUnderlyingType(ab), 3);
    EXPECT_EQ(Containers::enumCastUnderlyingType(~ab), 4);
    EXPECT_EQ(Containers::enumCastUnderlyingType(~Flag::A), 6);
    EXPECT_TRUE(ab & Flag::B);
    EXPECT_FALSE(ab & Flag::C);
    EXPECT_FALSE(Flags{});
    EXPECT_EQ(ab ^ Flag::B, Flag::A);
    Flags flags;
    flags |= Flag::C;
    flags ^= Flag::A;
    flags &= ~Flags{Flag::C};
    EXPECT_EQ(flags, Flag::A);
    EXPECT_NE(flags, ab);
}
