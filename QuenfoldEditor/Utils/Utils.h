#ifndef QuenfoldEditor_Utils_Utils_h
#define QuenfoldEditor_Utils_Utils_h
/** @file
 * @brief Function @ref QuenfoldEngine::Utils::caseInsensitiveSearch()
 */

#include <cstddef>
#include <locale>
#include <Corrade/Containers/Containers.h>

#include "QuenfoldEditor/Utils/visibility.h"

namespace QuenfoldEngine { namespace Utils {

/**
@brief Find a substring regardless of letter case

Returns the byte offset of the first occurrence of @p needle in
@p haystack, or @cpp std::size_t(-1) @ce (the value of
@cpp std::string::npos @ce) if there is none. Bytes match when the
@cpp toupper() @ce of the @cpp std::ctype<char> @ce facet of @p locale
gives the same byte for both: every byte is converted on its own, so a
multi-byte UTF-8 sequence never folds as a whole. An empty needle is found
at offset 0, also in an empty haystack.
*/
QUENFOLDEDITORUTILS_EXPORT std::size_t caseInsensitiveSearch(Corrade::Containers::StringView haystack, Corrade::Containers::StringView needle, const std::locale& locale);

/**
@brief Find a substring regardless of letter case under the global locale

Same as @ref caseInsensitiveSearch(Corrade::Containers::StringView, Corrade::Containers::StringView, const std::locale&)
with the locale that @cpp std::locale::global() @ce installed last.
*/
QUENFOLDEDITORUTILS_EXPORT std::size_t caseInsensitiveSearch(Corrade::Containers::StringView haystack, Corrade::Containers::StringView needle);

}}

#endif
