#ifndef QuenfoldEditor_Utils_Implementation_FixedDecimals_h
#define QuenfoldEditor_Utils_Implementation_FixedDecimals_h
/* Numbers with four decimals, the way templates show them: rounded from the
   exact binary value, as printf("%.4f") rounds. Most values are written
   directly, digit pairs at a time, and the rest left to the general
   formatting. Private to the library. */

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace QuenfoldEngine { namespace Implementation {

/* "00", "01" up to "99", for writing numbers two digits at a time */
inline constexpr struct DigitPairTable {
    constexpr DigitPairTable(): data{} {
        for(std::size_t i = 0; i != 100; ++i) {
            data[2*i] = char('0' + i/10);
            data[2*i + 1] = char('0' + i % 10);
        }
    }
    char data[200];
} DigitPairs;

/* The two digits of n below 100 */
inline const char* digitPair(const std::size_t n) { return DigitPairs.data + 2*n; }

/* Longest text of a value in four decimals written without the general
   formatting: a sign, nine integer digits, the point and the decimals */
constexpr std::size_t FastFixedSize = 15;

/* The value with four decimals, rounded from its exact binary value as
   printf() does, written at out; returns the size, or 0 when the value is
   left to the general formatting. Only stores: a text written piecewise and
   read back whole would stall on the reads. */
inline std::size_t formatFixedFast(const double value, char* const out) {
    /* Below 2^40, value*10000 is off the exact product by at most 2^-14;
       away from a tie its nearest integer is then the exact rounding.
       Adding a half is exact there, so truncating it rounds to nearest. */
    const double scaled = value*10000.0;
    const double magnitude = scaled < 0.0 ? -scaled : scaled;
    if(!(magnitude < 1099511627776.0)) return 0;
    const auto digits = std::uint64_t(magnitude + 0.5); // NOLINT(bugprone-incorrect-roundings)
    const double off = magnitude - double(digits);
    if(!(off < 0.49 && off > -0.49)) return 0;

    /* Branches that go either way from one value to the next cost more
       than the arithmetic that replaces them: the sign is written and kept
       or overwritten, the integer digits counted without a loop */
    std::size_t integer = digits/10000;
    const std::size_t fraction = digits % 10000;
    const std::size_t sign = std::signbit(value);
    const std::size_t integerSize = 1 + (integer >= 10) + (integer >= 100) + (integer >= 1000) +
        (integer >= 10000) + (integer >= 100000) + (integer >= 1000000) +
        (integer >= 10000000) + (integer >= 100000000);
    out[0] = '-';
    char* const point = out + sign + integerSize;
    point[0] = '.';
    std::memcpy(point + 1, digitPair(fraction/100), 2);
    std::memcpy(point + 3, digitPair(fraction % 100), 2);
    char* at = point;
    for(; integer >= 100; integer /= 100) {
        at -= 2;
        std::memcpy(at, digitPair(integer % 100), 2);
    }
    /* One or two digits are left: the last one, then the first one over it
       or in front of it */
    const bool twoDigits = integer >= 10;
    at[-1] = digitPair(integer)[1];
    at[-1 - twoDigits] = digitPair(integer)[!twoDigits];
    return sign + integerSize + 5;
}

/* The largest text of a value in four decimals: 309 integer digits, sign,
   point and decimals, plus the byte the general formatting may append */
constexpr std::size_t FixedSize = 320;

/* As formatFixedFast(), any value, out holding FixedSize bytes */
std::size_t formatFixed(double value, char* out);

}}

#endif
