#ifndef Corrade_Utility_Assert_h
#define Corrade_Utility_Assert_h
/** @file
 * @brief Macros @ref CORRADE_ASSERT(), @ref CORRADE_INTERNAL_ASSERT()
 *
 * A failed assertion prints on the default output of
 * @ref Corrade::Utility::Error (even while it is redirected) and aborts.
 * Defining @cpp CORRADE_NO_ASSERT @ce compiles the checks out.
 */

#include <cstdlib>

#include "Corrade/Utility/Debug.h"

#define _CORRADE_ASSERT_STRINGIFY_IMPL(x) #x
#define _CORRADE_ASSERT_STRINGIFY(x) _CORRADE_ASSERT_STRINGIFY_IMPL(x)

#ifdef CORRADE_NO_ASSERT
#define CORRADE_ASSERT(condition, message, returnValue) do {} while(false)
#define CORRADE_INTERNAL_ASSERT(condition) do {} while(false)
#else
/** @brief Print @p message and abort if @p condition is false */
#define CORRADE_ASSERT(condition, message, returnValue)                     \
    do {                                                                    \
        if(!(condition)) {                                                  \
            Corrade::Utility::Error{Corrade::Utility::Error::defaultOutput()} << message; \
            std::abort();                                                   \
        }                                                                   \
    } while(false)

/** @brief Print the condition with the source location and abort if false */
#define CORRADE_INTERNAL_ASSERT(condition)                                  \
    do {                                                                    \
        if(!(condition)) {                                                  \
            Corrade::Utility::Error{Corrade::Utility::Error::defaultOutput()} << "Assertion " #condition " failed at " __FILE__ ":" _CORRADE_ASSERT_STRINGIFY(__LINE__); \
            std::abort();                                                   \
        }                                                                   \
    } while(false)
#endif

#endif
