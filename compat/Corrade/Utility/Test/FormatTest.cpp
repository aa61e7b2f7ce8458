#include <gtest/gtest.h>

#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Format.h>

using namespace Corrade;
using namespace Containers::Literals;

/* Fixed-point rounding is checked against printf by the template tests */
TEST(Format, PlaceholdersTypesAndBuffers) {
    EXPECT_EQ(Utility::format("{} {} {}", 1, "two", 'c'), "1 two c"_s);
    EXPECT_EQ(Utility::format("{1}{0}{1}", "a"_s, Containers::String{"b"}), "bab"_s);
    EXPECT_EQ(Utility::format("{{{}}}", 7u), "{7}"_s);
    EXPECT_EQ(Utility::format("{:x} {:4}|", 255, 42), "ff   42|"_s);
    EXPECT_EQ(Utility::format("{}", std::size_t{18446744073709551615ull}), "18446744073709551615"_s);

    EXPECT_EQ(Utility::formatInto(nullptr, "{:.4f}", 1.5), 6u);
    char buffer[8]{'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(Utility::formatInto(Containers::MutableStringView{buffer, 8}, "{:.4f}", 1.5), 6u);
    EXPECT_EQ(Containers::StringView(buffer, 8), "1.5000xx"_s);
}
