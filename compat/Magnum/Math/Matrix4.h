#ifndef Magnum_Math_Matrix4_h
#define Magnum_Math_Matrix4_h
/** @file
 * @brief Class @ref Magnum::Math::Matrix4
 */

#include "Magnum/Math/Vector4.h"

namespace Magnum { namespace Math {

/**
@brief 4x4 matrix

Column-major: @cpp m[c][r] @ce is row r of column c and @ref data() gives the
16 values column after column. The default is the identity.
*/
template<class T> class Matrix4 {
    public:
        typedef T Type;

        constexpr Matrix4() noexcept: _columns{
            Vector4<T>{T(1), T(0), T(0), T(0)},
            Vector4<T>{T(0), T(1), T(0), T(0)},
            Vector4<T>{T(0), T(0), T(1), T(0)},
            Vector4<T>{T(0), T(0), T(0), T(1)}} {}

        constexpr Matrix4(const Vector4<T>& first, const Vector4<T>& second, const Vector4<T>& third, const Vector4<T>& fourth) noexcept: _columns{first, second, third, fourth} {}

        T* data() { return _columns[0].data(); }
        constexpr const T* data() const { return _columns[0].data(); }

        Vector4<T>& operator[](std::size_t column) { return _columns[column]; }
        constexpr const Vector4<T>& operator[](std::size_t column) const { return _columns[column]; }

        /** @brief Fuzzy equality */
        bool operator==(const Matrix4<T>& other) const {
            for(std::size_t i = 0; i != 4; ++i)
                if(_columns[i] != other._columns[i]) return false;
            return true;
        }
        bool operator!=(const Matrix4<T>& other) const { return !operator==(other); }

    private:
        Vector4<T> _columns[4];
};

}}

#endif
