#include <sstream>
#include <string>
#include <utility>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;

std::string text(const Containers::String& string) {
    return {string.data(), string.size()};
}

struct Rendered {
    std::string output;
    std::string messages;
    bool valid;
};

/* Parses and renders in one go, capturing what both print */
Rendered render(const char* source, Containers::ArrayView<const Containers::Reference<JsonObject>> contexts) {
    std::ostringstream messages;
    Rendered rendered;
    {
        Utility::Error redirectError{&messages};
        Template t{source};
        rendered.valid = t.valid();
        const Containers::String output = t.render(contexts);
        rendered.output = text(output);
    }
    rendered.messages = messages.str();
    return rendered;
}

struct Document {
    explicit Document(const char* json) { document.Parse(json); }
    rapidjson::Document document;
    JsonPointerObject root{document};
};

const char* const Context = R"({
    "name": "cube", "mode": "edit", "yes": true, "no": false, "textTrue": "true",
    "scale": 1.5, "two": 2.0, "negative": -0.25, "pi": 3.14159, "zero": "x\u0000y",
    "count": 3, "nothing": null, "list": [1.0], "node": {"name": "cube", "visible": true},
    "a": {"": {"b": "deep"}, "b": "ab"}
})";

TEST(Template, SegmentsClassifiesAndEvaluates) {
    const char* const unterminated = "Template::Template(): Syntax error: Unterminated template directive\n";
    struct Case {
        const char* source;
        const char* output;
        const char* messages;
        bool valid = true;
    } cases[]{
        /* Segmentation; an unterminated directive keeps the text before */
        {"", "", ""},
        {"abc {{ name", "abc ", unterminated, false},
        {"abc {{ name }", "abc ", unterminated, false},
        {"abc {{", "abc ", unterminated, false},
        {"plain { text }} with a { at the end {", "plain { text }} with a { at the end {", ""},
        {"{{'a'}}", "a", ""},
        {"x{{ 'a' }}{{ 'b' }}y", "xaby", ""},
        {"{{{name}}", "", "Template::render(): Undefined name {name\n"},
        {"{{ name }}}", "cube}", ""},
        {"{{\tname \t}}", "cube", ""},
        {"{{ 'a\nb' }}", "a\nb", ""},
        {"{{ 'a b' }}", "", "Template::render(): Number of tokens for expression unsupported: 2\n"},
        /* Classification */
        {"[{{ end if }}]", "[]", ""},
        {"{{ If name }}", "", "Template::render(): Number of tokens for expression unsupported: 2\n"},
        {"{{ END }}", "", "Template::render(): Undefined name END\n"},
        /* Literals */
        {"{{ 'hello' }}|{{ '' }}|{{ \"q\" }}|{{ 'a'b' }}", "hello||q|a'b", ""},
        {"{{ ' }}", "", "Template::render(): Unterminated string literal\n"},
        {"{{ 'a\" }}", "", "Template::render(): Unterminated string literal\n"},
        {"{{ \"a' }}", "", "Template::render(): Unterminated string literal\n"},
        /* Names and value kinds */
        {"{{ a..b }} {{ a/b }} {{ a.b }} {{ node.name }}", "deep ab ab cube", ""},
        {"{{ yes }} {{ no }} {{ scale }} {{ two }} {{ negative }} {{ pi }} {{ zero }}", "true false 1.5000 2.0000 -0.2500 3.1416 x", ""},
        {"{{ count }}", "", "Template::render(): Unsupported type for count\n"},
        {"{{ nothing }}", "", "Template::render(): Unsupported type for nothing\n"},
        {"{{ list }}", "", "Template::render(): Unsupported type for list\n"},
        {"{{ node }}", "", "Template::render(): Unsupported type for node\n"},
        {"{{ missing.name }}", "", "Template::render(): Undefined name missing.name\n"},
        {"{{ a..b.c }}", "", "Template::render(): Undefined name a..b.c\n"},
        {"{{ a/b.c }}", "", "Template::render(): Undefined name a/b.c\n"},
        /* Comparisons are textual, after conversion */
        {"{{ yes == 'true' }} {{ scale == '1.5000' }} {{ scale == '1.5' }} {{ mode != 'edit' }} {{ mode is 'other' }}", "true true false false true", ""},
        {"{{ yes == true }}", "", "Template::render(): Undefined name true\n"},
        {"{{ p == q }}", "", "Template::render(): Undefined name p\nTemplate::render(): Undefined name q\n"},
        {"{{}}", "", "Template::render(): Number of tokens for expression unsupported: 0\n"},
        {"{{ a b c d }}", "", "Template::render(): Number of tokens for expression unsupported: 4\n"},
        {"{{ a b c d e f g }}", "", "Template::render(): Number of tokens for expression unsupported: 7\n"},
        /* Sections */
        {"Hello {{ node.name }}!{{ if node.visible }} [shown]{{ end }} Scale: {{ scale }}", "Hello cube! [shown] Scale: 1.5000", ""},
        {"{{ if yes }}X{{ end }}{{ if textTrue }}S{{ end }}{{ if no }}N{{ end }}{{ if name }}C{{ end }}{{ if scale }}D{{ end }}", "XS", ""},
        {"{{ if nothing }}X{{ end }}", "", "Template::render(): Unsupported type for nothing\n"},
        {"{{ if missing.flag }}X{{ end }}", "", "Template::render(): Undefined name missing.flag\n"},
        {"{{ if 'true' }}L{{ end }}{{ if a/b == 'ab' }}S{{ end }}{{ if a.b }}N{{ end }}", "LS", ""},
        {"{{ if yes no }}X{{ end }}", "", "Template::render(): Number of tokens for expression unsupported: 2\n"},
        {"{{ if mode == 'edit' }}E{{ end }}{{ if mode is 'edit' }}V{{ end }}", "E", ""},
        {"x{{ if yes }}y", "xy", ""},
        {"x{{ if no }}y", "", "Template::render(): Missing 'end'\n"},
        {"{{ if }}X{{ end }}", "", "Template::render(): Number of tokens for expression unsupported: 0\n"},
        {"{{ if no }}{{ missing }}{{ 'x }}{{ if }}{{ end }}ok{{ end }}", "ok", ""},
        /* A section ends at the first end, nested or not */
        {"{{ if yes }}A{{ if yes }}B{{ end }}C{{ end }}D", "ABCD", ""},
        {"{{ if yes }}A{{ if no }}B{{ end }}C{{ end }}D", "ACD", ""},
        {"{{ if no }}A{{ if yes }}B{{ end }}C{{ end }}D", "CD", ""},
        {"{{ missing }}{{ other }}", "", "Template::render(): Undefined name missing\n"},
    };

    Document context{Context};
    const Containers::Reference<JsonObject> contexts[]{context.root};
    for(const Case& c: cases) {
        SCOPED_TRACE(c.source);
        const Rendered rendered = render(c.source, contexts);
        EXPECT_EQ(rendered.valid, c.valid);
        EXPECT_EQ(rendered.output, c.output);
        EXPECT_EQ(rendered.messages, c.messages);
    }

    /* Parsing ends at an embedded zero byte */
    Template t{Containers::StringView{"a\0{{ x", 6, Containers::StringViewFlag::NullTerminated}};
    EXPECT_TRUE(t.valid());
    EXPECT_EQ(text(t.render(context.root)), "a");
}

