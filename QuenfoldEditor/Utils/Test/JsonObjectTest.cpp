#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/writer.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Magnum/Math/Matrix4.h>
#include <Magnum/Math/Quaternion.h>
#include <Magnum/Math/Vector2.h>

#include "QuenfoldEditor/Utils/JsonObject.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
using namespace Magnum;
using namespace Corrade::Containers::Literals;

std::string json(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
    value.Accept(writer);
    return buffer.GetString();
}

/* Reads the member "read" of its document and writes the member "write", or
   "read" when there is none; logs every call of the virtual interface, with
   W and w for a write with the flag set and cleared */
class LoggingObject: public JsonObject {
    public:
        explicit LoggingObject(const std::string& document) { _document.Parse(document.data(), document.size()); }

        bool exists() const override { log += 'e'; return true; }
        Containers::String path() const override { log += 'p'; return {}; }
        Containers::Pointer<JsonObject> child(Containers::StringView) override { log += 'c'; return nullptr; }
        rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator() override { log += 'a'; return _document.GetAllocator(); }
        const rapidjson::Value& readValue() const override { log += 'r'; return _document["read"]; }
        rapidjson::Value& writeValue(bool writeFlag) override {
            log += writeFlag ? 'W' : 'w';
            return _document[_document.HasMember("write") ? "write" : "read"];
        }

        std::string document() const { return json(_document); }

        mutable std::string log;

    private:
        rapidjson::Document _document;
};

LoggingObject reading(const char* value) {
    return LoggingObject{std::string{"{\"read\": "} + value + "}"};
}

template<class T> std::string numbers(const T* data, std::size_t size) {
    std::ostringstream out;
    for(std::size_t i = 0; i != size; ++i) out << (i ? " " : "") << data[i];
    return out.str();
}

TEST(JsonObject, ScalarGettersReadOnceByKind) {
    const struct {
        const char* json;
        int asBool, asInt;
        unsigned asUnsignedInt;
        float asFloat;
        bool isNull;
        std::size_t size;
    } cases[]{
        {"null", 0, 7, 9u, 0.0f, true, 0},
        {"true", 1, 0, 0u, 0.0f, false, 0},
        {"false", 0, 0, 0u, 0.0f, false, 0},
        {"1", 0, 1, 1u, 1.0f, false, 0},
        {"-5", 0, -5, 4294967291u, -5.0f, false, 0},
        {"2147483648", 0, -2147483647 - 1, 2147483648u, 2147483648.0f, false, 0},
        {"4294967295", 0, -1, 4294967295u, 4294967296.0f, false, 0},
        {"4294967301", 0, 5, 5u, 4294967296.0f, false, 0},
        {"-4294967297", 0, -1, 4294967295u, -4294967296.0f, false, 0},
        {"18446744073709551615", 0, -1, 4294967295u, 18446744073709551616.0f, false, 0},
        {"16777217", 0, 16777217, 16777217u, 16777216.0f, false, 0},
        {"0.1", 0, 0, 0u, 0.1f, false, 0},
        {"\"true\"", 0, 0, 0u, 0.0f, false, 0},
        {"\"\"", 0, 0, 0u, 0.0f, false, 0},
        {"\"a\\u0000bc\"", 0, 0, 0u, 0.0f, false, 0},
        {"[]", 0, 0, 0u, 0.0f, false, 0},
        {"[1, 2, 3]", 0, 0, 0u, 0.0f, false, 3},
        {"{\"a\": 1}", 0, 0, 0u, 0.0f, false, 1},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.json);
        const LoggingObject object = reading(c.json);
        EXPECT_EQ(object.asBool(), c.asBool);
        EXPECT_EQ(object.asInt(7), c.asInt);
        EXPECT_EQ(object.asUnsignedInt(9), c.asUnsignedInt);
        EXPECT_EQ(object.asFloat(), c.asFloat);
        EXPECT_EQ(object.isNull(), c.isNull);
        EXPECT_EQ(object.size(), c.size);
        const Containers::StringView string = object.asString();
        EXPECT_EQ(object.log, "rrrrrrr");
        /* A string is viewed in place, whole and without flags; anything else
           reads as the default view */
        const bool isString = c.json[0] == '"';
        EXPECT_EQ(string.data(), isString ? object.readValue().GetString() : nullptr);
        EXPECT_EQ(string.size(), isString ? object.readValue().GetStringLength() : 0);
        EXPECT_EQ(string.flags(), isString ? Containers::StringViewFlags{} : Containers::StringViewFlags{Containers::StringViewFlag::Global});
    }
}

