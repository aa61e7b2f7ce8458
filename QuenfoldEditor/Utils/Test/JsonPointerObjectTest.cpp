#include <cstring>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

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
        {"/a/3", R"({"s":"str","a":[0,null,null,1]})"},
        {"/a/k", R"({"s":"str","a":{"k":1}})"},
        /* Past the largest array: a member name, never an endless extension */
        {"/a/4294967295", R"({"s":"str","a":{"4294967295":1}})"},
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

}}
