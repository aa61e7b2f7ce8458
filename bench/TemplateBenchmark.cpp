/* Template parsing and rendering side by side with two established C++
   mustache engines, on the same data: each workload is written once per
   syntax from one description, the peers get the JSON documents converted to
   their own context types (doubles formatted beforehand, which they cannot
   do), and the outputs are checked to be identical before anything is
   timed. */

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <benchmark/benchmark.h>
#include <kainjow/mustache.hpp>
#include <mstch/mstch.hpp>
#include <rapidjson/document.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;

/* How one syntax spells a value, and a section kept when a value is true */
struct Syntax {
    std::string(*value)(const std::string& name);
    std::string(*sectionBegin)(const std::string& name);
    std::string(*sectionEnd)(const std::string& name);
};

const Syntax Ours{
    [](const std::string& name) { return "{{ " + name + " }}"; },
    [](const std::string& name) { return "{{ if " + name + " }}"; },
    [](const std::string&) { return std::string{"{{ end }}"}; }};

/* Unescaped values: the template engine does not escape either */
const Syntax Mustache{
    [](const std::string& name) { return "{{&" + name + "}}"; },
    [](const std::string& name) { return "{{#" + name + "}}"; },
    [](const std::string& name) { return "{{/" + name + "}}"; }};

std::string fixed4(const double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.4f", value);
    return buffer;
}

struct Workload {
    const char* name;
    std::string(*source)(const Syntax&);
    void(*data)(rapidjson::Document&);
};

/* The worked example of the template documentation */
std::string smallSource(const Syntax& s) {
    return "Hello " + s.value("node.name") + "!" + s.sectionBegin("node.visible") +
        " [shown]" + s.sectionEnd("node.visible") + " Scale: " + s.value("scale");
}

void smallData(rapidjson::Document& d) {
    d.Parse(R"({"node": {"name": "cube", "visible": true}, "scale": 1.5})");
}

/* A generated scene description: about 8 KB, mostly text, 100 names one to
   three levels deep, 10 sections of which half are left out, against a
   document of about 200 members */
constexpr int PageNodes = 16;
/* Booleans only as conditions: the peers cannot write them as text */
const char* const PageTopNames[]{"title", "author", "version", "gamma", "exposure",
    "units", "scene", "seed"};
const char* const PageNodeNames[]{"name", "x", "y", "z", "material", "tags"};
const char* const PageTransformNames[]{"scale", "rotation", "parent"};

std::string pageSource(const Syntax& s) {
    const std::string filler =
        "The editor keeps this paragraph as plain text between the values, "
        "the way a generated scene or material description mixes fixed "
        "wording with data taken from the project. Nothing here is looked up; "
        "it is copied to the output as it stands, byte for byte, line after line.\n";
    std::string out;
    for(int paragraph = 0; paragraph != 20; ++paragraph) {
        const std::string flag = "node" + std::to_string(paragraph/2) + ".visible";
        if(paragraph % 2 == 0) out += "Section " + s.sectionBegin(flag);
        out += filler;
        for(int i = paragraph*5; i != paragraph*5 + 5; ++i) {
            const std::string node = "node" + std::to_string(i % PageNodes);
            std::string name;
            if(i % 3 == 0) name = PageTopNames[i % 8];
            else if(i % 3 == 1) name = node + "." + PageNodeNames[i % 6];
            else name = node + ".transform." + PageTransformNames[i % 3];
            out += "Value " + std::to_string(i) + " is " + s.value(name) + ", ";
        }
        out += "and the paragraph ends.\n";
        if(paragraph % 2 == 0) out += "End of section " + s.sectionEnd(flag) + "\n";
    }
    return out;
}

void pageData(rapidjson::Document& d) {
    d.SetObject();
    auto& a = d.GetAllocator();
    const auto string = [&](const std::string& text) { return rapidjson::Value{text.data(), rapidjson::SizeType(text.size()), a}; };
    d.AddMember("title", "Harbour at dusk", a).AddMember("author", "level design", a)
     .AddMember("version", 2.5, a).AddMember("gamma", 2.2, a).AddMember("exposure", 1.25, a)
     .AddMember("fog", true, a).AddMember("shadows", false, a).AddMember("units", "meters", a)
     .AddMember("scene", "harbour.scene", a).AddMember("seed", 42.0, a);
    for(int k = 0; k != PageNodes; ++k) {
        rapidjson::Value transform{rapidjson::kObjectType};
        transform.AddMember("scale", k*0.5 + 1.0, a).AddMember("rotation", k*15.0, a)
            .AddMember("parent", string("node-" + std::to_string(k - 1)), a);
        rapidjson::Value node{rapidjson::kObjectType};
        node.AddMember("name", string("node-" + std::to_string(k)), a)
            .AddMember("x", k*1.5, a).AddMember("y", -k*0.25, a).AddMember("z", k*0.1, a)
            .AddMember("visible", k % 2 == 0, a).AddMember("material", string("materials/m" + std::to_string(k % 4)), a)
            .AddMember("tags", "static,lit", a).AddMember("transform", transform, a);
        d.AddMember(string("node" + std::to_string(k)), node, a);
    }
}

/* 64 KB of text and no directive */
std::string literalSource(const Syntax&) {
    std::string out;
    while(out.size() < 65536)
        out += "Plain text without a single directive, copied as it is. ";
    out.resize(65536);
    return out;
}