TEST(JsonObject, SettersReplaceTheWrittenValue) {
    const float floats[]{0.1f, 2.0f};
    const int ints[]{-1, 7};
    const unsigned char bytes[]{0, 127, 255};
    Math::Matrix4<float> matrix;
    matrix[0][1] = 5.0f;
    matrix[3][0] = -2.0f;
    const struct {
        std::function<void(JsonObject&)> set;
        const char* written;
        const char* log;
    } cases[]{
        {[](JsonObject& o) { o.setBool(true, true); }, "true", "W"},
        {[](JsonObject& o) { o.setInt(-1, false); }, "-1", "w"},
        {[](JsonObject& o) { o.setFloat(0.1f, false); }, "0.10000000149011612", "w"},
        {[](JsonObject& o) { o.setNull(false); }, "null", "w"},
        {[](JsonObject& o) { o.setString({"ab\0cd", 5}, true); }, "\"ab\\u0000cd\"", "aW"},
        {[](JsonObject& o) { o.setString({}, false); }, "\"\"", "aw"},
        {[&](JsonObject& o) { o.setFloatArray(floats, true); }, "[0.10000000149011612,2.0]", "Waaa"},
        {[&](JsonObject& o) { o.setArray(Containers::ArrayView<const float>{floats}, false); }, "[0.10000000149011612,2.0]", "waaa"},
        {[&](JsonObject& o) { o.setIntArray(ints, false); }, "[-1,7]", "waaa"},
        {[&](JsonObject& o) { o.setArray(Containers::ArrayView<const int>{ints}, false); }, "[-1,7]", "waaa"},
        {[&](JsonObject& o) { o.setUnsignedCharArray(bytes, false); }, "[0,127,255]", "waaaa"},
        {[&](JsonObject& o) { o.setArray(Containers::ArrayView<const unsigned char>{bytes}, false); }, "[0,127,255]", "waaaa"},
        {[](JsonObject& o) { o.setIntArray({}, false); }, "[]", "wa"},
        {[&](JsonObject& o) { o.setMatrix(matrix, false); }, "[1.0,5.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,-2.0,0.0,0.0,1.0]", "waaaaaaaaaaaaaaaaa"},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.written);
        LoggingObject object{R"({"read": [1], "write": {"old": "text"}})"};
        c.set(object);
        EXPECT_EQ(object.document(), std::string{"{\"read\":[1],\"write\":"} + c.written + "}");
        EXPECT_EQ(object.log, c.log);
    }

    /* The stored kinds, beyond what the text shows */
    LoggingObject object = reading("null");
    object.setInt(-1, false);
    EXPECT_FALSE(object.readValue().IsUint());
    object.setInt(5, false);
    EXPECT_TRUE(object.readValue().IsUint());
    object.setUnsignedCharArray(bytes, false);
    EXPECT_TRUE(object.readValue()[2].IsUint());
    object.setMatrix(matrix, false);
    EXPECT_EQ(std::memcmp(object.asMatrix4().data(), matrix.data(), sizeof(matrix)), 0);
}

TEST(JsonObject, SetStringFromAViewOfTheValueItOverwrites) {
    /* Short strings live inside the value, long ones in the document */
    for(const char* text: {"xy z", "xa string too long to fit inside a value"}) {
        SCOPED_TRACE(text);
        const std::string expected = std::string{"{\"read\":\""} + (text + 1);
        LoggingObject object = reading(("\"" + std::string{text} + "\"").data());
        object.setString(object.asString().exceptPrefix(1), false);
        EXPECT_EQ(object.document(), expected + "\"}");
        object.setString(object.asString().exceptSuffix(1), false);
        object.setString(object.asString(), false);
        EXPECT_EQ(object.document(), expected.substr(0, expected.size() - 1) + "\"}");
    }
}

