#include <string>
#include <gtest/gtest.h>

#include <Corrade/Containers/StringView.h>

#include "QuenfoldEngine/StringArray.h"

using namespace Corrade;
using namespace Containers::Literals;
using QuenfoldEngine::StringArray;
using QuenfoldEngine::StringArrayView;

TEST(StringArray, EmptyAndEmbeddedStrings) {
    StringArray array{4};
    EXPECT_EQ(array.size(), 0u);
    EXPECT_GE(array.capacity(), 4u);
    EXPECT_EQ(array.add(""_s), 0u);
    EXPECT_EQ(array.add(Containers::StringView{}), 1u);
    EXPECT_EQ(array.add(Containers::StringView{"a\0b", 3}), 2u);

    ASSERT_EQ(array.size(), 3u);
    EXPECT_EQ(array[0], ""_s);
    EXPECT_EQ(array[0].data()[0], '\0');
    EXPECT_EQ(array[1].size(), 0u);
    EXPECT_EQ(array[2], Containers::StringView("a\0b", 3));
    EXPECT_EQ(array[2].data()[3], '\0');
    EXPECT_TRUE(array[2].flags() & Containers::StringViewFlag::NullTerminated);
}

TEST(StringArray, ManyStringsAndViews) {
    StringArray array;
    StringArray other{1};
    for(int i = 0; i != 1000; ++i) {
        array.add(std::to_string(i).c_str());
        /* Growth of a different array doesn't disturb this one */
        other.add("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"_s);
    }
    const StringArrayView view = array;
    ASSERT_EQ(view.size(), 1000u);
    EXPECT_EQ(view[0], "0"_s);
    EXPECT_EQ(view[999], "999"_s);

    const StringArrayView tail = view.suffix(1);
    ASSERT_EQ(tail.size(), 999u);
    EXPECT_EQ(tail[0], "1"_s);
    EXPECT_EQ(view.suffix(1000).size(), 0u);
    EXPECT_EQ(view.suffix(2000).size(), 0u);

    StringArray moved{std::move(array)};
    EXPECT_EQ(array.size(), 0u);
    EXPECT_EQ(moved[500], "500"_s);
    /* The view taken before the move still sees the same storage */
    EXPECT_EQ(view[500].data(), moved[500].data());
}
