/* A template, then after a zero byte the JSON of its context: parsing and
   rendering must not crash, two renders must give the same text and
   messages, and text without a directive must render to itself */

#include <cstdint>
#include <cstring>
#include <sstream>
#include <rapidjson/document.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;
using namespace QuenfoldEngine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* const data, const std::size_t size) {
    const Containers::StringView input{reinterpret_cast<const char*>(data), size};
    const char* const zero = static_cast<const char*>(std::memchr(input.data(), '\0', input.size()));
    const std::size_t sourceSize = zero ? std::size_t(zero - input.data()) : input.size();
    const Containers::String source = input.prefix(sourceSize);

    /* A context that fails to parse stays null, which is a context too */
    rapidjson::Document document;
    if(zero) {
        const Containers::StringView json = input.exceptPrefix(sourceSize + 1);
        document.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
    }
    JsonPointerObject context{document};

    std::ostringstream messages;
    Utility::Error redirectError{&messages};
    Template t{source};
    const std::string parseMessages = messages.str();
    messages.str({});
    const Containers::String first = t.render(context);
    const std::string firstMessages = messages.str();
    messages.str({});
    const Containers::String second = t.render(context);
    FUZZ_CHECK(first == second);
    FUZZ_CHECK(messages.str() == firstMessages);
    /* A failed render says why, a successful one says nothing */
    FUZZ_CHECK(first.isEmpty() || firstMessages.empty());

    if(!std::strstr(source.data(), "{{")) {
        FUZZ_CHECK(t.valid() && parseMessages.empty());
        FUZZ_CHECK(first == source);
    }
    return 0;
}
