#ifndef Corrade_Containers_Pointer_h
#define Corrade_Containers_Pointer_h
/** @file
 * @brief Class @ref Corrade::Containers::Pointer, function
 *      @ref Corrade::Containers::pointer()
 */

#include <cstddef>
#include <type_traits>
#include <utility>

#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/**
@brief Unique owning pointer

Move-only; destroys its object with @cpp delete @ce, so a virtual destructor
is honoured.
*/
template<class T> class Pointer {
    public:
        typedef T Type;

        /** @brief Null pointer */
        /*implicit*/ Pointer(std::nullptr_t = nullptr) noexcept: _pointer{} {}

        /** @brief Take ownership of @p pointer */
        explicit Pointer(T* pointer) noexcept: _pointer{pointer} {}

        /** @brief Take over a pointer to a derived type */
        template<class U, class = typename std::enable_if<std::is_base_of<T, U>::value && !std::is_same<T, U>::value>::type> /*implicit*/ Pointer(Pointer<U>&& other) noexcept: _pointer{other.release()} {}

        Pointer(const Pointer&) = delete;
        Pointer(Pointer&& other) noexcept: _pointer{other._pointer} { other._pointer = nullptr; }
        ~Pointer() { delete _pointer; }

        Pointer& operator=(const Pointer&) = delete;
        Pointer& operator=(Pointer&& other) noexcept {
            std::swap(_pointer, other._pointer);
            return *this;
        }

        bool operator==(std::nullptr_t) const { return !_pointer; }
        bool operator!=(std::nullptr_t) const { return _pointer; }
        explicit operator bool() const { return _pointer; }

        T* get() { return _pointer; }
        const T* get() const { return _pointer; }
        T* operator->() { return _pointer; }
        const T* operator->() const { return _pointer; }
        T& operator*() { return *_pointer; }
        const T& operator*() const { return *_pointer; }

        /** @brief Replace the object with a new one constructed from @p args */
        template<class U = T, class ...Args> U& emplace(Args&&... args) {
            U* const object = new U{std::forward<Args>(args)...};
            delete _pointer;
            _pointer = object;
            return *object;
        }

        /** @brief Give up ownership */
        T* release() {
            T* const out = _pointer;
            _pointer = nullptr;
            return out;
        }

    private:
        T* _pointer;
};

template<class T> bool operator==(std::nullptr_t, const Pointer<T>& b) { return b == nullptr; }
template<class T> bool operator!=(std::nullptr_t, const Pointer<T>& b) { return b != nullptr; }

/** @brief Take ownership of a heap object */
template<class T> Pointer<T> pointer(T* pointer) {
    return Pointer<T>{pointer};
}

/** @brief Construct a heap object from @p args */
template<class U, class ...Args> Pointer<U> pointer(Args&&... args) {
    return Pointer<U>{new U{std::forward<Args>(args)...}};
}

}}

#endif
