#ifndef Corrade_Containers_Containers_h
#define Corrade_Containers_Containers_h
/** @file
 * @brief Forward declarations for the @ref Corrade::Containers namespace
 */

#include <cstddef>
#include <type_traits>

namespace Corrade { namespace Containers {

template<class T, class D = void(*)(T*, std::size_t)> class Array;
template<class T> class ArrayView;
template<class T> class BasicStringView;
typedef BasicStringView<const char> StringView;
typedef BasicStringView<char> MutableStringView;
enum class StringViewFlag: std::size_t;
class StringViewFlags;
class String;
class StringIterable;
template<class F, class S> class Pair;
template<class T> class Pointer;
template<class T> class Reference;
template<class T> class Optional;
template<class T, typename std::underlying_type<T>::type fullValue = typename std::underlying_type<T>::type(~0)> class EnumSet;

}}

#endif
