#ifndef QuenfoldEditor_Utils_RapidJsonUtils_h
#define QuenfoldEditor_Utils_RapidJsonUtils_h
/** @file
 * @brief Function @ref QuenfoldEngine::RapidJsonUtils::enumStringToValue(),
 *      debug output of @cpp rapidjson::Value @ce
 */

#include <rapidjson/fwd.h>
#include <Corrade/Containers/Containers.h>

#include "QuenfoldEditor/Utils/visibility.h"

namespace Corrade { namespace Utility { class Debug; } }

namespace QuenfoldEngine { namespace RapidJsonUtils {

/**
@brief Index of an enum value's name

Returns the index of the first of @p names equal to @p value, comparing
bytes exactly, or @cpp -1 @ce if none is.
*/
QUENFOLDEDITORUTILS_EXPORT int enumStringToValue(Corrade::Containers::StringView value, Corrade::Containers::ArrayView<const Corrade::Containers::StringView> names);

/** @overload */
QUENFOLDEDITORUTILS_EXPORT int enumStringToValue(Corrade::Containers::StringView value, Corrade::Containers::ArrayView<const Corrade::Containers::String> names);

/**
@overload

Each name ends at its zero byte; a null pointer counts as an empty name.
*/
QUENFOLDEDITORUTILS_EXPORT int enumStringToValue(Corrade::Containers::StringView value, Corrade::Containers::ArrayView<const char* const> names);

}}

namespace rapidjson {

/**
@brief Print a JSON value as indented JSON text

One item on the stream, four spaces per level, with no newline of its own.
Writing stops at a NaN or infinite number, which JSON cannot hold: what was
written up to there is printed. Values nest to any depth without the
printer recursing.
*/
QUENFOLDEDITORUTILS_EXPORT Corrade::Utility::Debug& operator<<(Corrade::Utility::Debug& debug, const Value& value);

}

#endif