void literalData(rapidjson::Document& d) {
    d.SetObject();
}

const Workload Workloads[]{
    {"small", smallSource, smallData},
    {"page", pageSource, pageData},
    {"literal", literalSource, literalData},
};

kainjow::mustache::data toKainjow(const rapidjson::Value& value) {
    if(value.IsObject()) {
        kainjow::mustache::data object{kainjow::mustache::data::type::object};
        for(const auto& member: value.GetObject())
            object.set(member.name.GetString(), toKainjow(member.value));
        return object;
    }
    if(value.IsString()) return std::string{value.GetString(), value.GetStringLength()};
    if(value.IsBool()) return kainjow::mustache::data{value.GetBool()};
    return fixed4(value.GetDouble());
}

mstch::node toMstch(const rapidjson::Value& value) {
    if(value.IsObject()) {
        mstch::map object;
        for(const auto& member: value.GetObject())
            object.emplace(member.name.GetString(), toMstch(member.value));
        return object;
    }
    if(value.IsString()) return std::string{value.GetString(), value.GetStringLength()};
    if(value.IsBool()) return value.GetBool();
    return fixed4(value.GetDouble());
}

/* Everything a workload needs, built once */
struct Prepared {
    explicit Prepared(const Workload& workload):
        source{workload.source(Ours).c_str()},
        mustacheSource{workload.source(Mustache)}
    {
        workload.data(document);
        kainjowData = toKainjow(document);
        mstchData = toMstch(document);
    }

    Containers::String source;
    std::string mustacheSource;
    rapidjson::Document document;
    JsonPointerObject root{document};
    kainjow::mustache::data kainjowData;
    mstch::node mstchData;
};

Containers::String renderOurs(Prepared& p, Template& t) {
    return t.render(p.root);
}

std::string renderKainjow(const Prepared& p, kainjow::mustache::mustache& m) {
    std::string out;
    m.render(p.kainjowData, [&out](const std::string& text) { out += text; });
    return out;
}

std::string renderMstch(const Prepared& p) {
    return mstch::render(p.mustacheSource, p.mstchData);
}

/* The same text from all three, or the comparison is meaningless */
void checkOutputs(const char* const name, Prepared& p) {
    Template t{p.source};
    kainjow::mustache::mustache m{p.mustacheSource};
    const Containers::String ours = renderOurs(p, t);
    const std::string oursText{ours.data(), ours.size()};
    if(!t.valid() || !m.is_valid() || oursText.empty() ||
       oursText != renderKainjow(p, m) || oursText != renderMstch(p)) {
        std::fprintf(stderr, "Workload %s renders differently:\n%s\n---\n%s\n---\n%s\n",
            name, oursText.data(), renderKainjow(p, m).data(), renderMstch(p).data());
        std::exit(1);
    }
}

void registerWorkload(const char* const name, Prepared& p) {
    const std::string prefix = name;
    const auto add = [&](const char* what, std::function<void(benchmark::State&)> function) {
        benchmark::RegisterBenchmark((prefix + "/" + what).data(), function);
    };
    const auto perTemplateByte = [&p](benchmark::State& state) {
        state.SetBytesProcessed(std::int64_t(state.iterations())*p.source.size());
    };

    add("parse/Template", [&p, perTemplateByte](benchmark::State& state) {
        for(auto _: state) {
            Template t{p.source};
            benchmark::DoNotOptimize(&t);
        }
        perTemplateByte(state);
    });
    add("parse/kainjow-mustache", [&p, perTemplateByte](benchmark::State& state) {
        for(auto _: state) {
            kainjow::mustache::mustache m{p.mustacheSource};
            benchmark::DoNotOptimize(&m);
        }
        perTemplateByte(state);
    });
    add("render/Template", [&p, perTemplateByte](benchmark::State& state) {
        Template t{p.source};
        for(auto _: state) {
            Containers::String out = renderOurs(p, t);
            benchmark::DoNotOptimize(out.data());
        }
        perTemplateByte(state);
    });
    add("render/kainjow-mustache", [&p, perTemplateByte](benchmark::State& state) {
        kainjow::mustache::mustache m{p.mustacheSource};
        for(auto _: state) {
            std::string out = renderKainjow(p, m);
            benchmark::DoNotOptimize(out.data());
        }
        perTemplateByte(state);
    });
    /* mstch has no separate parse step: every render parses again */
    add("render/mstch", [&p, perTemplateByte](benchmark::State& state) {
        for(auto _: state) {
            std::string out = renderMstch(p);
            benchmark::DoNotOptimize(out.data());
        }
        perTemplateByte(state);
    });
}

}

int main(int argc, char** argv) {
    std::vector<std::unique_ptr<Prepared>> prepared;
    for(const Workload& workload: Workloads) {
        prepared.emplace_back(new Prepared{workload});
        checkOutputs(workload.name, *prepared.back());
        registerWorkload(workload.name, *prepared.back());
    }

    /* The floor for rendering text without directives */
    const Containers::String& literal = prepared.back()->source;
    benchmark::RegisterBenchmark("literal/render/memcpy", [&literal](benchmark::State& state) {
        std::vector<char> out(literal.size());
        for(auto _: state) {
            std::memcpy(out.data(), literal.data(), literal.size());
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(std::int64_t(state.iterations())*literal.size());
    });

    benchmark::Initialize(&argc, argv);
    if(benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
