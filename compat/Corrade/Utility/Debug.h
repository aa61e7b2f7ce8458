#ifndef Corrade_Utility_Debug_h
#define Corrade_Utility_Debug_h
/** @file
 * @brief Class @ref Corrade::Utility::Debug, @ref Corrade::Utility::Warning,
 *      @ref Corrade::Utility::Error
 */

#include <cstddef>
#include <iosfwd>

#include "Corrade/Containers/Containers.h"
#include "Corrade/Utility/visibility.h"

namespace Corrade { namespace Utility {

/**
@brief Debug output stream

Each statement is one temporary. Items are separated by one space, nothing
precedes the first one, and a newline follows the last one when the object is
destroyed, if anything was printed.

Constructing a stream with an explicit output both prints there and, while the
object lives, makes it the default output of every other object of the same
class created meanwhile (per thread); the previous default comes back on
destruction. @ref Warning and @ref Error keep their own defaults.
*/
class CORRADE_UTILITY_EXPORT Debug {
    public:
        /** @brief Output flag */
        enum class Flag: unsigned char {
            /** Don't print a newline at the end */
            NoNewlineAtTheEnd = 1 << 0,
            /** Don't separate items with spaces */
            NoSpace = 1 << 1
        };

        /** @brief Output flags */
        class Flags {
            public:
                constexpr Flags() noexcept: _value{} {}
                constexpr /*implicit*/ Flags(Flag flag) noexcept: _value{static_cast<unsigned char>(flag)} {}
                constexpr Flags operator|(Flags other) const { return Flags{static_cast<unsigned char>(_value | other._value), 0}; }
                constexpr Flags operator&(Flags other) const { return Flags{static_cast<unsigned char>(_value & other._value), 0}; }
                constexpr bool operator==(Flags other) const { return _value == other._value; }
                constexpr bool operator!=(Flags other) const { return _value != other._value; }
                constexpr explicit operator bool() const { return _value; }

            private:
                constexpr explicit Flags(unsigned char value, int): _value{value} {}
                unsigned char _value;
        };

        /** @brief Stream modifier */
        typedef void(*Modifier)(Debug&);

        /** @brief Don't put a separator before the next item */
        static void nospace(Debug& debug);
        /** @brief Put a space before the next item, even with @ref Flag::NoSpace */
        static void space(Debug& debug);
        /** @brief Put a newline instead of the separator before the next item */
        static void newline(Debug& debug);

        /** @brief Default output of this class: @cpp std::cout @ce */
        static std::ostream* defaultOutput();
        /** @brief Current default output of this class on this thread */
        static std::ostream* output();

        /** @brief Print to the current default output */
        explicit Debug(Flags flags = {});
        /** @brief Print to @p output and make it the default meanwhile */
        explicit Debug(std::ostream* output, Flags flags = {});

        Debug(const Debug&) = delete;
        Debug(Debug&&) = delete;
        ~Debug();
        Debug& operator=(const Debug&) = delete;
        Debug& operator=(Debug&&) = delete;

        Debug& operator<<(const char* value);
        Debug& operator<<(Containers::StringView value);
        Debug& operator<<(Containers::MutableStringView value);
        Debug& operator<<(const Containers::String& value);
        Debug& operator<<(const void* value);
        Debug& operator<<(std::nullptr_t);
        Debug& operator<<(bool value);
        /** @brief A @cpp char @ce prints as its number */
        Debug& operator<<(char value);
        Debug& operator<<(signed char value);
        Debug& operator<<(unsigned char value);
        Debug& operator<<(short value);
        Debug& operator<<(unsigned short value);
        Debug& operator<<(int value);
        Debug& operator<<(unsigned int value);
        Debug& operator<<(long value);
        Debug& operator<<(unsigned long value);
        Debug& operator<<(long long value);
        Debug& operator<<(unsigned long long value);
        /** @brief Six significant digits */
        Debug& operator<<(float value);
        /** @brief Fifteen significant digits */
        Debug& operator<<(double value);
        Debug& operator<<(long double value);
        Debug& operator<<(Modifier modifier);

    protected:
        /* For Warning and Error, each with its own default output slot */
        explicit Debug(std::ostream** slot, std::ostream* output, bool redirect, Flags flags);

    private:
        void separate();
        void write(const char* data, std::size_t size);

        std::ostream* _output;
        std::ostream** _slot;
        std::ostream* _previousOutput;
        Flags _flags;
        bool _redirected;
        bool _written;
        bool _noSpaceNext;
        bool _forceSpaceNext;
};

/**
@brief Warning output stream

Like @ref Debug, with @cpp std::cerr @ce as the default output.
*/
class CORRADE_UTILITY_EXPORT Warning: public Debug {
    public:
        static std::ostream* defaultOutput();
        static std::ostream* output();

        explicit Warning(Flags flags = {});
        explicit Warning(std::ostream* output, Flags flags = {});
};

/**
@brief Error output stream

Like @ref Debug, with @cpp std::cerr @ce as the default output.
*/
class CORRADE_UTILITY_EXPORT Error: public Debug {
    public:
        static std::ostream* defaultOutput();
        static std::ostream* output();

        explicit Error(Flags flags = {});
        explicit Error(std::ostream* output, Flags flags = {});
};

/* Lets a statement that begins with a user type print through the
   Debug& overloads found by argument-dependent lookup */
template<class T> inline Debug& operator<<(Debug&& debug, const T& value) {
    return debug << value;
}

}}

#endif
