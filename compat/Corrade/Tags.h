#ifndef Corrade_Tags_h
#define Corrade_Tags_h
/** @file
 * @brief Construction tags: @ref Corrade::NoInit, @ref Corrade::ValueInit,
 *      @ref Corrade::DefaultInit, @ref Corrade::InPlaceInit,
 *      @ref Corrade::DirectInit
 */

namespace Corrade {

/** @brief Leave the contents uninitialised */
struct NoInitT { struct Init {}; constexpr explicit NoInitT(Init) {} };
/** @brief Value-initialise the contents (zeros for numbers) */
struct ValueInitT { struct Init {}; constexpr explicit ValueInitT(Init) {} };
/** @brief Default-initialise the contents */
struct DefaultInitT { struct Init {}; constexpr explicit DefaultInitT(Init) {} };
/** @brief Construct the contents in place from the given values */
struct InPlaceInitT { struct Init {}; constexpr explicit InPlaceInitT(Init) {} };
/** @brief Construct the contents directly from the given arguments */
struct DirectInitT { struct Init {}; constexpr explicit DirectInitT(Init) {} };

constexpr NoInitT NoInit{NoInitT::Init{}};
constexpr ValueInitT ValueInit{ValueInitT::Init{}};
constexpr DefaultInitT DefaultInit{DefaultInitT::Init{}};
constexpr InPlaceInitT InPlaceInit{InPlaceInitT::Init{}};
constexpr DirectInitT DirectInit{DirectInitT::Init{}};

}

#endif
