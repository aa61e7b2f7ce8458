#include <cstring>
#include <sstream>
#include <string>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

/* Deep comparison with a value given as JSON text */
::testing::AssertionResult holds(const rapidjson::Value& value, const char* json) {
    rapidjson::Document expected;
    expected.Parse(json);
    if(value == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the value is not " << json;
}

TEST(JsonPointerObject, ResolvesEscapedPathsAndIndices) {
    rapidjson::Document document;
    document.Parse(R"({"a": {"b": [10, 20, {"c": true}]}, "x/y": 1, "t~": 2, "": 3, "01": 4, "~2": 5})");
    const struct {
        const char* path;
        const char* value;
    } cases[]{
        {"/a/b/1", "20"},
        {"/a/b/2/c", "true"},
        {"/x~1y", "1"},
        {"/t~0", "2"},
        {"/", "3"},
        {"/01", "4"},
        {"/~2", "5"},
        {"a/b/0", "10"},
        {"/a/b/01", nullptr},
        {"/a/b/3", nullptr},
        {"/a/b/-", nullptr},
        {"/a/b/99999999999", nullptr},
        {"/a/b/1/z", nullptr},
        {"/x/y", nullptr},
        {"/A", nullptr},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.path);
        const JsonPointerObject handle{document, c.path};
        EXPECT_EQ(handle.exists(), c.value != nullptr);
        EXPECT_TRUE(holds(handle.readValue(), c.value ? c.value : "null"));
    }

    JsonPointerObject root{document};
    EXPECT_TRUE(root.exists());
    EXPECT_EQ(&root.readValue(), &document);
    EXPECT_EQ(&root.allocator(), &document.GetAllocator());
    Containers::Pointer<JsonObject> b = root.child("/a")->child("b");
    EXPECT_EQ(b->path(), "/a/b"_s);
    EXPECT_EQ(b->child("/2/c")->asBool(), 1);
    EXPECT_EQ(b->child("")->size(), 3);
    EXPECT_EQ(JsonPointerObject(document, "x~1y").path(), "/x~1y"_s);
}

TEST(JsonPointerObject, WritingCreatesWhatIsMissing) {
    const struct {
        const char* path;
        const char* document;
    } cases[]{
        {"/new/deep", R"({"s":"str","a":[0],"new":{"deep":1}})"},
        {"/s/k", R"({"s":{"k":1},"a":[0]})"},
        {"/a/-", R"({"s":"str","a":[0,1]})"},
        {"/a/0", R"({"s":"str","a":[1]})"},
        {"/a/1", R"({"s":"str","a":[0,1]})"},
        {"/a/k", R"({"s":"str","a":{"k":1}})"},
        {"/a/01", R"({"s":"str","a":{"01":1}})"},
        {"/n~1m~0/", R"({"s":"str","a":[0],"n/m~":{"":1}})"},
        {"", "1"},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.path);
        rapidjson::Document document;
        document.Parse(R"({"s": "str", "a": [0]})");
        JsonPointerObject handle{document, c.path};
        handle.setInt(1, false);
        EXPECT_TRUE(holds(document, c.document));
        /* "-" names a new element on every access */
        EXPECT_EQ(handle.exists(), std::strcmp(c.path, "/a/-") != 0);
    }
}

TEST(JsonPointerObject, WritingPastTheEndOfAnArrayIsRefused) {
    const char* const original = R"({"a": [0, [1]]})";
    const struct {
        const char* path;
        const char* message;
    } cases[]{
        {"/a/3", "Index 3 past the end of an array of 2 elements, nothing written to /a/3"},
        {"/a/1/2/x", "Index 2 past the end of an array of 1 elements, nothing written to /a/1/2/x"},
        {"/a/50000000", "Index 50000000 past the end of an array of 2 elements, nothing written to /a/50000000"},
        {"/a/4294967294", "Index 4294967294 past the end of an array of 2 elements, nothing written to /a/4294967294"},
        {"/a/4294967295", "Index 4294967295 past the end of an array of 2 elements, nothing written to /a/4294967295"},
        {"/a/99999999999999999999999", "Index 99999999999999999999999 past the end of an array of 2 elements, nothing written to /a/99999999999999999999999"},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.path);
        rapidjson::Document document;
        document.Parse(original);
        JsonPointerObject handle{document, c.path};
        std::ostringstream out;
        {
            Utility::Error redirectError{&out};
            handle.setString("a string too long to be kept inside the value"_s, false);
            handle.pushBackString("b"_s, false);
        }
        const std::string message = std::string{"JsonPointerObject::writeValue(): "} + c.message + "\n";
        EXPECT_EQ(out.str(), message + message);
        EXPECT_TRUE(holds(document, original));
        EXPECT_FALSE(handle.exists());
        EXPECT_TRUE(handle.isNull());
    }
}

}}
