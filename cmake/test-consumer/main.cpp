/* Uses each service once through the headers and libraries of the library
   however the consumer got it, and checks the version they carry: the
   numbers against the string and, where the build knows the version of the
   package it found, the string against that */
#include <cstdio>
#include <string>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include <QuenfoldEditor/Utils/FileWatch.h>
#include <QuenfoldEditor/Utils/JsonPointerObject.h>
#include <QuenfoldEditor/Utils/Template.h>
#include <QuenfoldEditor/Utils/Utils.h>
#include <QuenfoldEditor/Utils/version.h>
#include <QuenfoldEngine/Path.h>
#include <QuenfoldEngine/StringArray.h>

using namespace Corrade;
using namespace Containers::Literals;

int main() {
    rapidjson::Document document;
    document.Parse(R"({"node": {"name": "cube"}, "scale": 1.5})");
    QuenfoldEngine::JsonPointerObject root{document};

    const Containers::StringView source = "{{ node.name }} at {{ scale }}"_s;
    QuenfoldEngine::Template t{source};
    const Containers::String rendered = t.render(root);

    QuenfoldEngine::StringArray strings;
    strings.add("engine"_s);

    QuenfoldEngine::FileWatch watch;
    const std::string version = std::to_string(QUENFOLDEDITORUTILS_VERSION_MAJOR) + "." +
        std::to_string(QUENFOLDEDITORUTILS_VERSION_MINOR) + "." + std::to_string(QUENFOLDEDITORUTILS_VERSION_PATCH);
    #ifdef QUENFOLD_EXPECTED_VERSION
    const bool packageVersion = version == QUENFOLD_EXPECTED_VERSION;
    #else
    const bool packageVersion = true;
    #endif
    const bool ok = version == QUENFOLDEDITORUTILS_VERSION_STRING && packageVersion &&
        t.valid() && rendered == "cube at 1.5000"_s &&
        QuenfoldEngine::Utils::caseInsensitiveSearch("xxABCxx"_s, "abc"_s) == 2 &&
        strings[0] == "engine"_s && watch.size() == 0 &&
        QuenfoldEngine::Path::absolute("/a/../b"_s) == "/b"_s;
    Utility::Debug{} << "QuenfoldEditorUtils" << QUENFOLDEDITORUTILS_VERSION_STRING << Utility::Debug::nospace
        << ", rendered:" << rendered << Utility::Debug::nospace << (ok ? ", consumer OK" : ", consumer FAILED");
    return ok ? 0 : 1;
}
