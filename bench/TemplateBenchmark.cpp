/* Template parsing and rendering side by side with two established C++
   mustache engines, on the same data: each workload is written once per
   syntax from one description, the peers get the JSON documents converted to
   their own context types (doubles formatted beforehand, which they cannot
   do), and the outputs are checked to be identical before anything is
   timed. Ours renders against two contexts: JsonPointerObject, whose linear
   member search dominates on wide objects, and a hashed one, so that the
   engine itself is measured. A table of medians and ratios closes the run. */

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>
#include <benchmark/benchmark.h>
#include <kainjow/mustache.hpp>
#include <mstch/mstch.hpp>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;

/* A read-only context whose objects find their members in hash tables built
   once, so that a lookup costs a hash per path component instead of a scan
   of the members: open addressing over a power-of-two table, hashing eight
   bytes at a time. Handles resolve their path in child() and come from a
   free list: the interface makes and drops one handle per name and context,
   and an editor rendering every frame would not pay malloc() for that. */
class HashedObject: public JsonObject {
    public:
        class Node {
            public:
                explicit Node(const rapidjson::Value& value): _value{&value} {
                    if(!value.IsObject()) return;
                    std::size_t slots = 2;
                    while(slots < 2*value.MemberCount()) slots *= 2;
                    _slots.resize(slots);
                    _members.reserve(value.MemberCount());
                    for(const auto& member: value.GetObject()) {
                        _members.emplace_back(member.value);
                        const std::string_view name{member.name.GetString(), member.name.GetStringLength()};
                        std::size_t i = hash(name) & (slots - 1);
                        while(_slots[i].node) i = (i + 1) & (slots - 1);
                        _slots[i] = {name, &_members.back()};
                    }
                }

                const rapidjson::Value& value() const { return *_value; }

                const Node* member(const std::string_view name) const {
                    if(_slots.empty()) return nullptr;
                    for(std::size_t i = hash(name) & (_slots.size() - 1); _slots[i].node; i = (i + 1) & (_slots.size() - 1))
                        if(equals(_slots[i].name, name)) return _slots[i].node;
                    return nullptr;
                }

            private:
                struct Slot {
                    std::string_view name;
                    const Node* node;
                };

                /* Member names are short: a loop costs less than a call */
                static bool equals(const std::string_view a, const std::string_view b) {
                    if(a.size() != b.size()) return false;
                    for(std::size_t i = 0; i != a.size(); ++i)
                        if(a[i] != b[i]) return false;
                    return true;
                }

                static std::uint64_t hash(const std::string_view name) {
                    std::uint64_t h = name.size()*0x9e3779b97f4a7c15ull;
                    std::size_t i = 0;
                    for(; i + 8 <= name.size(); i += 8) {
                        std::uint64_t word;
                        std::memcpy(&word, name.data() + i, 8);
                        h = (h ^ word)*0xbf58476d1ce4e5b9ull;
                    }
                    std::uint64_t tail = 0;
                    for(std::size_t shift = 0; i != name.size(); ++i, shift += 8)
                        tail |= std::uint64_t(std::uint8_t(name[i])) << shift;
                    /* The finalizer of MurmurHash3, so that every byte reaches the
                       low bits that index the table */
                    h ^= tail;
                    h = (h ^ (h >> 33))*0xff51afd7ed558ccdull;
                    h = (h ^ (h >> 33))*0xc4ceb9fe1a85ec53ull;
                    return h ^ (h >> 33);
                }

                const rapidjson::Value* _value;
                /* Reserved up front, so the slots can point into it */
                std::vector<Node> _members;
                std::vector<Slot> _slots;
        };

        explicit HashedObject(rapidjson::Document& document, const Node* node): _document(document), _node{node} {}

        bool exists() const override { return _node; }
        Containers::String path() const override { return {}; }

        Containers::Pointer<JsonObject> child(const Containers::StringView path) override {
            const Node* node = _node;
            const char* const end = path.data() + path.size();
            for(const char* component = path.data(); node && component != end; ) {
                if(*component == '/') ++component;
                const char* componentEnd = component;
                while(componentEnd != end && *componentEnd != '/') ++componentEnd;
                node = node->member({component, std::size_t(componentEnd - component)});
                component = componentEnd;
            }
            return Containers::Pointer<JsonObject>{new HashedObject{_document, node}};
        }

        rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator() override {
            return _document.GetAllocator();
        }

        const rapidjson::Value& readValue() const override {
            static const rapidjson::Value null;
            return _node ? _node->value() : null;
        }

        rapidjson::Value& writeValue(bool) override {
            std::fputs("HashedObject is read-only\n", stderr);
            std::abort();
        }

        static void* operator new(std::size_t size) {
            if(!_free) return ::operator new(size);
            void* const block = _free;
            _free = _free->next;
            return block;
        }

        static void operator delete(void* const block) {
            _free = new(block) FreeBlock{_free};
        }

    private:
        struct FreeBlock { FreeBlock* next; };
        static FreeBlock* _free;

        rapidjson::Document& _document;
        const Node* _node;
};

HashedObject::FreeBlock* HashedObject::_free = nullptr;

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

rapidjson::Value jsonString(const std::string& text, rapidjson::Document& d) {
    return rapidjson::Value{text.data(), rapidjson::SizeType(text.size()), d.GetAllocator()};
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

/* An editor's inspector panel: 50 scene nodes, each a section shown when the
   node is visible (three in four are) with eight values named three or four
   levels deep, short labels between them */
constexpr int InspectorNodes = 50;

std::string inspectorSource(const Syntax& s) {
    std::string out = "Scene inspector\n";
    for(int k = 0; k != InspectorNodes; ++k) {
        const std::string node = "nodes.node" + std::to_string(k);
        out += s.sectionBegin(node + ".visible") +
            "Node " + s.value(node + ".name") + " (" + s.value(node + ".kind") + ")\n"
            "  position " + s.value(node + ".transform.x") + " " + s.value(node + ".transform.y") +
            " " + s.value(node + ".transform.z") + "\n"
            "  yaw " + s.value(node + ".transform.yaw") + " scale " + s.value(node + ".transform.scale") + "\n"
            "  material " + s.value(node + ".material.name") + "\n" + s.sectionEnd(node + ".visible");
    }
    return out;
}

void inspectorData(rapidjson::Document& d) {
    d.SetObject();
    auto& a = d.GetAllocator();
    rapidjson::Value nodes{rapidjson::kObjectType};
    for(int k = 0; k != InspectorNodes; ++k) {
        rapidjson::Value transform{rapidjson::kObjectType};
        transform.AddMember("x", k*1.5, a).AddMember("y", -k*0.25, a).AddMember("z", k*0.1, a)
            .AddMember("yaw", k*7.5, a).AddMember("scale", 1.0 + k*0.05, a);
        rapidjson::Value material{rapidjson::kObjectType};
        material.AddMember("name", jsonString("materials/m" + std::to_string(k % 8), d), a)
            .AddMember("roughness", 0.5, a);
        rapidjson::Value node{rapidjson::kObjectType};
        node.AddMember("name", jsonString("node-" + std::to_string(k), d), a)
            .AddMember("kind", rapidjson::StringRef(k % 3 ? "mesh" : "light"), a)
            .AddMember("visible", k % 4 != 3, a)
            .AddMember("transform", transform, a).AddMember("material", material, a);
        nodes.AddMember(jsonString("node" + std::to_string(k), d), node, a);
    }
    d.AddMember("nodes", nodes, a);
}

/* 200 one-level names, each a number, in one object of 200 members: the
   commonest kind of directive with as little text around it as possible */
constexpr int FlatMembers = 200;

std::string flatSource(const Syntax& s) {
    std::string out;
    for(int k = 0; k != FlatMembers; ++k) {
        const std::string name = "value" + std::to_string(k);
        out += name + ": " + s.value(name) + "\n";
    }
    return out;
}

void flatData(rapidjson::Document& d) {
    d.SetObject();
    for(int k = 0; k != FlatMembers; ++k)
        d.AddMember(jsonString("value" + std::to_string(k), d), rapidjson::Value{k*0.37 - 20.0}, d.GetAllocator());
}

/* 40 sections of 2 KB of text each, every other one left out */
constexpr int Sections = 40;

std::string sectionsSource(const Syntax& s) {
    std::string text;
    while(text.size() < 2048)
        text += "Section text copied as it stands when its flag is set, and skipped whole otherwise. ";
    text.resize(2048);
    std::string out;
    for(int k = 0; k != Sections; ++k) {
        const std::string flag = "section" + std::to_string(k);
        out += s.sectionBegin(flag) + text + s.sectionEnd(flag);
    }
    return out;
}

void sectionsData(rapidjson::Document& d) {
    d.SetObject();
    for(int k = 0; k != Sections; ++k)
        d.AddMember(jsonString("section" + std::to_string(k), d), rapidjson::Value{k % 2 == 0}, d.GetAllocator());
}

/* 1 MB of text and no directive */
constexpr std::size_t LiteralSize = 1 << 20;

std::string literalSource(const Syntax&) {
    std::string out;
    while(out.size() < LiteralSize)
        out += "Plain text without a single directive, copied as it is. ";
    out.resize(LiteralSize);
    return out;
}

void literalData(rapidjson::Document& d) {
    d.SetObject();
}

const Workload Workloads[]{
    {"small", smallSource, smallData},
    {"inspector", inspectorSource, inspectorData},
    {"flat", flatSource, flatData},
    {"sections", sectionsSource, sectionsData},
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
        hashedIndex.reset(new HashedObject::Node{document});
        hashedRoot.reset(new HashedObject{document, hashedIndex.get()});
        kainjowData = toKainjow(document);
        mstchData = toMstch(document);
    }

    Containers::String source;
    std::string mustacheSource;
    rapidjson::Document document;
    JsonPointerObject pointerRoot{document};
    /* Built once the document is filled */
    std::unique_ptr<HashedObject::Node> hashedIndex;
    std::unique_ptr<HashedObject> hashedRoot;
    kainjow::mustache::data kainjowData;
    mstch::node mstchData;
};

