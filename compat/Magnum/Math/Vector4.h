#ifndef Magnum_Math_Vector4_h
#define Magnum_Math_Vector4_h
/** @file
 * @brief Class @ref Magnum::Math::Vector4
 */

#include "Magnum/Math/Vector.h"

namespace Magnum { namespace Math {

/** @brief 4-component vector */
template<class T> class Vector4: public Vector<4, T> {
    public:
        constexpr Vector4() noexcept: Vector<4, T>{} {}
        constexpr Vector4(T x, T y, T z, T w) noexcept: Vector<4, T>{x, y, z, w} {}
        constexpr /*implicit*/ Vector4(const Vector<4, T>& other) noexcept: Vector<4, T>{other} {}

        T& x() { return this->_data[0]; }
        constexpr T x() const { return this->_data[0]; }
        T& y() { return this->_data[1]; }
        constexpr T y() const { return this->_data[1]; }
        T& z() { return this->_data[2]; }
        constexpr T z() const { return this->_data[2]; }
        T& w() { return this->_data[3]; }
        constexpr T w() const { return this->_data[3]; }
};

}}

#endif
