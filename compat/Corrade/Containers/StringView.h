#ifndef Corrade_Containers_StringView_h
#define Corrade_Containers_StringView_h
/** @file
 * @brief Class @ref Corrade::Containers::BasicStringView, typedefs
 *      @ref Corrade::Containers::StringView,
 *      @ref Corrade::Containers::MutableStringView
 */

#include <cstddef>
#include <type_traits>

#include "Corrade/Containers/Containers.h"
#include "Corrade/Utility/visibility.h"

namespace Corrade { namespace Containers {

/** @brief String view flag */
enum class StringViewFlag: std::size_t {
    /** Points to memory that lives for the whole program (a literal) */
    Global = 1 << 0,
    /** A zero byte follows the last character */
    NullTerminated = 1 << 1
};

/** @brief String view flags */
class StringViewFlags {
    public:
        constexpr StringViewFlags() noexcept: _value{} {}
        constexpr /*implicit*/ StringViewFlags(StringViewFlag flag) noexcept: _value{std::size_t(flag)} {}

        constexpr StringViewFlags operator|(StringViewFlags other) const { return StringViewFlags{_value | other._value, 0}; }
        constexpr StringViewFlags operator&(StringViewFlags other) const { return StringViewFlags{_value & other._value, 0}; }
        constexpr StringViewFlags operator~() const { return StringViewFlags{~_value & 3, 0}; }
        constexpr bool operator==(StringViewFlags other) const { return _value == other._value; }
        constexpr bool operator!=(StringViewFlags other) const { return _value != other._value; }
        constexpr explicit operator bool() const { return _value; }

        StringViewFlags& operator|=(StringViewFlags other) { _value |= other._value; return *this; }
        StringViewFlags& operator&=(StringViewFlags other) { _value &= other._value; return *this; }

    private:
        constexpr explicit StringViewFlags(std::size_t value, int): _value{value} {}

