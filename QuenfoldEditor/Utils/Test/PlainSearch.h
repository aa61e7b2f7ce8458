#ifndef QuenfoldEditor_Utils_Test_PlainSearch_h
#define QuenfoldEditor_Utils_Test_PlainSearch_h
/* The case-insensitive search without any cleverness, which the tests and
   the fuzzer compare the library's with */

#include <cstddef>
#include <locale>
#include <Corrade/Containers/StringView.h>

namespace QuenfoldEngine {

/* Every start offset, every byte pair through the facet's toupper() */
inline std::size_t plainSearch(const Corrade::Containers::StringView haystack, const Corrade::Containers::StringView needle, const std::locale& locale) {
    if(needle.isEmpty()) return 0;
    if(haystack.size() < needle.size()) return ~std::size_t{};
    const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(locale);
    for(std::size_t p = 0; p <= haystack.size() - needle.size(); ++p) {
        std::size_t i = 0;
        while(i != needle.size() && ctype.toupper(haystack[p + i]) == ctype.toupper(needle[i])) ++i;
        if(i == needle.size()) return p;
    }
    return ~std::size_t{};
}

}

#endif
