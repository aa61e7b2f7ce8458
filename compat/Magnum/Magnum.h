#ifndef Magnum_Magnum_h
#define Magnum_Magnum_h
/** @file
 * @brief Basic type definitions in the @ref Magnum namespace
 */

namespace Corrade {}

namespace Magnum {

using namespace Corrade;

namespace Math {
    template<class> class Vector2;
    template<class> class Vector3;
    template<class> class Vector4;
    template<class> class Quaternion;
    template<class> class Matrix4;
}

typedef Math::Vector2<float> Vector2;
typedef Math::Vector3<float> Vector3;
typedef Math::Vector4<float> Vector4;
typedef Math::Vector2<int> Vector2i;
typedef Math::Quaternion<float> Quaternion;
typedef Math::Matrix4<float> Matrix4;

}

#endif
