#ifndef Magnum_Math_Vector3_h
#define Magnum_Math_Vector3_h
/** @file
 * @brief Class @ref Magnum::Math::Vector3
 */

#include "Magnum/Math/Vector.h"

namespace Magnum { namespace Math {

/** @brief 3-component vector */
template<class T> class Vector3: public Vector<3, T> {
    public:
        constexpr Vector3() noexcept: Vector<3, T>{} {}
        constexpr Vector3(T x, T y, T z) noexcept: Vector<3, T>{x, y, z} {}
        constexpr /*implicit*/ Vector3(const Vector<3, T>& other) noexcept: Vector<3, T>{other} {}

        T& x() { return this->_data[0]; }
        constexpr T x() const { return this->_data[0]; }
        T& y() { return this->_data[1]; }
        constexpr T y() const { return this->_data[1]; }
        T& z() { return this->_data[2]; }
        constexpr T z() const { return this->_data[2]; }
};

}}

#endif
