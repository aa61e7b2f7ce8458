#ifndef Corrade_Utility_Format_h
#define Corrade_Utility_Format_h
/** @file
 * @brief Function @ref Corrade::Utility::format(),
 *      @ref Corrade::Utility::formatInto()
 *
 * Placeholders: @cb{.txt} {} @ce (next argument), @cb{.txt} {0} @ce (by
 * index), and a spec after a colon: width, @cb{.txt} .N @ce precision and a
 * type (@cb{.txt} d x X o f F e E g G @ce). Floating-point formatting is the
 * one of @cpp printf() @ce. @cb{.txt} {{ @ce and @cb{.txt} }} @ce print
 * literal braces.
 */

#include <string>

#include "Corrade/Containers/String.h"
#include "Corrade/Containers/StringView.h"
#include "Corrade/Utility/visibility.h"

namespace Corrade { namespace Utility {

namespace Implementation {

struct FormatSpec {
    int width;
    int precision;
    char type;
};

typedef std::size_t(*Formatter)(char* out, const void* value, const FormatSpec& spec);

struct FormatArg {
    const void* value;
    Formatter formatter;
};

/* Each writes the formatted value to out (if not null) and returns its
   size */
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, long long value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, unsigned long long value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, float value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, double value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, long double value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, Containers::StringView value, const FormatSpec& spec);
CORRADE_UTILITY_EXPORT std::size_t formatValue(char* out, char value, const FormatSpec& spec);

template<class T> struct FormatAs { typedef T Type; };
template<> struct FormatAs<short> { typedef long long Type; };
template<> struct FormatAs<int> { typedef long long Type; };
template<> struct FormatAs<long> { typedef long long Type; };
template<> struct FormatAs<signed char> { typedef long long Type; };
template<> struct FormatAs<unsigned char> { typedef unsigned long long Type; };
template<> struct FormatAs<unsigned short> { typedef unsigned long long Type; };
template<> struct FormatAs<unsigned int> { typedef unsigned long long Type; };
template<> struct FormatAs<unsigned long> { typedef unsigned long long Type; };
template<> struct FormatAs<const char*> { typedef Containers::StringView Type; };
template<> struct FormatAs<char*> { typedef Containers::StringView Type; };
template<> struct FormatAs<Containers::MutableStringView> { typedef Containers::StringView Type; };
template<> struct FormatAs<Containers::String> { typedef Containers::StringView Type; };
template<std::size_t size> struct FormatAs<char[size]> { typedef Containers::StringView Type; };

template<class T> std::size_t formatThunk(char* const out, const void* const value, const FormatSpec& spec) {
    return formatValue(out, typename FormatAs<T>::Type(*static_cast<const T*>(value)), spec);
}

/* With a null buffer only measures */
CORRADE_UTILITY_EXPORT std::size_t formatWith(Containers::MutableStringView buffer, const char* format, const FormatArg* args, std::size_t count);

}

/** @brief Format into a new string */
template<class ...Args> Containers::String format(const char* format, const Args&... args) {
    const Implementation::FormatArg formatArgs[sizeof...(Args) + 1]{{&args, Implementation::formatThunk<Args>}..., {nullptr, nullptr}};
    Containers::String out{Corrade::NoInit, Implementation::formatWith(nullptr, format, formatArgs, sizeof...(Args))};
    Implementation::formatWith(out, format, formatArgs, sizeof...(Args));
    return out;
}

/**
@brief Format into a buffer
@return Size of the output

With a null @p buffer nothing is written and only the size is returned.
Otherwise the buffer has to be large enough; no terminating zero is written.
*/
template<class ...Args> std::size_t formatInto(const Containers::MutableStringView& buffer, const char* format, const Args&... args) {
    const Implementation::FormatArg formatArgs[sizeof...(Args) + 1]{{&args, Implementation::formatThunk<Args>}..., {nullptr, nullptr}};
    return Implementation::formatWith(buffer, format, formatArgs, sizeof...(Args));
}

/**
@brief Format into a @ref std::string at @p offset
@return Size of the output

The string is enlarged if needed.
*/
template<class ...Args> std::size_t formatInto(std::string& buffer, std::size_t offset, const char* format, const Args&... args) {
    const Implementation::FormatArg formatArgs[sizeof...(Args) + 1]{{&args, Implementation::formatThunk<Args>}..., {nullptr, nullptr}};
    const std::size_t size = Implementation::formatWith(nullptr, format, formatArgs, sizeof...(Args));
    if(buffer.size() < offset + size) buffer.resize(offset + size);
    Implementation::formatWith(Containers::MutableStringView{&buffer[offset], size}, format, formatArgs, sizeof...(Args));
    return size;
}

}}

#endif
