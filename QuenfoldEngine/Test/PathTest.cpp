#include <gtest/gtest.h>

#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEngine/Path.h"

using namespace Corrade;
using namespace Containers::Literals;
using QuenfoldEngine::Path::Implementation::absolute;

TEST(Path, AbsolutePosix) {
    EXPECT_EQ(absolute("assets/a.png"_s, "/proj"_s, false), "/proj/assets/a.png"_s);
    EXPECT_EQ(absolute("./a/../b"_s, "/proj"_s, false), "/proj/b"_s);
    EXPECT_EQ(absolute("../../../.."_s, "/proj/x"_s, false), "/"_s);
    EXPECT_EQ(absolute("//a///b//"_s, "/proj"_s, false), "/a/b"_s);
    EXPECT_EQ(absolute("/a/b/"_s, "/proj"_s, false), "/a/b"_s);
    EXPECT_EQ(absolute("/"_s, "/proj"_s, false), "/"_s);
    EXPECT_EQ(absolute(""_s, "/proj/"_s, false), "/proj"_s);
    /* Backslashes are ordinary characters outside Windows */
    EXPECT_EQ(absolute("a\\b"_s, "/p"_s, false), "/p/a\\b"_s);
}

TEST(Path, AbsoluteWindows) {
    EXPECT_EQ(absolute("assets\\a.png"_s, "C:\\proj"_s, true), "C:/proj/assets/a.png"_s);
    EXPECT_EQ(absolute("D:/x/../y"_s, "C:/proj"_s, true), "D:/y"_s);
    EXPECT_EQ(absolute("C:.."_s, "C:/proj/sub"_s, true), "C:/proj"_s);
    EXPECT_EQ(absolute("d:foo"_s, "C:/proj"_s, true), "d:/foo"_s);
    EXPECT_EQ(absolute("\\top"_s, "C:/proj"_s, true), "C:/top"_s);
    EXPECT_EQ(absolute("C:/.."_s, "C:/proj"_s, true), "C:/"_s);
    EXPECT_EQ(absolute("\\\\server\\share\\a\\..\\..\\b"_s, "C:/proj"_s, true), "//server/share/b"_s);
    EXPECT_EQ(absolute("a"_s, "//server/share"_s, true), "//server/share/a"_s);
}

TEST(Path, AbsoluteAgainstWorkingDirectory) {
    const Containers::Optional<Containers::String> current = Utility::Path::currentDirectory();
    ASSERT_TRUE(current);
    EXPECT_EQ(QuenfoldEngine::Path::absolute("x"_s), Utility::Path::join(*current, "x"_s));
    /* On Windows a path from the root is on the working directory's drive */
    #ifdef _WIN32
    EXPECT_EQ(QuenfoldEngine::Path::absolute("/tmp//x/"_s), current->prefix(2) + "/tmp/x"_s);
    #else
    EXPECT_EQ(QuenfoldEngine::Path::absolute("/tmp//x/"_s), "/tmp/x"_s);
    #endif
}
