/* A needle and a haystack: the case-insensitive search must find what the
   plain algorithm finds, comparing every byte pair through the facet, under
   the classic locale and under custom facets with more than two bytes
   folding together */

#include <cstdint>
#include <locale>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Utils.h"
#include "QuenfoldEditor/Utils/Test/PlainSearch.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;
using namespace QuenfoldEngine;

namespace {

/* Latin-1 letters too, and y, Y and the byte 0xff folding together */
struct Latin1Folding: std::ctype<char> {
    char do_toupper(const char c) const override {
        const unsigned char byte = c;
        if(byte == 0xff) return 'Y';
        if((byte >= 'a' && byte <= 'z') || (byte >= 0xe0 && byte != 0xf7)) return char(byte - 32);
        return c;
    }
};

/* Sixteen bytes at a time folding together */
struct CoarseFolding: std::ctype<char> {
    char do_toupper(const char c) const override { return char(c & 0xf0); }
};

}

/* The first byte is the needle's size, the needle follows, then the
   haystack */
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* const data, const std::size_t size) {
    static const std::locale locales[]{
        std::locale::classic(),
        std::locale{std::locale::classic(), new Latin1Folding},
        std::locale{std::locale::classic(), new CoarseFolding}
    };
    if(!size) return 0;
    const Containers::StringView input{reinterpret_cast<const char*>(data) + 1, size - 1};
    const std::size_t needleSize = data[0] < input.size() ? data[0] : input.size();
    const Containers::StringView needle = input.prefix(needleSize);
    const Containers::StringView haystack = input.exceptPrefix(needleSize);
    for(const std::locale& locale: locales)
        FUZZ_CHECK(Utils::caseInsensitiveSearch(haystack, needle, locale) == plainSearch(haystack, needle, locale));
    return 0;
}
