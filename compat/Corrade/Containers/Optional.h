#ifndef Corrade_Containers_Optional_h
#define Corrade_Containers_Optional_h
/** @file
 * @brief Class @ref Corrade::Containers::Optional, tag
 *      @ref Corrade::Containers::NullOpt
 */

#include <new>
#include <utility>

#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/** @brief Null optional tag type */
struct NullOptT { struct Init {}; constexpr explicit NullOptT(Init) {} };

/** @brief Null optional tag */
constexpr NullOptT NullOpt{NullOptT::Init{}};

/** @brief Optional value */
template<class T> class Optional {
    public:
        /*implicit*/ Optional(NullOptT = NullOpt) noexcept: _set{} {}
        /*implicit*/ Optional(const T& value): _set{true} { new(&_value) T(value); }
        /*implicit*/ Optional(T&& value): _set{true} { new(&_value) T(std::move(value)); }

        Optional(const Optional& other): _set{other._set} {
            if(_set) new(&_value) T(other._value);
        }
        Optional(Optional&& other) noexcept: _set{other._set} {
            if(_set) new(&_value) T(std::move(other._value));
        }
        ~Optional() { if(_set) _value.~T(); }

        Optional& operator=(const Optional& other) {
            if(this != &other) {
                this->~Optional();
                new(this) Optional{other};
            }
            return *this;
        }
        Optional& operator=(Optional&& other) noexcept {
            if(this != &other) {
                this->~Optional();
                new(this) Optional{std::move(other)};
            }
            return *this;
        }

        explicit operator bool() const { return _set; }

        T& operator*() & { return _value; }
        const T& operator*() const & { return _value; }
        T&& operator*() && { return std::move(_value); }
        T* operator->() { return &_value; }
        const T* operator->() const { return &_value; }

    private:
        union { T _value; };
        bool _set;
};

}}

#endif