TEST(Template, ContextsAreSearchedInOrder) {
    Document first{R"({"scale": 2.0, "hidden": 3})"};
    Document second{R"({"scale": 1.5, "only": "second", "hidden": 4.0})"};
    Template t{"{{ scale }} {{ only }}"};
    EXPECT_EQ(text(t.render({first.root, second.root})), "2.0000 second");
    EXPECT_EQ(text(t.render({second.root, first.root})), "1.5000 second");

    /* The first context that has the name decides, whatever its type */
    std::ostringstream out;
    {
        Utility::Error redirectError{&out};
        EXPECT_EQ(text(Template{"{{ hidden }}"}.render({first.root, second.root})), "");
        EXPECT_EQ(text(t.render(Containers::ArrayView<const Containers::Reference<JsonObject>>{})), "");
    }
    EXPECT_EQ(out.str(),
        "Template::render(): Unsupported type for hidden\n"
        "Template::render(): Undefined name scale\n");
}

/* Answers from a JsonPointerObject, logging what is asked of it */
class LoggedObject: public JsonObject {
    public:
        explicit LoggedObject(std::string& log, const char* name, Containers::Pointer<JsonObject> object): _log(log), _name{name}, _object{std::move(object)} {}

        bool exists() const override {
            _log += _name + " exists\n";
            return _object->exists();
        }
        Containers::String path() const override { return _object->path(); }
        Containers::Pointer<JsonObject> child(const Containers::StringView path) override {
            _log += _name + " child " + std::string{path.data(), path.size()} +
                (path.flags() & Containers::StringViewFlag::NullTerminated && !path.data()[path.size()] ? "\n" : " unterminated\n");
            return Containers::Pointer<JsonObject>{new LoggedObject{_log, _name.data(), _object->child(path)}};
        }
        rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator() override { return _object->allocator(); }
        const rapidjson::Value& readValue() const override {
            _log += _name + " readValue\n";
            return _object->readValue();
        }
        rapidjson::Value& writeValue(const bool writeFlag) override { return _object->writeValue(writeFlag); }

