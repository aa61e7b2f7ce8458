#ifndef Magnum_Math_Vector_h
#define Magnum_Math_Vector_h
/** @file
 * @brief Class @ref Magnum::Math::Vector
 */

#include <cstddef>
#include <type_traits>

namespace Magnum { namespace Math {

namespace Implementation {

/* Fuzzy for floating-point types, relative to the magnitude; exact for
   integers */
template<class T> bool equals(const T a, const T b) {
    if constexpr(std::is_floating_point<T>::value) {
        constexpr T epsilon = sizeof(T) == sizeof(float) ? T(1.0e-5) : T(1.0e-14);
        if(a == b) return true;
        const T absA = a < T(0) ? -a : a;
        const T absB = b < T(0) ? -b : b;
        const T difference = a - b < T(0) ? b - a : a - b;
        if(a == T(0) || b == T(0) || difference < epsilon)
            return difference < epsilon;
        return difference/(absA + absB) < epsilon;
    } else return a == b;
}

}

/**
@brief Vector of @p size_ components of type @p T

Holds exactly the components, contiguously. The default constructor
zero-fills.
*/
template<std::size_t size_, class T> class Vector {
    public:
        typedef T Type;
        enum: std::size_t { Size = size_ };

        constexpr Vector() noexcept: _data{} {}

        template<class ...U, class = typename std::enable_if<sizeof...(U) + 1 == size_>::type> constexpr /*implicit*/ Vector(T first, U... next) noexcept: _data{first, T(next)...} {}

        T* data() { return _data; }
        constexpr const T* data() const { return _data; }

        T& operator[](std::size_t i) { return _data[i]; }
        constexpr T operator[](std::size_t i) const { return _data[i]; }

        /** @brief Fuzzy equality for floating-point components */
        bool operator==(const Vector<size_, T>& other) const {
            for(std::size_t i = 0; i != size_; ++i)
                if(!Implementation::equals(_data[i], other._data[i])) return false;
            return true;
        }
        bool operator!=(const Vector<size_, T>& other) const { return !operator==(other); }

    protected:
        T _data[size_];
};

}}

#endif
