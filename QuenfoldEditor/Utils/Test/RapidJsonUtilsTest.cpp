#include <limits>
#include <sstream>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/RapidJsonUtils.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

TEST(RapidJsonUtils, EnumStringToValue) {
    const Containers::StringView views[]{"Foo"_s, "Bar"_s, "Bar"_s};
    const Containers::String strings[]{"Foo", "Bar", "Bar"};
    const char* const pointers[]{"Foo", "Bar", "Bar"};
    for(const auto& c: {std::make_pair("Bar"_s, 1), std::make_pair("Foo"_s, 0), std::make_pair("bar"_s, -1),
                        std::make_pair("Ba"_s, -1), std::make_pair(""_s, -1)}) {
        EXPECT_EQ(RapidJsonUtils::enumStringToValue(c.first, views), c.second) << c.first.data();
        EXPECT_EQ(RapidJsonUtils::enumStringToValue(c.first, strings), c.second) << c.first.data();
        EXPECT_EQ(RapidJsonUtils::enumStringToValue(c.first, pointers), c.second) << c.first.data();
    }
    EXPECT_EQ(RapidJsonUtils::enumStringToValue("Foo"_s, Containers::ArrayView<const Containers::StringView>{}), -1);

    const char* const withNull[]{"Foo", nullptr, ""};
    EXPECT_EQ(RapidJsonUtils::enumStringToValue(""_s, withNull), 1);
    EXPECT_EQ(RapidJsonUtils::enumStringToValue({}, withNull), 1);
}

TEST(RapidJsonUtils, PrintsIndentedJson) {
    const struct {
        const char* json;
        const char* printed;
    } cases[]{
        {R"({"a": 1})", "{\n    \"a\": 1\n}\n"},
        {"[]", "[]\n"},
        {"{}", "{}\n"},
        {R"({"a": [1, [true]], "b": null})", "{\n    \"a\": [\n        1,\n        [\n            true\n        ]\n    ],\n    \"b\": null\n}\n"},
        {"[1.0, 0.0, -0.5, 1e300]", "[\n    1.0,\n    0.0,\n    -0.5,\n    1e300\n]\n"},
        {R"("\t\"\\/\b\f\n\r\u0001\u001f é")", "\"\\t\\\"\\\\/\\b\\f\\n\\r\\u0001\\u001F \xc3\xa9\"\n"},
    };
    for(const auto& c: cases) {
        rapidjson::Document document;
        document.Parse(c.json);
        std::ostringstream out;
        Utility::Debug{&out} << document;
        EXPECT_EQ(out.str(), c.printed);
    }

    rapidjson::Document document;
    document.SetArray();
    document.PushBack(double(0.1f), document.GetAllocator());
    document.PushBack(std::numeric_limits<double>::quiet_NaN(), document.GetAllocator());
    document.PushBack(2, document.GetAllocator());
    const rapidjson::Value one{1};
    std::ostringstream out;
    {
        Utility::Error redirectError{&out};
        Utility::Error{} << document << one << one;
        Utility::Error{} << "a" << Utility::Debug::nospace << one;
    }
    EXPECT_EQ(out.str(), "[\n    0.10000000149011612,\n     1 1\na1\n");
}

}}
