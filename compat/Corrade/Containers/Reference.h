#ifndef Corrade_Containers_Reference_h
#define Corrade_Containers_Reference_h
/** @file
 * @brief Class @ref Corrade::Containers::Reference
 */

#include <type_traits>

#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/**
@brief Lightweight non-owning reference

Unlike a C++ reference it rebinds on assignment, so it can be stored in
arrays. Not default-constructible.
*/
template<class T> class Reference {
    public:
        typedef T Type;

        constexpr /*implicit*/ Reference(T& reference) noexcept: _reference{&reference} {}
        Reference(T&&) = delete;

        /** @brief Reference to const or to a base type */
        template<class U, class = typename std::enable_if<std::is_convertible<U*, T*>::value && !std::is_same<U, T>::value>::type> constexpr /*implicit*/ Reference(Reference<U> other) noexcept: _reference{other.operator->()} {}

        constexpr /*implicit*/ operator T&() const { return *_reference; }
        constexpr T& get() const { return *_reference; }
        constexpr T* operator->() const { return _reference; }
        constexpr T& operator*() const { return *_reference; }

    private:
        T* _reference;
};

}}

#endif
