#ifndef Corrade_Utility_DebugStl_h
#define Corrade_Utility_DebugStl_h
/** @file
 * @brief Debug output of @ref std::string
 */

#include <string>

#include "Corrade/Containers/StringView.h"
#include "Corrade/Utility/Debug.h"

namespace Corrade { namespace Utility {

/** @brief Print a @ref std::string as its bytes */
inline Debug& operator<<(Debug& debug, const std::string& value) {
    return debug << Containers::StringView{value.data(), value.size()};
}

}}

#endif
