#include <cstdlib>
#include <gtest/gtest.h>

#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

using namespace Corrade;
using namespace Containers::Literals;

TEST(Path, Split) {
    const auto expectSplit = [](Containers::StringView path, Containers::StringView directory, Containers::StringView file) {
        const Containers::Pair<Containers::StringView, Containers::StringView> parts = Utility::Path::split(path);
        EXPECT_EQ(parts.first(), directory) << path.data();
        EXPECT_EQ(parts.second(), file) << path.data();
    };
    expectSplit("/a/b/c.txt"_s, "/a/b"_s, "c.txt"_s);
    expectSplit("/a/b/"_s, "/a/b"_s, ""_s);
    expectSplit("file"_s, ""_s, "file"_s);
    expectSplit("/file"_s, "/"_s, "file"_s);
}

TEST(Path, Join) {
    EXPECT_EQ(Utility::Path::join("/a"_s, "b"_s), "/a/b"_s);
    EXPECT_EQ(Utility::Path::join(""_s, "b"_s), "b"_s);
    EXPECT_EQ(Utility::Path::join("/a/"_s, "b"_s), "/a/b"_s);
    EXPECT_EQ(Utility::Path::join("/a"_s, "/b"_s), "/b"_s);
    EXPECT_EQ(Utility::Path::join("/a"_s, ""_s), "/a/"_s);
    EXPECT_EQ(Utility::Path::fromNativeSeparators(Containers::String{"a\\b"}), "a\\b"_s);
}

TEST(Path, FileOperations) {
    char pattern[] = "/tmp/quenfold-path-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const Containers::String root = pattern;
    const Containers::String nested = Utility::Path::join(root, "a/b"_s);
    const Containers::String file = Utility::Path::join(nested, "f.txt"_s);

    EXPECT_TRUE(Utility::Path::make(nested));
    EXPECT_TRUE(Utility::Path::isDirectory(nested));
    EXPECT_TRUE(Utility::Path::write(file, Containers::ArrayView<const char>{"data", 4}));
    EXPECT_TRUE(Utility::Path::exists(file));
    EXPECT_FALSE(Utility::Path::isDirectory(file));
    const Containers::Optional<Containers::String> read = Utility::Path::readString(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, "data"_s);

    EXPECT_TRUE(Utility::Path::remove(file));
    EXPECT_TRUE(Utility::Path::remove(nested));
    EXPECT_TRUE(Utility::Path::remove(Utility::Path::join(root, "a"_s)));
    EXPECT_TRUE(Utility::Path::remove(root));
    EXPECT_FALSE(Utility::Path::exists(root));
}
