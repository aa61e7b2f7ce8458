#include <cstdio>
#include <string>
#include <gtest/gtest.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/Implementation/RenderOutput.h"

namespace QuenfoldEngine { namespace Implementation { namespace {

TEST(RenderOutput, GrowsAndHandsOverTheText) {
    /* Every size of copy, from none up, past the room reserved; numbers in
       place where there is room, through a copy where there is not or where
       they are too long to be written directly */
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
    std::string expected;
    RenderOutput output{8};
    for(std::size_t size = 0; size <= alphabet.size(); ++size) {
        const double value = size == alphabet.size() ? -1e300 : double(size)/8.0;
        output(alphabet.data(), size);
        output.appendFixed(value);
        char number[FixedSize];
        expected += alphabet.substr(0, size);
        expected.append(number, std::snprintf(number, sizeof(number), "%.4f", value));
    }
    EXPECT_FALSE(output.failed());

    const Corrade::Containers::String text = output.release();
    EXPECT_EQ(std::string(text.data(), text.size()), expected);
    EXPECT_EQ(text.data()[text.size()], '\0');
}

}}}
