#ifndef Corrade_Utility_Path_h
#define Corrade_Utility_Path_h
/** @file
 * @brief Namespace @ref Corrade::Utility::Path
 */

#include "Corrade/Containers/ArrayView.h"
#include "Corrade/Containers/Optional.h"
#include "Corrade/Containers/Pair.h"
#include "Corrade/Containers/String.h"
#include "Corrade/Containers/StringView.h"
#include "Corrade/Utility/visibility.h"

namespace Corrade { namespace Utility {

/** @brief Filesystem paths, always with forward slashes */
namespace Path {

/** @brief Whether a file or a directory exists */
CORRADE_UTILITY_EXPORT bool exists(Containers::StringView path);

/** @brief Whether the path is an existing directory, following symlinks */
CORRADE_UTILITY_EXPORT bool isDirectory(Containers::StringView path);

/**
@brief Split at the last slash into a directory and a file name

@cb{.txt} /a/b/c.txt @ce gives @cb{.txt} /a/b @ce and @cb{.txt} c.txt @ce,
@cb{.txt} /a/b/ @ce gives @cb{.txt} /a/b @ce and an empty name, a path
without a slash gives an empty directory, and the root keeps its slash. Both
parts are views into @p path.
*/
CORRADE_UTILITY_EXPORT Containers::Pair<Containers::StringView, Containers::StringView> split(Containers::StringView path);

/**
@brief Join a path and a file name with one slash

No slash is added when @p path is empty or ends in one; an absolute
@p filename is returned alone; an empty @p filename gives @p path with a
trailing slash.
*/
CORRADE_UTILITY_EXPORT Containers::String join(Containers::StringView path, Containers::StringView filename);

/** @brief Turn backslashes into forward slashes on Windows, else unchanged */
CORRADE_UTILITY_EXPORT Containers::String fromNativeSeparators(Containers::String path);

#ifndef _WIN32
/** @brief Unchanged outside of Windows */
CORRADE_UTILITY_EXPORT Containers::StringView fromNativeSeparators(Containers::StringView path);
#endif

/** @brief Turn forward slashes into backslashes on Windows, else unchanged */
CORRADE_UTILITY_EXPORT Containers::String toNativeSeparators(Containers::String path);

/** @brief Current working directory, with forward slashes */
CORRADE_UTILITY_EXPORT Containers::Optional<Containers::String> currentDirectory();

/** @brief Create a directory and its missing parents; true if it exists after */
CORRADE_UTILITY_EXPORT bool make(Containers::StringView path);

/** @brief Remove a file or an empty directory */
CORRADE_UTILITY_EXPORT bool remove(Containers::StringView path);

/** @brief Write @p data into a file, replacing it */
CORRADE_UTILITY_EXPORT bool write(Containers::StringView path, Containers::ArrayView<const void> data);

/** @brief Read a whole file */
CORRADE_UTILITY_EXPORT Containers::Optional<Containers::String> readString(Containers::StringView path);

}

}}

#endif