    private:
        std::string& _log;
        std::string _name;
        Containers::Pointer<JsonObject> _object;
};

TEST(Template, AsksTheContextsForEveryNameOnEveryRender) {
    Document first{R"({"node": {"flag": true}})"};
    Document second{R"({"node": {"flag": false, "name": "cube"}})"};
    std::string log;
    LoggedObject firstLogged{log, "first", Containers::Pointer<JsonObject>{new JsonPointerObject{first.document}}};
    LoggedObject secondLogged{log, "second", Containers::Pointer<JsonObject>{new JsonPointerObject{second.document}}};
    Template t{"{{ node.name }}{{ if node.flag }}!{{ end }}{{ if node.name == 'cube' }}?{{ end }}"};
    const char* const expectedLog =
        "first child /node/name\nfirst exists\nsecond child /node/name\nsecond exists\nsecond readValue\n"
        "first child /node/flag\nfirst exists\nfirst readValue\n"
        "first child /node/name\nfirst exists\nsecond child /node/name\nsecond exists\nsecond readValue\n";
    EXPECT_EQ(text(t.render({firstLogged, secondLogged})), "cube!?");
    EXPECT_EQ(log, expectedLog);

    /* Changes to the documents show at the next render */
    log.clear();
    first.document["node"]["flag"].SetBool(false);
    second.document["node"]["name"].SetString("cone");
    EXPECT_EQ(text(t.render({firstLogged, secondLogged})), "cone");
    EXPECT_EQ(log, expectedLog);
}

TEST(Template, LongNamesAndComparedTexts) {
    /* Past what names and compared texts get on the stack */
    const std::string longName(150, 'n');
    const std::string longValue(300, 'v');
    Document context{(R"({"o": {")" + longName + R"(": ")" + longValue + R"("}, "same": ")" + longValue +
        R"(", "shorter": ")" + longValue.substr(1) + R"(", "mode": "edit"})").data()};

    const std::string name = "o." + longName;
    Template t{("{{ " + name + " }}|{{ " + name + " == same }}|{{ same\t==\tshorter }}|{{ if shorter != " + name + " }}n{{ end }}|"
        "{{ if mode\t==\t'edit' }}e{{ end }}{{ if mode == 'x' }}x{{ end\tif }}.").data()};
    EXPECT_EQ(text(t.render(context.root)), longValue + "|true|false|n|e.");

    std::ostringstream out;
    {
        Utility::Error redirectError{&out};
        EXPECT_EQ(text(Template{("{{ o." + longName + "x }}").data()}.render(context.root)), "");
    }
    EXPECT_EQ(out.str(), "Template::render(): Undefined name o." + longName + "x\n");
}

TEST(TemplateDeathTest, SourceWithoutZeroTerminator) {
    const Containers::StringView prefix{"{{ x }}", 3};
    /* The simple expressions GoogleTest has on Windows know digits only as
       \d, which POSIX ones do not know */
    #ifdef GTEST_USES_SIMPLE_RE
    #define LINE "\\d+"
    #else
    #define LINE "[0-9]+"
    #endif
    EXPECT_DEATH(Template{prefix},
        "^Assertion source\\.flags\\(\\) & Containers::StringViewFlag::NullTerminated failed at .*QuenfoldEditor.Utils.Template\\.cpp:" LINE "\n$");
    #undef LINE
}

}}
