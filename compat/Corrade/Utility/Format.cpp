#include "Corrade/Utility/Format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Corrade/Utility/Assert.h"

namespace Corrade { namespace Utility { namespace Implementation {

namespace {

/* Builds a printf format from a placeholder: %, width, precision, length, type */
std::size_t printfValue(char* const out, const FormatSpec& spec, const char* const length, const char type, const int defaultPrecision, ...) {
    char format[16];
    char* it = format;
    *it++ = '%';
    if(spec.width >= 0) it += std::sprintf(it, "%d", spec.width);
    const int precision = spec.precision >= 0 ? spec.precision : defaultPrecision;
    if(precision >= 0) it += std::sprintf(it, ".%d", precision);
    for(const char* l = length; *l; ++l) *it++ = *l;
    *it++ = type;
    *it = '\0';

    std::va_list args, argsCopy;
    va_start(args, defaultPrecision);
    va_copy(argsCopy, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    if(out && size > 0) {
        /* vsnprintf always wants room for a zero byte, the output has none */
        char* const temporary = new char[size + 1];
        std::vsnprintf(temporary, size + 1, format, argsCopy);
        std::memcpy(out, temporary, size);
        delete[] temporary;
    }
    va_end(argsCopy);
    va_end(args);
    return size > 0 ? std::size_t(size) : 0;
}

char integerType(const char type, const char fallback) {
    return type == 'x' || type == 'X' || type == 'o' ? type : fallback;
}

char floatType(const char type) {
    return type == 'f' || type == 'F' || type == 'e' || type == 'E' || type == 'G' ? type : 'g';
}

}

std::size_t formatValue(char* const out, const long long value, const FormatSpec& spec) {
    const char type = integerType(spec.type, 'd');
    if(type != 'd') return printfValue(out, spec, "ll", type, -1, static_cast<unsigned long long>(value));
    return printfValue(out, spec, "ll", type, -1, value);
}

std::size_t formatValue(char* const out, const unsigned long long value, const FormatSpec& spec) {
    return printfValue(out, spec, "ll", integerType(spec.type, 'u'), -1, value);
}

std::size_t formatValue(char* const out, const float value, const FormatSpec& spec) {
    return printfValue(out, spec, "", floatType(spec.type), 6, double(value));
}

std::size_t formatValue(char* const out, const double value, const FormatSpec& spec) {
    return printfValue(out, spec, "", floatType(spec.type), 15, value);
}

std::size_t formatValue(char* const out, const long double value, const FormatSpec& spec) {
    return printfValue(out, spec, "L", floatType(spec.type), 18, value);
}

std::size_t formatValue(char* const out, const Containers::StringView value, const FormatSpec& spec) {
    const std::size_t size = spec.precision >= 0 && std::size_t(spec.precision) < value.size() ? spec.precision : value.size();
    const std::size_t padding = spec.width > 0 && std::size_t(spec.width) > size ? spec.width - size : 0;
    if(out) {
        std::memset(out, ' ', padding);
        if(size) std::memcpy(out + padding, value.data(), size);
    }
    return padding + size;
}

std::size_t formatValue(char* const out, const char value, const FormatSpec& spec) {
    return formatValue(out, Containers::StringView{&value, 1}, spec);
}

namespace {

int parseNumber(const char*& it) {
    int value = 0;
    while(*it >= '0' && *it <= '9') value = value*10 + (*it++ - '0');
    return value;
}

}

std::size_t formatWith(const Containers::MutableStringView buffer, const char* const format, const FormatArg* const args, const std::size_t count) {
    char* const out = buffer.data();
    std::size_t size = 0;
    const auto emit = [&](const char* data, std::size_t dataSize) {
        if(out && size + dataSize <= buffer.size()) std::memcpy(out + size, data, dataSize);
        size += dataSize;
    };

    std::size_t nextArgument = 0;
    for(const char* it = format; *it; ) {
        if((it[0] == '{' && it[1] == '{') || (it[0] == '}' && it[1] == '}')) {
            emit(it, 1);
            it += 2;
            continue;
        }
        if(*it != '{') {
            emit(it++, 1);
            continue;
        }

        ++it;
        std::size_t argument = nextArgument;
        if(*it >= '0' && *it <= '9') argument = parseNumber(it);
        nextArgument = argument + 1;
        FormatSpec spec{-1, -1, 0};
        if(*it == ':') {
            ++it;
            if(*it >= '0' && *it <= '9') spec.width = parseNumber(it);
            if(*it == '.') {
                ++it;
                spec.precision = parseNumber(it);
            }
            if(*it && *it != '}') spec.type = *it++;
        }
        CORRADE_ASSERT(*it == '}',
            "Utility::format(): unterminated placeholder in" << format, {});
        ++it;
        CORRADE_ASSERT(argument < count,
            "Utility::format(): not enough arguments for" << format, {});

        const std::size_t valueSize = args[argument].formatter(nullptr, args[argument].value, spec);
        if(out && size + valueSize <= buffer.size())
            args[argument].formatter(out + size, args[argument].value, spec);
        size += valueSize;
    }

    CORRADE_ASSERT(!out || size <= buffer.size(),
        "Utility::formatInto(): buffer too small, expected at least" << size << "but got" << buffer.size(), {});
    return size;
}

}}}
