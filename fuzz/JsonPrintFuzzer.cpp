/* JSON text printed by the debug printer: the same text as RapidJSON's own
   recursive pretty writer, and, unless the writer refused a number, printed
   again the same after a parse of the printed text */

#include <cstdint>
#include <sstream>
#include <string>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/RapidJsonUtils.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;

namespace {


std::string print(const rapidjson::Value& value) {
    std::ostringstream out;
    Utility::Debug{&out, Utility::Debug::Flag::NoNewlineAtTheEnd} << value;
    return out.str();
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* const data, const std::size_t size) {
    rapidjson::Document document;
    if(document.Parse<rapidjson::kParseIterativeFlag>(reinterpret_cast<const char*>(data), size).HasParseError())
        return 0;
    const std::string printed = print(document);

    /* The nesting of an input libFuzzer makes is shallow enough for the
       recursion */
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer{buffer};
    const bool complete = document.Accept(writer);
    FUZZ_CHECK(printed == std::string(buffer.GetString(), buffer.GetSize()));
    /* A number too large for a double parses as infinity, which stops the
       printed text where it stands */
    if(!complete) return 0;

    /* The printed digits of a double read back as the same double only when
       parsed exactly. (RapidJSON's exact parse gets a zero significand with
       a large exponent, such as 0e300, wrong, but a printed zero is 0.0.) */
    rapidjson::Document reparsed;
    FUZZ_CHECK(!reparsed.Parse<rapidjson::kParseIterativeFlag|rapidjson::kParseFullPrecisionFlag>(printed.data(), printed.size()).HasParseError());
    FUZZ_CHECK(print(reparsed) == printed);
    return 0;
}