        std::size_t _value;
};

constexpr StringViewFlags operator|(StringViewFlag a, StringViewFlag b) {
    return StringViewFlags{a} | b;
}

constexpr StringViewFlags operator&(StringViewFlag a, StringViewFlag b) {
    return StringViewFlags{a} & b;
}

constexpr StringViewFlags operator~(StringViewFlag a) {
    return ~StringViewFlags{a};
}

/**
@brief String view

A pointer, a size and @ref StringViewFlags. Slicing keeps
@ref StringViewFlag::Global, and keeps @ref StringViewFlag::NullTerminated
only when the slice ends where the original ends.
*/
template<class T> class CORRADE_UTILITY_EXPORT BasicStringView {
    public:
        /** @brief Default constructor: null data, size 0, global */
        constexpr /*implicit*/ BasicStringView(std::nullptr_t = nullptr) noexcept: _data{}, _sizePlusFlags{pack(0, StringViewFlag::Global)} {}

        /** @brief Construct from a pointer, a size and flags */
        constexpr /*implicit*/ BasicStringView(T* data, std::size_t size, StringViewFlags flags = {}) noexcept: _data{data}, _sizePlusFlags{pack(size, flags)} {}

        /**
         * @brief Construct from a zero-terminated string
         *
         * The size is measured with @cpp std::strlen() @ce and the view is
         * flagged @ref StringViewFlag::NullTerminated; a null pointer gives
         * the default view.
         */
        /*implicit*/ BasicStringView(T* data) noexcept;

        /** @brief Mutable view to const view */
        template<class U, class = typename std::enable_if<std::is_same<const U, T>::value && !std::is_same<U, T>::value>::type> constexpr /*implicit*/ BasicStringView(BasicStringView<U> other) noexcept: _data{other.data()}, _sizePlusFlags{pack(other.size(), other.flags())} {}

        /** @brief View on a string, flagged @ref StringViewFlag::NullTerminated */
        template<class U = T, class = typename std::enable_if<std::is_const<U>::value>::type> /*implicit*/ BasicStringView(const String& string) noexcept: BasicStringView{string, FromString{}} {}

        /** @brief Mutable view on a string */
        template<class U = T, class = typename std::enable_if<!std::is_const<U>::value>::type> /*implicit*/ BasicStringView(String& string) noexcept: BasicStringView{string, FromString{}} {}

        constexpr T* data() const { return _data; }
        constexpr std::size_t size() const { return _sizePlusFlags & SizeMask; }
        constexpr bool isEmpty() const { return !size(); }
        constexpr StringViewFlags flags() const { return StringViewFlag(_sizePlusFlags >> FlagShift); }

        constexpr T* begin() const { return _data; }
        constexpr T* end() const { return _data + size(); }
        T& front() const { return _data[0]; }
        T& back() const { return _data[size() - 1]; }
        T& operator[](std::size_t i) const { return _data[i]; }

        /** @brief Characters from @p begin up to, not including, @p end */
        constexpr BasicStringView<T> slice(std::size_t begin, std::size_t end) const {
            return BasicStringView<T>{_data + begin, end - begin,
                (flags() & StringViewFlag::Global)|
                (end == size() ? flags() & StringViewFlag::NullTerminated : StringViewFlags{})};
        }
        /** @brief The first @p count characters */
        constexpr BasicStringView<T> prefix(std::size_t count) const { return slice(0, count); }
        /** @brief All but the first @p count characters */
        constexpr BasicStringView<T> exceptPrefix(std::size_t count) const { return slice(count, size()); }
        /** @brief All but the last @p count characters */
        constexpr BasicStringView<T> exceptSuffix(std::size_t count) const { return slice(0, size() - count); }

        /** @brief Whether the view begins with @p prefix */
        bool hasPrefix(BasicStringView<const T> prefix) const;
        /** @brief Whether the view is non-empty and begins with @p prefix */
        bool hasPrefix(char prefix) const { return size() && _data[0] == prefix; }
        /** @brief Whether the view ends with @p suffix */
        bool hasSuffix(BasicStringView<const T> suffix) const;
        /** @brief Whether the view is non-empty and ends with @p suffix */
        bool hasSuffix(char suffix) const { return size() && _data[size() - 1] == suffix; }

        /**
         * @brief Split at every @p delimiter, keeping empty pieces
         *
         * An empty view gives an empty array.
         */
        Array<BasicStringView<T>> split(char delimiter) const;

        /** @brief Join @p strings with this view as the separator */
        String join(const StringIterable& strings) const;

    private:
        /* Disambiguates from the public templated constructors */
        struct FromString {};
        explicit BasicStringView(const String& string, FromString) noexcept;

        /* The flags live in the top two bits of the size, as in the real
           library: a view is two words and passes in two registers, where
           three words would go through the stack */
        enum: std::size_t {
            FlagShift = sizeof(std::size_t)*8 - 2,
            SizeMask = ~std::size_t{} >> 2
        };

        static constexpr std::size_t pack(std::size_t size, StringViewFlags flags) {
            return size | std::size_t(bool(flags & StringViewFlag::Global)) << FlagShift |
                std::size_t(bool(flags & StringViewFlag::NullTerminated)) << (FlagShift + 1);
        }

        T* _data;
        std::size_t _sizePlusFlags;
};

/* Both are instantiated in the library. Elsewhere than on Windows, where
   the class's own import and export do it, the declarations keep users from
   instantiating the members again and carry the export, which clang
   otherwise loses because Containers.h names the specializations before the
   template is defined */
#ifndef _WIN32
extern template class CORRADE_UTILITY_EXPORT BasicStringView<const char>;
extern template class CORRADE_UTILITY_EXPORT BasicStringView<char>;
#endif

/** @brief Same size and same bytes; flags are ignored */
CORRADE_UTILITY_EXPORT bool operator==(StringView a, StringView b);
CORRADE_UTILITY_EXPORT bool operator!=(StringView a, StringView b);
/** @brief Lexicographic comparison by bytes */
CORRADE_UTILITY_EXPORT bool operator<(StringView a, StringView b);
CORRADE_UTILITY_EXPORT bool operator<=(StringView a, StringView b);
CORRADE_UTILITY_EXPORT bool operator>(StringView a, StringView b);
CORRADE_UTILITY_EXPORT bool operator>=(StringView a, StringView b);

/** @brief Concatenation */
CORRADE_UTILITY_EXPORT String operator+(StringView a, StringView b);

/** @brief Repetition */
CORRADE_UTILITY_EXPORT String operator*(StringView string, std::size_t count);

namespace Literals { inline namespace StringLiterals {

/** @brief String view literal, flagged global and null-terminated */
constexpr StringView operator"" _s(const char* data, std::size_t size) {
    return StringView{data, size, StringViewFlag::Global|StringViewFlag::NullTerminated};
}

}}

}}

#endif
