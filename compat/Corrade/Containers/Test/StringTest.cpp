#include <gtest/gtest.h>

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringIterable.h>
#include <Corrade/Containers/StringView.h>

using namespace Corrade;
using namespace Containers::Literals;
using Containers::StringViewFlag;
using Containers::StringViewFlags;

TEST(StringView, ConstructionFlags) {
    EXPECT_EQ(Containers::StringView{}.flags(), StringViewFlag::Global);
    EXPECT_EQ(Containers::StringView{}.data(), nullptr);
    EXPECT_EQ(Containers::StringView{static_cast<const char*>(nullptr)}.flags(), StringViewFlag::Global);
    EXPECT_EQ(Containers::StringView{"abc"}.flags(), StringViewFlag::NullTerminated);
    EXPECT_EQ(Containers::StringView{"abc"}.size(), 3u);
    EXPECT_EQ(Containers::StringView("abc", 2).flags(), StringViewFlags{});
    EXPECT_EQ("abc"_s.flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);

    const Containers::String string = "abc";
    EXPECT_EQ(Containers::StringView{string}.flags(), StringViewFlag::NullTerminated);
    EXPECT_TRUE(Containers::StringView{string}.flags() & StringViewFlag::NullTerminated);
    EXPECT_FALSE(Containers::StringView{string}.flags() & StringViewFlag::Global);
}

TEST(StringView, SlicingKeepsFlags) {
    EXPECT_EQ("hello"_s.prefix(2).flags(), StringViewFlag::Global);
    EXPECT_EQ("hello"_s.exceptPrefix(2).flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);
    EXPECT_EQ("hello"_s.exceptSuffix(1).flags(), StringViewFlag::Global);
    EXPECT_EQ("hello"_s.exceptSuffix(0).flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);
    EXPECT_EQ("hello"_s.slice(1, 3), "el"_s);
    EXPECT_TRUE("hello"_s.hasPrefix("he"_s));
    EXPECT_TRUE("hello"_s.hasPrefix(""_s));
    EXPECT_FALSE("he"_s.hasPrefix("hello"_s));
    EXPECT_TRUE("hello"_s.hasSuffix('o'));
    EXPECT_FALSE(""_s.hasPrefix('h'));
}

TEST(StringView, SplitAndJoin) {
    const Containers::Array<Containers::StringView> pieces = "a..b"_s.split('.');
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "a"_s);
    EXPECT_EQ(pieces[1], ""_s);
    EXPECT_EQ(pieces[2], "b"_s);
    EXPECT_EQ(""_s.split('.').size(), 0u);

    const Containers::Array<Containers::StringView> flagged = "a.b.c"_s.split('.');
    EXPECT_EQ(flagged[0].flags(), StringViewFlag::Global);
    EXPECT_EQ(flagged[2].flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);

    EXPECT_EQ("/"_s.join({"a"_s, ""_s, "b"_s}), "a//b"_s);
    EXPECT_EQ("/"_s.join(pieces), "a//b"_s);
    const Containers::String strings[]{"x", "y"};
    EXPECT_EQ(", "_s.join(Containers::ArrayView<const Containers::String>{strings}), "x, y"_s);
    EXPECT_EQ("-"_s.join(Containers::Array<Containers::StringView>{}), ""_s);
}

TEST(String, StorageAndOwnership) {
    const Containers::String empty;
    ASSERT_NE(empty.data(), nullptr);
    EXPECT_EQ(empty.data()[0], '\0');

    const Containers::String small{"0123456789012345678901"};
    EXPECT_TRUE(small.isSmall());
    const Containers::String large{"01234567890123456789012"};
    EXPECT_FALSE(large.isSmall());
    EXPECT_EQ(large.data()[large.size()], '\0');
    EXPECT_FALSE(Containers::String(Containers::AllocatedInit, "a"_s).isSmall());

    Containers::String source = large;
    Containers::String moved = std::move(source);
    EXPECT_EQ(source.size(), 0u);
    EXPECT_EQ(source.data(), nullptr);
    EXPECT_EQ(moved, large);

    /* Taking over a buffer without copying */
    char* const buffer = new char[4]{'a', 'b', 'c', '\0'};
    Containers::String adopted{buffer, 3, nullptr};
    EXPECT_EQ(adopted.data(), buffer);
    EXPECT_EQ(adopted, "abc"_s);

    const Containers::String embedded{"a\0b", 3};
    EXPECT_EQ(embedded.size(), 3u);
    EXPECT_EQ("ab"_s + "cd"_s, "abcd"_s);
    EXPECT_TRUE("ab"_s < "abc"_s);
    EXPECT_TRUE("abc"_s == Containers::String{"abc"});
}

TEST(String, NullTerminatedView) {
    const Containers::StringView global = "hello"_s;
    const Containers::String referenced = Containers::String::nullTerminatedView(global);
    EXPECT_EQ(referenced.data(), global.data());
    EXPECT_EQ(Containers::StringView{referenced}.flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);

    const Containers::String copied = Containers::String::nullTerminatedView(global.prefix(2));
    EXPECT_NE(copied.data(), global.data());
    EXPECT_EQ(copied, "he"_s);
    EXPECT_EQ(copied.data()[2], '\0');
}
