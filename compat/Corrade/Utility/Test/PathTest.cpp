#include <random>
#include <string>
#include <gtest/gtest.h>

#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

using namespace Corrade;
using namespace Containers::Literals;

TEST(Path, SplitAndJoin) {
    const Containers::StringView cases[][3]{
        {"/a/b/c.txt"_s, "/a/b"_s, "c.txt"_s},
        {"/a/b/"_s, "/a/b"_s, ""_s},
        {"file"_s, ""_s, "file"_s},
        {"/file"_s, "/"_s, "file"_s},
    };
    for(const auto& c: cases) {
        const Containers::Pair<Containers::StringView, Containers::StringView> parts = Utility::Path::split(c[0]);
        EXPECT_EQ(parts.first(), c[1]) << c[0].data();
        EXPECT_EQ(parts.second(), c[2]) << c[0].data();
    }

    EXPECT_EQ(Utility::Path::join("/a"_s, "b"_s), "/a/b"_s);
    EXPECT_EQ(Utility::Path::join(""_s, "b"_s), "b"_s);
    EXPECT_EQ(Utility::Path::join("/a/"_s, "b"_s), "/a/b"_s);
    EXPECT_EQ(Utility::Path::join("/a"_s, "/b"_s), "/b"_s);
    EXPECT_EQ(Utility::Path::join("/a"_s, ""_s), "/a/"_s);

    /* Drives and backslashes mean something on Windows only */
    #ifdef _WIN32
    EXPECT_EQ(Utility::Path::split("C:/file"_s), Containers::pair("C:/"_s, "file"_s));
    EXPECT_EQ(Utility::Path::join("C:/a"_s, "D:/b"_s), "D:/b"_s);
    EXPECT_EQ(Utility::Path::fromNativeSeparators(Containers::String{"C:\\a\\b/c"}), "C:/a/b/c"_s);
    EXPECT_EQ(Utility::Path::toNativeSeparators(Containers::String{"C:/a\\b/c"}), "C:\\a\\b\\c"_s);
    #else
    EXPECT_EQ(Utility::Path::fromNativeSeparators(Containers::String{"a\\b"}), "a\\b"_s);
    EXPECT_EQ(Utility::Path::toNativeSeparators(Containers::String{"a/b"}), "a/b"_s);
    #endif
}

/* Existence and reading are exercised by the file watcher and the tools */
TEST(Path, MakeWriteRemove) {
    const Containers::String temporary = Utility::Path::fromNativeSeparators(Containers::String{testing::TempDir().data()});
    const Containers::String root = Utility::Path::join(temporary, ("quenfold-path-" + std::to_string(std::random_device{}())).data());
    ASSERT_FALSE(Utility::Path::exists(root));
    const Containers::String nested = Utility::Path::join(root, "a/b"_s);
    const Containers::String file = Utility::Path::join(nested, "f.txt"_s);
    EXPECT_TRUE(Utility::Path::make(nested));
    EXPECT_TRUE(Utility::Path::write(file, Containers::ArrayView<const char>{"data", 4}));
    for(const Containers::String& path: {file, nested, Utility::Path::join(root, "a"_s), root})
        EXPECT_TRUE(Utility::Path::remove(path)) << path.data();
    EXPECT_FALSE(Utility::Path::exists(root));
}
