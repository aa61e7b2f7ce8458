/* Case-insensitive substring search over a 1 MiB haystack of mixed-case
   letters and spaces, with a needle found near the very end or not at all,
   side by side with the plain byte-pair algorithm, glibc's strcasestr() and
   std::search() with a toupper() predicate. The results are checked to
   agree before anything is timed. */

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <random>
#include <string>
#include <benchmark/benchmark.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Utils.h"

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;

constexpr std::size_t HaystackSize = 1 << 20;

struct Input {
    std::string haystack, needle;
};

/* The haystack has no z, the needle has one in its middle: its first and
   last bytes are common, so every search has candidates to reject. For a
   late match the needle, in another case, ends the haystack 64 bytes early. */
Input input(const std::size_t needleSize, const bool late) {
    std::mt19937 random{7};
    const char letters[] = "abcdefghijklmnopqrstuvwxy ";
    auto letter = [&]() {
        const char c = letters[random() % (sizeof(letters) - 1)];
        return random() % 4 ? c : char(std::toupper(c));
    };
    Input out;
    out.needle.resize(needleSize);
    for(char& c: out.needle) c = letter();
    out.needle.front() = 'e';
    out.needle.back() = 't';
    out.needle[needleSize/2] = 'z';
    out.haystack.resize(HaystackSize);
    for(char& c: out.haystack) c = letter();
    if(late) for(std::size_t i = 0; i != needleSize; ++i)
        out.haystack[HaystackSize - 64 + i] = std::isupper(out.needle[i]) ? std::tolower(out.needle[i]) : std::toupper(out.needle[i]);
    return out;
}

std::size_t ours(const std::string& haystack, const std::string& needle) {
    return Utils::caseInsensitiveSearch({haystack.data(), haystack.size()}, {needle.data(), needle.size()});
}

/* Every start offset, every byte pair through the locale's facet */
std::size_t naive(const std::string& haystack, const std::string& needle) {
    const std::locale locale;
    const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(locale);
    for(std::size_t p = 0; p <= haystack.size() - needle.size(); ++p) {
        std::size_t i = 0;
        while(i != needle.size() && ctype.toupper(haystack[p + i]) == ctype.toupper(needle[i])) ++i;
        if(i == needle.size()) return p;
    }
    return std::string::npos;
}

std::size_t glibc(const std::string& haystack, const std::string& needle) {
    const char* const found = strcasestr(haystack.c_str(), needle.c_str());
    return found ? found - haystack.c_str() : std::string::npos;
}

std::size_t standard(const std::string& haystack, const std::string& needle) {
    const auto found = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), [](const char a, const char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
    return found == haystack.end() ? std::string::npos : found - haystack.begin();
}

template<std::size_t(*search)(const std::string&, const std::string&)> void run(benchmark::State& state) {
    const Input in = input(state.range(0), state.range(1));
    const std::size_t expected = in.haystack.size() - 64;
    const std::size_t results[]{ours(in.haystack, in.needle), naive(in.haystack, in.needle),
        glibc(in.haystack, in.needle), standard(in.haystack, in.needle)};
    for(const std::size_t result: results) if(result != (state.range(1) ? expected : std::string::npos)) {
        state.SkipWithError("the searches disagree");
        return;
    }
    for(auto _: state)
        benchmark::DoNotOptimize(search(in.haystack, in.needle));
    state.SetBytesProcessed(state.iterations()*in.haystack.size());
}

/* Arguments: needle size, whether it is found */
#define SEARCH_BENCHMARK(function) BENCHMARK(run<function>)->Name(#function)->ArgNames({"needle", "found"})->Args({3, 1})->Args({3, 0})->Args({32, 1})->Args({32, 0})->Unit(benchmark::kMicrosecond)
SEARCH_BENCHMARK(ours);
SEARCH_BENCHMARK(naive);
SEARCH_BENCHMARK(glibc);
SEARCH_BENCHMARK(standard);

}

BENCHMARK_MAIN();
