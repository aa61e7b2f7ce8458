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
    EXPECT_GE(array.capacity(), 4u);
    const Containers::StringView strings[]{""_s, {}, {"a\0b", 3}};
    for(std::size_t i = 0; i != 3; ++i) EXPECT_EQ(array.add(strings[i]), i);
    ASSERT_EQ(array.size(), 3u);
    for(std::size_t i = 0; i != 3; ++i) {
        EXPECT_EQ(array[i], strings[i]) << i;
        EXPECT_EQ(array[i].data()[array[i].size()], '\0') << i;
        EXPECT_EQ(array[i].flags(), Containers::StringViewFlag::NullTerminated) << i;
    }
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
    EXPECT_EQ(view.suffix(1).size(), 999u);
    EXPECT_EQ(view.suffix(1)[0], "1"_s);
    EXPECT_EQ(view.suffix(1000).size(), 0u);
    EXPECT_EQ(view.suffix(2000).size(), 0u);

    StringArray moved{std::move(array)};
    EXPECT_EQ(array.size(), 0u);
    /* The view taken before the move still sees the same storage */
    EXPECT_EQ(view[500].data(), moved[500].data());
    EXPECT_EQ(moved[500], "500"_s);

    /* A moved-from array takes strings again */
    EXPECT_EQ(array.add("again"_s), 0u);
    EXPECT_EQ(array[0], "again"_s);
    moved = std::move(array);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0], "again"_s);
}

TEST(StringArray, FilledInPlace) {
    StringArray array{8};
    const Containers::MutableStringView first = array.add(NoInit, 3);
    ASSERT_EQ(first.size(), 3u);
    first[0] = 'a';
    first[1] = '\0';
    first[2] = 'b';
    EXPECT_EQ(array.add(NoInit, 0).size(), 0u);
    array.add("cd"_s);
    /* Past the reserve, the earlier strings move with the storage */
    const Containers::MutableStringView last = array.add(NoInit, 100);
    for(char& c: last) c = 'x';

    ASSERT_EQ(array.size(), 4u);
    EXPECT_EQ(array[0], Containers::StringView("a\0b", 3));
    EXPECT_EQ(array[1], ""_s);
    EXPECT_EQ(array[2], "cd"_s);
    EXPECT_EQ(array[3], Containers::StringView{std::string(100, 'x').data()});
    for(std::size_t i = 0; i != 4; ++i)
        EXPECT_EQ(array[i].data()[array[i].size()], '\0') << i;
    EXPECT_EQ(array.suffix(2)[1].data(), last.data());
}