TEST(JsonObject, ArrayElementsByKind) {
    const LoggingObject object = reading(R"([1, 2.5, "x", null, true, 16777217, 4294967295, -2])");
    float floats[8];
    object.asFloatArray(floats);
    EXPECT_EQ(numbers(floats, 8), "1 2.5 0 0 0 1.67772e+07 4.29497e+09 -2");
    EXPECT_EQ(floats[5], 16777216.0f);
    int ints[8];
    object.asIntArray(ints);
    EXPECT_EQ(numbers(ints, 8), "1 0 0 0 0 16777217 -1 -2");
    unsigned int uints[8];
    object.asUnsignedIntArray(uints);
    EXPECT_EQ(numbers(uints, 8), "1 0 0 0 0 16777217 4294967295 4294967294");
    EXPECT_EQ(object.log, "rrr");

    const LoggingObject strings = reading(R"(["ab", 3, "", "c\u0000d"])");
    const char* pointers[4];
    Containers::StringView views[4];
    strings.asStringArray(pointers);
    strings.asStringArray(views);
    const rapidjson::Value& array = strings.readValue();
    for(rapidjson::SizeType i: {0u, 2u, 3u}) {
        EXPECT_EQ(pointers[i], array[i].GetString());
        EXPECT_EQ(views[i].data(), array[i].GetString());
    }
    EXPECT_STREQ(pointers[1], "");
    EXPECT_EQ(views[1], ""_s);
    EXPECT_EQ(views[3], Containers::StringView("c\0d", 3));
    for(const Containers::StringView& view: views)
        EXPECT_EQ(view.flags(), Containers::StringViewFlag::NullTerminated);

    const LoggingObject empty = reading("null");
    const Containers::Array<float> none = empty.asFloatArray();
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_EQ(none.size(), 0);
    empty.asIntArray();
    empty.asUnsignedIntArray();
    empty.asQuaternion();
    EXPECT_EQ(empty.log, "rrrrrrr");
}

