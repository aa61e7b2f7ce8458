#include <gtest/gtest.h>

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringIterable.h>
#include <Corrade/Containers/StringView.h>

using namespace Corrade;
using namespace Containers::Literals;
using Containers::StringViewFlag;
using Containers::StringViewFlags;

TEST(StringView, FlagsOfConstructionAndSlicing) {
    const Containers::String string = "abc";
    const struct {
        Containers::StringView view;
        StringViewFlags flags;
    } cases[]{
        {Containers::StringView{static_cast<const char*>(nullptr)}, StringViewFlag::Global},
        {Containers::StringView{"abc"}, StringViewFlag::NullTerminated},
        {Containers::StringView("abc", 2), {}},
        {"abc"_s, StringViewFlag::Global|StringViewFlag::NullTerminated},
        {string, StringViewFlag::NullTerminated},
        {"hello"_s.prefix(2), StringViewFlag::Global},
        {"hello"_s.exceptPrefix(2), StringViewFlag::Global|StringViewFlag::NullTerminated},
        {"hello"_s.exceptSuffix(1), StringViewFlag::Global},
        {"hello"_s.exceptSuffix(0), StringViewFlag::Global|StringViewFlag::NullTerminated},
    };
    for(const auto& c: cases) EXPECT_EQ(c.view.flags(), c.flags) << &c - cases;

    EXPECT_EQ("hello"_s.slice(1, 3), "el"_s);
    EXPECT_TRUE("hello"_s.hasPrefix("he"_s) && "hello"_s.hasPrefix(""_s) && "hello"_s.hasSuffix('o'));
    EXPECT_FALSE("he"_s.hasPrefix("hello"_s) || ""_s.hasPrefix('h'));
}

TEST(StringView, SplitAndJoin) {
    /* Empty pieces are kept, except that nothing splits into nothing */
    EXPECT_EQ("|"_s.join("a..b"_s.split('.')), "a||b"_s);
    EXPECT_EQ(""_s.split('.').size(), 0u);
    const Containers::Array<Containers::StringView> flagged = "a.b.c"_s.split('.');
    EXPECT_EQ(flagged[0].flags(), StringViewFlag::Global);
    EXPECT_EQ(flagged[2].flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);

    EXPECT_EQ("/"_s.join({"a"_s, ""_s, "b"_s}), "a//b"_s);
    const Containers::String strings[]{"x", "y"};
    EXPECT_EQ(", "_s.join(Containers::ArrayView<const Containers::String>{strings}), "x, y"_s);
    EXPECT_EQ("-"_s.join(Containers::Array<Containers::StringView>{}), ""_s);
}

TEST(String, StorageAndOwnership) {
    static_assert(sizeof(Containers::String) == 3*sizeof(std::size_t), "");
    EXPECT_STREQ(Containers::String{}.data(), "");
    EXPECT_TRUE(Containers::String{"0123456789012345678901"}.isSmall());
    const Containers::String large{"01234567890123456789012"};
    EXPECT_FALSE(large.isSmall());
    EXPECT_FALSE(Containers::String(Containers::AllocatedInit, "a"_s).isSmall());

    Containers::String source = large;
    const Containers::String moved = std::move(source);
    EXPECT_EQ(source.data(), nullptr);
    EXPECT_EQ(source.size(), 0u);
    EXPECT_EQ(moved, large);

    /* Taking over a buffer without copying */
    char* const buffer = new char[4]{'a', 'b', 'c', '\0'};
    const Containers::String adopted{buffer, 3, nullptr};
    EXPECT_EQ(adopted.data(), buffer);
    EXPECT_EQ(adopted, "abc"_s);

    EXPECT_EQ(Containers::String("a\0b", 3), Containers::StringView("a\0b", 3));
    EXPECT_EQ("ab"_s + "cd"_s, "abcd"_s);
    EXPECT_TRUE("ab"_s < "abc"_s);
}

TEST(String, NullTerminatedView) {
    /* The global flag shares its place with the size */
    for(const Containers::StringView global: {"hello"_s, "a global view longer than the inline storage"_s}) {
        const Containers::String referenced = Containers::String::nullTerminatedView(global);
        EXPECT_EQ(referenced.data(), global.data());
        EXPECT_EQ(referenced.size(), global.size());
        EXPECT_EQ(Containers::StringView{referenced}.flags(), StringViewFlag::Global|StringViewFlag::NullTerminated);
    }
    const Containers::String local = Containers::String::nullTerminatedView(Containers::StringView{"local"});
    EXPECT_EQ(Containers::StringView{local}.flags(), StringViewFlag::NullTerminated);
    EXPECT_EQ(local.size(), 5u);

    const Containers::StringView hello = "hello"_s;
    const Containers::String copied = Containers::String::nullTerminatedView(hello.prefix(2));
    EXPECT_NE(copied.data(), hello.data());
    EXPECT_STREQ(copied.data(), "he");
}
