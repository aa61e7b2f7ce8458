#ifndef QuenfoldEngine_Path_h
#define QuenfoldEngine_Path_h
/** @file
 * @brief Function @ref QuenfoldEngine::Path::absolute()
 */

#include <Corrade/Containers/Containers.h>

#include "QuenfoldEngine/visibility.h"

namespace QuenfoldEngine { namespace Path {

/**
@brief Absolute form of a path

Resolves a relative path against the current working directory and collapses
@cb{.txt} . @ce, @cb{.txt} .. @ce and repeated separators lexically, without
resolving symbolic links. Uses @cb{.txt} / @ce as the separator and has no
trailing separator except for a root (@cb{.txt} / @ce). On Windows
backslashes become @cb{.txt} / @ce, drive letters are kept
(@cb{.txt} C:/proj/assets @ce), and drive-relative (@cb{.txt} C:foo @ce),
rooted (@cb{.txt} /foo @ce) and UNC (@cb{.txt} //server/share/foo @ce) forms
are resolved.
*/
QUENFOLDENGINE_EXPORT Corrade::Containers::String absolute(Corrade::Containers::StringView path);

namespace Implementation {
    /* The work of absolute(), with the working directory and the platform's
       rules given, so that both rule sets can be tested anywhere */
    QUENFOLDENGINE_EXPORT Corrade::Containers::String absolute(Corrade::Containers::StringView path, Corrade::Containers::StringView workingDirectory, bool windows);
}

}}

#endif