TEST(JsonObject, ArraySizesAndMathTypes) {
    const char* const floatMessage = "JsonObject::asFloatArray(): Sizes do not match\n";
    const char* const stringMessage = "JsonObject::asStringArray(): Sizes do not match\n";
    const struct {
        const char* json;
        std::function<std::string(const JsonObject&)> read;
        const char* result;
        const char* message;
    } cases[]{
        {"[1, 2.5]", [](const JsonObject& o) { return numbers(o.asVector2().data(), 2); }, "1 2.5", ""},
        {"[1, 2, 3]", [](const JsonObject& o) { return numbers(o.asVector3().data(), 3); }, "1 2 3", ""},
        {"[1, 2]", [](const JsonObject& o) { return numbers(o.asVector3().data(), 3); }, "0 0 0", floatMessage},
        {"[1, 2, 3, 4]", [](const JsonObject& o) { return numbers(o.asVector3().data(), 3); }, "0 0 0", floatMessage},
        {"null", [](const JsonObject& o) { return numbers(o.asVector3().data(), 3); }, "0 0 0", floatMessage},
        {"\"ab\"", [](const JsonObject& o) { return numbers(o.asVector2().data(), 2); }, "0 0", floatMessage},
        {"[1, 2, 3, 4]", [](const JsonObject& o) { return numbers(o.asVector4().data(), 4); }, "1 2 3 4", ""},
        {"[4294967295, -3]", [](const JsonObject& o) { return numbers(o.asVector2i().data(), 2); }, "-1 -3", ""},
        {"[1]", [](const JsonObject& o) { return numbers(o.asVector2i().data(), 2); }, "0 0", "JsonObject::asIntArray(): Sizes do not match\n"},
        {"null", [](const JsonObject& o) { return numbers(o.asMatrix4().data(), 16); }, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0", floatMessage},
        {"[1, 2, 3, 4, 5]", [](const JsonObject& o) { return numbers(o.asQuaternion().data(), 4); }, "1 2 3 4", ""},
        {"[1, 2]", [](const JsonObject& o) { return numbers(o.asQuaternion().data(), 4); }, "1 2 0 0", ""},
        {"null", [](const JsonObject& o) { return numbers(o.asQuaternion().data(), 4); }, "0 0 0 0", ""},
        {"null", [](const JsonObject& o) { o.asFloatArray(Containers::ArrayView<float>{}); return std::string{}; }, "", ""},
        {"[1, 2]", [](const JsonObject& o) { unsigned int out[]{7, 7, 7}; o.asUnsignedIntArray(out); return numbers(out, 3); },
            "7 7 7", "JsonObject::asUnsignedIntArray(): Sizes do not match\n"},
        {"[\"a\"]", [](const JsonObject& o) { const char* out[]{"x", "y"}; o.asStringArray(out); return std::string{out[0]} + out[1]; },
            "xy", stringMessage},
        {"[]", [](const JsonObject& o) { Containers::StringView out[]{"x"}; o.asStringArray(out); return std::string{out[0].data()}; },
            "x", stringMessage},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.json);
        const LoggingObject object = reading(c.json);
        std::ostringstream out;
        std::string result;
        {
            Utility::Error redirectError{&out};
            result = c.read(object);
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(out.str(), c.message);
    }
}

TEST(JsonObject, StringListsAppendToTheWrittenCopy) {
    const struct {
        const char* document;
        std::function<void(JsonObject&)> append;
        const char* result;
        const char* log;
    } cases[]{
        {R"({"read": null})", [](JsonObject& o) { o.pushBackString("abc", true); }, R"({"read":["abc"]})", "rWaa"},
        {R"({"read": "old"})", [](JsonObject& o) { o.pushBackString("abc", false); }, R"({"read":["abc"]})", "rwaa"},
        {R"({"read": {"a": 1}})", [](JsonObject& o) { o.pushBackStringUnique("abc", false); }, R"({"read":["abc"]})", "rwaa"},
        {R"({"read": ["abc"]})", [](JsonObject& o) { o.pushBackString("abc", false); }, R"({"read":["abc","abc"]})", "rwaa"},
        {R"({"read": ["x"]})", [](JsonObject& o) { o.pushBackString({}, false); o.pushBackString("", false); }, R"({"read":["x","",""]})", "rwaarwaa"},
        {R"({"read": ["ABC"]})", [](JsonObject& o) { o.pushBackStringUnique("abc", false); }, R"({"read":["ABC","abc"]})", "rwaa"},
        {R"({"read": ["abc"]})", [](JsonObject& o) { o.pushBackStringUnique("abc", false); }, R"({"read":["abc"]})", "rw"},
        {R"({"read": ["a"]})", [](JsonObject& o) { o.pushBackStringUnique({"a\0b", 3}, false); }, R"({"read":["a","a\u0000b"]})", "rwaa"},
        {R"({"read": ["a\u0000b"]})", [](JsonObject& o) { o.pushBackStringUnique("a", false); }, R"({"read":["a\u0000b"]})", "rw"},
        {R"({"read": [1, null, {"1": "1"}]})", [](JsonObject& o) { o.pushBackStringUnique("1", false); }, R"({"read":[1,null,{"1":"1"},"1"]})", "rwaa"},
        {R"({"read": ["a", "b"], "write": 5})", [](JsonObject& o) { o.pushBackString("c", true); }, R"({"read":["a","b"],"write":["a","b","c"]})", "rWaaa"},
        {R"({"read": ["a", "b"], "write": 5})", [](JsonObject& o) { o.pushBackStringUnique("a", false); }, R"({"read":["a","b"],"write":["a","b"]})", "rwa"},
        {R"({"read": "s", "write": [1]})", [](JsonObject& o) { o.pushBackString("c", false); }, R"({"read":"s","write":["c"]})", "rwaaa"},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.result);
        LoggingObject object{c.document};
        c.append(object);
        EXPECT_EQ(object.document(), c.result);
        EXPECT_EQ(object.log, c.log);
    }
}

}}
