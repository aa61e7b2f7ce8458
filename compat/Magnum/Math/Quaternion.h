#ifndef Magnum_Math_Quaternion_h
#define Magnum_Math_Quaternion_h
/** @file
 * @brief Class @ref Magnum::Math::Quaternion
 */

#include "Magnum/Math/Vector3.h"

namespace Magnum { namespace Math {

/**
@brief Quaternion

The vector part followed by the scalar part: @ref data() gives x, y, z, w.
The default is the identity.
*/
template<class T> class Quaternion {
    public:
        typedef T Type;

        constexpr Quaternion() noexcept: _vector{}, _scalar{T(1)} {}
        constexpr Quaternion(const Vector3<T>& vector, T scalar) noexcept: _vector{vector}, _scalar{scalar} {}

        T* data() { return _vector.data(); }
        constexpr const T* data() const { return _vector.data(); }

        Vector3<T>& vector() { return _vector; }
        constexpr const Vector3<T> vector() const { return _vector; }
        T& scalar() { return _scalar; }
        constexpr T scalar() const { return _scalar; }

        /** @brief Fuzzy equality */
        bool operator==(const Quaternion<T>& other) const {
            return _vector == other._vector && Implementation::equals(_scalar, other._scalar);
        }
        bool operator!=(const Quaternion<T>& other) const { return !operator==(other); }

    private:
        Vector3<T> _vector;
        T _scalar;
};

}}

#endif
