#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Implementation/FixedDecimals.h"

namespace QuenfoldEngine { namespace Implementation { namespace {

TEST(FixedDecimals, RoundedAsPrintf) {
    /* Values next to the ties of the fourth decimal and around the powers
       of ten, the sign of zero, tiny and huge magnitudes, either side of
       where the digits stop being written directly (2^40 ten-thousandths),
       and random bit patterns of every magnitude in between */
    std::vector<double> values{0.0, -0.0, 1.5, -0.25, 3.14159, -0.00001, 5e-324, 1e20, -1e300, -1.7976931348623157e308,
        109951162.77765, 109951162.7776, 123456789012.3456};
    for(double power = 1.0; power < 1e13; power *= 10.0)
        for(const double tie: {0.00005, 0.00015, 0.99995, 0.12345, 0.5})
            for(const double value: {power*(1.0 + tie), power - tie, 1099511627776.0/10000.0 + tie}) {
                values.push_back(value);
                values.push_back(-std::nextafter(value, 0.0));
                values.push_back(std::nextafter(value, 1e300));
            }
    std::mt19937_64 random{17};
    while(values.size() != 20000) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        /* Exponents that give a magnitude between 2^-20 and 2^50 */
        if(std::isfinite(value) && std::fabs(value) > 1e-6 && std::fabs(value) < 1e15) values.push_back(value);
    }

    for(const double value: values) {
        char expected[FixedSize], out[FixedSize], fast[FastFixedSize];
        std::snprintf(expected, sizeof(expected), "%.4f", value);
        ASSERT_EQ(std::string(out, formatFixed(value, out)), expected) << value;
        /* Written directly or left to the general formatting, never wrong */
        if(const std::size_t size = formatFixedFast(value, fast)) {
            ASSERT_EQ(std::string(fast, size), expected) << value;
        }
    }
}

}}}
