/* A path, then after a newline the JSON of a document: a string written at
   the path reads back from it, unless the path appends with "-"; a write
   that is refused says why and leaves the document as it was */

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <rapidjson/document.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/RapidJsonUtils.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;
using namespace Corrade::Containers::Literals;
using namespace QuenfoldEngine;

namespace {

std::string print(const rapidjson::Value& value) {
    std::ostringstream out;
    Utility::Debug{&out} << value;
    return out.str();
}

/* Whether a component of the path is "-", which names a new element of an
   array on every access */
bool appends(const Containers::StringView path) {
    for(const Containers::StringView component: path.split('/'))
        if(component == "-"_s) return true;
    return false;
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* const data, const std::size_t size) {
    const Containers::StringView input{reinterpret_cast<const char*>(data), size};
    const char* const newline = static_cast<const char*>(std::memchr(input.data(), '\n', input.size()));
    const Containers::StringView path = newline ? input.prefix(newline - input.data()) : input;

    /* A document that fails to parse stays null, which can be written to
       as well */
    rapidjson::Document document;
    if(newline) {
        const Containers::StringView json = input.exceptPrefix(path.size() + 1);
        document.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
    }
    const std::string before = print(document);

    std::ostringstream messages;
    {
        Utility::Error redirectError{&messages};
        JsonPointerObject{document, path}.setString(path, false);
    }

    const JsonPointerObject written{document, path};
    if(!messages.str().empty()) {
        FUZZ_CHECK(messages.str().find("JsonPointerObject::writeValue(): Index ") == 0);
        FUZZ_CHECK(print(document) == before);
        FUZZ_CHECK(!written.exists());
    } else if(!appends(path)) {
        FUZZ_CHECK(written.exists());
        FUZZ_CHECK(written.asString() == path);
    }
    return 0;
}