std::string renderKainjow(const Prepared& p, kainjow::mustache::mustache& m) {
    std::string out;
    m.render(p.kainjowData, [&out](const std::string& text) { out += text; });
    return out;
}

std::string renderMstch(const Prepared& p) {
    return mstch::render(p.mustacheSource, p.mstchData);
}

/* The same text from all engines and contexts, or the comparison is
   meaningless */
void checkOutputs(const char* const name, Prepared& p) {
    Template t{p.source};
    kainjow::mustache::mustache m{p.mustacheSource};
    const Containers::String hashed = t.render(*p.hashedRoot);
    const Containers::String pointer = t.render(p.pointerRoot);
    const std::string ours{hashed.data(), hashed.size()};
    const std::string kainjow = renderKainjow(p, m);
    const std::string mstch = renderMstch(p);
    if(!t.valid() || !m.is_valid() || ours.empty() || Containers::StringView{pointer} != hashed ||
       ours != kainjow || ours != mstch) {
        std::fprintf(stderr, "Workload %s renders differently:\n%s\n---\n%s\n---\n%s\n",
            name, ours.data(), kainjow.data(), mstch.data());
        std::exit(1);
    }
}

void registerWorkload(const char* const name, Prepared& p) {
    const std::string prefix = name;
    const auto add = [&](const char* what, std::function<void(benchmark::State&)> function) {
        benchmark::RegisterBenchmark((prefix + "/" + what).data(), function)->Unit(benchmark::kMicrosecond);
    };
    const auto perTemplateByte = [&p](benchmark::State& state) {
        state.SetBytesProcessed(std::int64_t(state.iterations())*p.source.size());
    };
    const auto renderOurs = [&p, perTemplateByte](JsonObject& context) {
        return [&p, &context, perTemplateByte](benchmark::State& state) {
            Template t{p.source};
            for(auto _: state) {
                Containers::String out = t.render(context);
                benchmark::DoNotOptimize(out.data());
            }
            perTemplateByte(state);
        };
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
    add("render/Template-hashed", renderOurs(*p.hashedRoot));
    add("render/Template-JsonPointerObject", renderOurs(p.pointerRoot));
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

/* Prints what the console reporter prints, keeping the median CPU time of
   every benchmark, then a table of the medians and the ratios the engine is
   held to */
class SummaryReporter: public benchmark::ConsoleReporter {
    public:
        void ReportRuns(const std::vector<Run>& runs) override {
            ConsoleReporter::ReportRuns(runs);
            for(const Run& run: runs) {
                /* Without repetitions there are no aggregates: the single
                   run stands for the median */
                if(run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
                _microseconds[run.run_name.str()] = run.GetAdjustedCPUTime()/benchmark::GetTimeUnitMultiplier(run.time_unit)*1.0e6;
            }
        }

        void Finalize() override {
            ConsoleReporter::Finalize();
            std::printf("\nMedian CPU time in µs; ratios are the other engine's time over ours\n\n"
                "| workload | ours render, hashed | ours render, JsonPointerObject | kainjow render | mstch render | fastest peer / ours | ours parse | kainjow parse | kainjow / ours |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
            for(const Workload& workload: Workloads) {
                const std::string w = workload.name;
                const double hashed = time(w + "/render/Template-hashed");
                const double kainjow = time(w + "/render/kainjow-mustache");
                const double mstch = time(w + "/render/mstch");
                const double parse = time(w + "/parse/Template");
                const double kainjowParse = time(w + "/parse/kainjow-mustache");
                std::printf("| %s | %.3g | %.3g | %.3g | %.3g | %.2fx | %.3g | %.3g | %.1fx |\n",
                    workload.name, hashed, time(w + "/render/Template-JsonPointerObject"), kainjow, mstch,
                    (kainjow < mstch ? kainjow : mstch)/hashed, parse, kainjowParse, kainjowParse/parse);
            }
            const double copy = time("literal/render/malloc+memcpy");
            std::printf("\nliteral render / malloc+memcpy: %.3g / %.3g µs = %.2fx\n"
                "flat render, hashed context alone: %.3g µs\n",
                time("literal/render/Template-hashed"), copy, time("literal/render/Template-hashed")/copy,
                time("flat/render/context-lookups-only"));
        }

    private:
        /* NaN for a benchmark filtered out of the run */
        double time(const std::string& name) const {
            const auto found = _microseconds.find(name);
            return found == _microseconds.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
        }

        std::map<std::string, double> _microseconds;
};

}

int main(int argc, char** argv) {
    std::vector<std::unique_ptr<Prepared>> prepared;
    for(const Workload& workload: Workloads) {
        prepared.emplace_back(new Prepared{workload});
        checkOutputs(workload.name, *prepared.back());
        registerWorkload(workload.name, *prepared.back());
    }

    /* The floor for rendering text without directives: a fresh buffer for
       the output, filled with the bytes, then freed, as a render does */
    const Containers::String& literal = prepared.back()->source;
    benchmark::RegisterBenchmark("literal/render/malloc+memcpy", [&literal](benchmark::State& state) {
        for(auto _: state) {
            char* const out = static_cast<char*>(std::malloc(literal.size() + 1));
            std::memcpy(out, literal.data(), literal.size() + 1);
            benchmark::DoNotOptimize(out);
            benchmark::ClobberMemory();
            std::free(out);
        }
        state.SetBytesProcessed(std::int64_t(state.iterations())*literal.size());
    })->Unit(benchmark::kMicrosecond);

    /* What the hashed context alone costs for the names of the flat
       workload, looked up the way a render asks for them: the part of that
       render the engine cannot go below */
    std::size_t flatIndex = 0;
    while(std::strcmp(Workloads[flatIndex].name, "flat") != 0) ++flatIndex;
    Prepared& flat = *prepared[flatIndex];
    std::vector<std::string> flatPaths;
    for(int k = 0; k != FlatMembers; ++k) flatPaths.push_back("/value" + std::to_string(k));
    benchmark::RegisterBenchmark("flat/render/context-lookups-only", [&flat, &flatPaths](benchmark::State& state) {
        for(auto _: state) {
            double sum = 0.0;
            for(const std::string& path: flatPaths) {
                const Containers::Pointer<JsonObject> handle = flat.hashedRoot->child(Containers::StringView{path.data(), path.size()});
                if(handle->exists()) sum += handle->readValue().GetDouble();
            }
            benchmark::DoNotOptimize(sum);
        }
    })->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if(benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
