#include <limits>
#include <sstream>
#include <string>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/RapidJsonUtils.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#endif

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

/* Arrays and objects alternating, depth levels deep, with a member named k
   in each object; made level by level, as parsing or comparing it would
   recurse */
void makeDeep(rapidjson::Document& document, const std::size_t depth) {
    rapidjson::Value* value = &document;
    for(std::size_t level = 0; level != depth; ++level) {
        if(level % 2) value->SetObject();
        else value->SetArray();
        if(level + 1 == depth) break;
        if(level % 2) {
            value->AddMember("k", rapidjson::Value{}, document.GetAllocator());
            value = &value->MemberBegin()->value;
        } else {
            value->PushBack(rapidjson::Value{}, document.GetAllocator());
            value = &(*value)[0];
        }
    }
}

/* Calls function(data) on a thread with a stack of 64 kB, which holds fewer
   than 2000 calls of any recursive writer */
void runOnSmallStack(void(*const function)(void*), void* const data) {
    struct Call {
        void(*function)(void*);
        void* data;
    } call{function, data};
    #ifdef _WIN32
    struct Thread {
        static DWORD WINAPI run(const LPVOID call) {
            static_cast<Call*>(call)->function(static_cast<Call*>(call)->data);
            return 0;
        }
    };
    const HANDLE thread = CreateThread(nullptr, 64*1024, Thread::run, &call, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    #else
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64*1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, [](void* const call) -> void* {
        static_cast<Call*>(call)->function(static_cast<Call*>(call)->data);
        return nullptr;
    }, &call), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    #endif
}

TEST(RapidJsonUtils, PrintsDeepDocumentsOnASmallStack) {
    constexpr std::size_t Depth = 2000;
    struct Print {
        rapidjson::Document document;
        std::ostringstream out;
    } print;
    makeDeep(print.document, Depth);

    runOnSmallStack([](void* const data) {
        Print& print = *static_cast<Print*>(data);
        Utility::Debug{&print.out} << print.document;
    }, &print);

    /* The innermost container is empty, which prints on one line */
    std::string expected;
    for(std::size_t level = 0; level != Depth; ++level) {
        if(level) expected += "\n" + std::string(4*level, ' ') + (level % 2 ? "" : "\"k\": ");
        expected += level % 2 ? '{' : '[';
    }
    for(std::size_t level = Depth; level--; ) {
        if(level != Depth - 1) expected += "\n" + std::string(4*level, ' ');
        expected += level % 2 ? '}' : ']';
    }
    /* Megabytes of text: compared without printing it all on a failure */
    const std::string printed = print.out.str();
    EXPECT_EQ(printed.size(), expected.size() + 1);
    EXPECT_TRUE(printed == expected + "\n");
}

}}
