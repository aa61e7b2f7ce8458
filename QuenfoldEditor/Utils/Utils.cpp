#include "Utils.h"

#include <Corrade/Containers/StringView.h>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define QUENFOLD_SEARCH_SSE2
#ifdef _MSC_VER
#include <intrin.h>
#endif
#endif

namespace QuenfoldEngine { namespace Utils {

using namespace Corrade;

namespace {

constexpr std::size_t NotFound = ~std::size_t{};

/* Upper-case form of every byte. Asked of the facet one character at a
   time: the range form may be answered from a built-in table that skips a
   custom facet's own toupper() */
struct UpperTable {
    explicit UpperTable(const std::locale& locale) {
        const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(locale);
        for(std::size_t i = 0; i != 256; ++i) upper[i] = ctype.toupper(char(i));
    }

    unsigned char operator()(const char c) const {
        return static_cast<unsigned char>(upper[static_cast<unsigned char>(c)]);
    }

    char upper[256];
};

bool matchesAt(const UpperTable& upper, const char* const haystack, const Containers::StringView needle) {
    for(std::size_t i = 0; i != needle.size(); ++i)
        if(upper(haystack[i]) != upper(needle[i])) return false;
    return true;
}

#ifdef QUENFOLD_SEARCH_SSE2
inline int lowestSetBit(const unsigned int mask) {
    #ifdef _MSC_VER
    unsigned long index;
    _BitScanForward(&index, mask);
    return int(index);
    #else
    return __builtin_ctz(mask);
    #endif
}

/* The at most two bytes that convert to the same upper-case byte as c, as
   bytes of 16-byte vectors; false if the locale folds more than two bytes
   together, which only odd single-byte locales do */
bool foldVariants(const UpperTable& upper, const char c, __m128i& first, __m128i& second) {
    char variants[2];
    std::size_t count = 0;
    for(std::size_t i = 0; i != 256; ++i) {
        if(upper(char(i)) != upper(c)) continue;
        if(count == 2) return false;
        variants[count++] = char(i);
    }
    first = _mm_set1_epi8(variants[0]);
    second = _mm_set1_epi8(variants[count - 1]);
    return true;
}

__m128i equalsEither(const char* const data, const __m128i first, const __m128i second) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    return _mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second));
}
#endif

}

std::size_t caseInsensitiveSearch(const Containers::StringView haystack, const Containers::StringView needle, const std::locale& locale) {
    if(!needle.data() || needle.isEmpty()) return 0;
    if(!haystack.data() || haystack.isEmpty() || haystack.size() < needle.size())
        return NotFound;

    const UpperTable upper{locale};
    const char* const data = haystack.data();
    const std::size_t lastByte = needle.size() - 1;
    const std::size_t starts = haystack.size() - lastByte;
    std::size_t start = 0;

    #ifdef QUENFOLD_SEARCH_SSE2
    /* Sixteen start offsets at a time: those whose first and last byte both
       fold like the needle's are the only candidates worth comparing */
    __m128i firstA, firstB, lastA, lastB;
    if(starts >= 16 && foldVariants(upper, needle[0], firstA, firstB) && foldVariants(upper, needle[lastByte], lastA, lastB)) {
        for(; start + 16 <= starts; start += 16) {
            unsigned int candidates = unsigned(_mm_movemask_epi8(_mm_and_si128(
                equalsEither(data + start, firstA, firstB),
                equalsEither(data + start + lastByte, lastA, lastB))));
            for(; candidates; candidates &= candidates - 1) {
                const std::size_t candidate = start + lowestSetBit(candidates);
                if(matchesAt(upper, data + candidate, needle)) return candidate;
            }
        }
    }
    #endif

    const unsigned char first = upper(needle[0]);
    const unsigned char last = upper(needle[lastByte]);
    for(; start != starts; ++start)
        if(upper(data[start]) == first && upper(data[start + lastByte]) == last && matchesAt(upper, data + start, needle))
            return start;
    return NotFound;
}

std::size_t caseInsensitiveSearch(const Containers::StringView haystack, const Containers::StringView needle) {
    return caseInsensitiveSearch(haystack, needle, std::locale{});
}

}}
