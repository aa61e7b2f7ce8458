#include "QuenfoldEngine/Path.h"

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringIterable.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

namespace QuenfoldEngine { namespace Path {

using namespace Corrade;
using namespace Containers::Literals;

namespace {

Containers::String forwardSlashes(const Containers::StringView path) {
    Containers::String out{path};
    for(char& c: out) if(c == '\\') c = '/';
    return out;
}

bool isDriveLetter(const char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/* Length of the part that names a drive or a share and never collapses:
   "C:" or "//server/share" on Windows, nothing elsewhere */
std::size_t rootLength(const Containers::StringView path, const bool windows) {
    if(!windows) return 0;
    if(path.size() >= 2 && path[1] == ':' && isDriveLetter(path[0])) return 2;
    if(path.hasPrefix("//"_s) && !path.hasPrefix("///"_s)) {
        std::size_t end = 2;
        for(int component = 0; component != 2; ++component) {
            while(end < path.size() && path[end] == '/') ++end;
            while(end < path.size() && path[end] != '/') ++end;
        }
        return end;
    }
    return 0;
}

char lowercase(const char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}

namespace Implementation {

Containers::String absolute(const Containers::StringView path, const Containers::StringView workingDirectory, const bool windows) {
    const Containers::String slashedPath = windows ? forwardSlashes(path) : Containers::String{path};
    const Containers::String directory = windows ? forwardSlashes(workingDirectory) : Containers::String{workingDirectory};
    const std::size_t pathRoot = rootLength(slashedPath, windows);

    /* Put together a path that is absolute, then collapse it */
    Containers::String combined;
    if(pathRoot == 2 && !slashedPath.exceptPrefix(2).hasPrefix('/')) {
        const bool sameDrive = rootLength(directory, windows) == 2 &&
            lowercase(directory[0]) == lowercase(slashedPath[0]);
        combined = (sameDrive ? Containers::StringView{directory} : slashedPath.prefix(2)) + "/"_s + slashedPath.exceptPrefix(2);
    } else if(pathRoot)
        combined = slashedPath;
    else if(slashedPath.hasPrefix('/'))
        combined = directory.prefix(rootLength(directory, windows)) + slashedPath;
    else
        combined = directory + "/"_s + slashedPath;

    const std::size_t root = rootLength(combined, windows);
    Containers::Array<Containers::StringView> components;
    for(const Containers::StringView component: combined.exceptPrefix(root).split('/')) {
        if(component.isEmpty() || component == "."_s) continue;
        if(component == ".."_s) {
            if(!components.isEmpty()) arrayRemoveSuffix(components);
        } else arrayAppend(components, component);
    }

    return combined.prefix(root) + "/"_s + "/"_s.join(components);
}

}

Containers::String absolute(const Containers::StringView path) {
    const Containers::Optional<Containers::String> workingDirectory = Utility::Path::currentDirectory();
    #ifdef _WIN32
    constexpr bool windows = true;
    #else
    constexpr bool windows = false;
    #endif
    return Implementation::absolute(path, workingDirectory ? Containers::StringView{*workingDirectory} : Containers::StringView{}, windows);
}

}}
