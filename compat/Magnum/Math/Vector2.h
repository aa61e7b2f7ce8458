#ifndef Magnum_Math_Vector2_h
#define Magnum_Math_Vector2_h
/** @file
 * @brief Class @ref Magnum::Math::Vector2
 */

#include "Magnum/Math/Vector.h"

namespace Magnum { namespace Math {

/** @brief 2-component vector */
template<class T> class Vector2: public Vector<2, T> {
    public:
        constexpr Vector2() noexcept: Vector<2, T>{} {}
        constexpr Vector2(T x, T y) noexcept: Vector<2, T>{x, y} {}
        constexpr /*implicit*/ Vector2(const Vector<2, T>& other) noexcept: Vector<2, T>{other} {}

        T& x() { return this->_data[0]; }
        constexpr T x() const { return this->_data[0]; }
        T& y() { return this->_data[1]; }
        constexpr T y() const { return this->_data[1]; }
};

}}

#endif
