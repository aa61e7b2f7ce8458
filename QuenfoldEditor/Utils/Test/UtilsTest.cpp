#include <locale>
#include <random>
#include <stdexcept>
#include <string>
#include <gtest/gtest.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Utils.h"
#include "QuenfoldEditor/Utils/Test/PlainSearch.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

constexpr std::size_t NotFound = ~std::size_t{};

/* Folds x, y and z together, and nothing else, so that more than two bytes
   convert to the same upper-case one. Only the single-character form is
   overridden: the range form keeps answering from the classic table. */
struct XyzFolding: std::ctype<char> {
    char do_toupper(char c) const override { return c == 'x' || c == 'y' || c == 'z' ? 'X' : c; }
};

TEST(Utils, CaseInsensitiveSearch) {
    const struct {
        Containers::StringView haystack, needle;
        std::size_t expected;
    } cases[]{
        /* What the comparison with the plain algorithm below leaves out:
           null views and haystacks longer than its */
        {{}, {}, 0},
        {"abc"_s, {}, 0},
        {{}, "a"_s, NotFound},
        {"0123456789abcdef0123456789abcdef0123456789abcdef x"_s, " X"_s, 48},
        {"0123456789abcdef0123456789ABCDEF0123456789abcdef"_s, "F0123456789A"_s, 15},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(std::string(c.haystack.data() ? c.haystack.data() : "", c.haystack.size()));
        EXPECT_EQ(Utils::caseInsensitiveSearch(c.haystack, c.needle, std::locale::classic()), c.expected);
    }

    const std::locale xyz{std::locale::classic(), new XyzFolding};
    /* The two-argument overload takes the global locale at the time of the call */
    const Containers::StringView haystack = "0123456789abcdefghijklmnopqrstuvwxyz Z"_s;
    const std::locale previous = std::locale::global(xyz);
    EXPECT_EQ(Utils::caseInsensitiveSearch(haystack, "y"_s), 33);
    std::locale::global(previous);
    EXPECT_EQ(Utils::caseInsensitiveSearch(haystack, "y"_s), 34);
}

/* Random haystacks and needles give the same result as the plain
   algorithm under the locale */
void expectPlainSearchResults(const std::locale& locale) {
    std::mt19937 random{42};
    /* Few distinct bytes make matches likely; every byte value turns up too */
    const std::string alphabet{"aAbBxyZ\0\xc3\xa9\xc9\xff\x7f", 13};
    for(int round = 0; round != 20000; ++round) {
        auto randomString = [&](std::size_t maxSize) {
            std::string out(random() % (maxSize + 1), '\0');
            for(char& c: out)
                c = round % 2 ? char(random()) : alphabet[random() % alphabet.size()];
            return out;
        };
        const std::string haystack = randomString(48), needle = randomString(4);
        ASSERT_EQ(Utils::caseInsensitiveSearch({haystack.data(), haystack.size()}, {needle.data(), needle.size()}, locale),
            plainSearch({haystack.data(), haystack.size()}, {needle.data(), needle.size()}, locale)) << locale.name() << " " << haystack << " / " << needle;
    }
}

TEST(Utils, CaseInsensitiveSearchMatchesThePlainAlgorithm) {
    expectPlainSearchResults(std::locale::classic());
    expectPlainSearchResults(std::locale{std::locale::classic(), new XyzFolding});
}

TEST(Utils, CaseInsensitiveSearchMatchesThePlainAlgorithmUnderUtf8) {
    std::locale utf8;
    try {
        utf8 = std::locale{"C.UTF-8"};
    } catch(const std::runtime_error&) {
        GTEST_SKIP() << "The C++ library has no C.UTF-8 locale (MinGW's knows only \"C\")";
    }
    expectPlainSearchResults(utf8);
}
}}
