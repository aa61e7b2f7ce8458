#include "Corrade/Utility/Path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "Corrade/Containers/GrowableArray.h"
#include "Corrade/Utility/Debug.h"

namespace Corrade { namespace Utility { namespace Path {

namespace {

void printErrno(const char* const function, const char* const what, const Containers::StringView path) {
    const int error = errno;
    Error{} << function << what << path << Debug::nospace << ":" << std::strerror(error);
}

bool isWindowsDrive(const Containers::StringView path) {
    #ifdef _WIN32
    return path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    #else
    static_cast<void>(path);
    return false;
    #endif
}

}

bool exists(const Containers::StringView path) {
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    struct stat info;
    return stat(nullTerminated.data(), &info) == 0;
}

bool isDirectory(const Containers::StringView path) {
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    struct stat info;
    return stat(nullTerminated.data(), &info) == 0 && S_ISDIR(info.st_mode);
}

Containers::Pair<Containers::StringView, Containers::StringView> split(const Containers::StringView path) {
    std::size_t slash = path.size();
    while(slash && path[slash - 1] != '/') --slash;
    if(!slash) return {path.prefix(0), path};
    /* The root, and a drive root on Windows, keep their slash */
    const std::size_t directoryEnd = slash == 1 || (slash == 3 && isWindowsDrive(path)) ? slash : slash - 1;
    return {path.prefix(directoryEnd), path.exceptPrefix(slash)};
}

Containers::String join(const Containers::StringView path, const Containers::StringView filename) {
    if(path.isEmpty() || filename.hasPrefix('/') || isWindowsDrive(filename))
        return filename;
    if(path.hasSuffix('/')) return path + filename;
    Containers::String out{Corrade::NoInit, path.size() + 1 + filename.size()};
    std::memcpy(out.data(), path.data(), path.size());
    out[path.size()] = '/';
    if(filename.size()) std::memcpy(out.data() + path.size() + 1, filename.data(), filename.size());
    return out;
}

Containers::String fromNativeSeparators(Containers::String path) {
    #ifdef _WIN32
    for(char& c: path) if(c == '\\') c = '/';
    #endif
    return path;
}

#ifndef _WIN32
Containers::StringView fromNativeSeparators(const Containers::StringView path) {
    return path;
}
#endif

Containers::String toNativeSeparators(Containers::String path) {
    #ifdef _WIN32
    for(char& c: path) if(c == '/') c = '\\';
    #endif
    return path;
}

Containers::Optional<Containers::String> currentDirectory() {
    char buffer[4096];
    if(!getcwd(buffer, sizeof(buffer))) {
        printErrno("Utility::Path::currentDirectory():", "can't get the working directory", {});
        return {};
    }
    return fromNativeSeparators(Containers::String{buffer});
}

bool make(const Containers::StringView path) {
    if(path.isEmpty() || isDirectory(path)) return true;
    const Containers::StringView parent = split(path).first();
    if(!parent.isEmpty() && parent.size() != path.size() && !make(parent)) return false;
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    #ifdef _WIN32
    const int result = _mkdir(nullTerminated.data());
    #else
    const int result = mkdir(nullTerminated.data(), 0777);
    #endif
    if(result != 0 && errno != EEXIST) {
        printErrno("Utility::Path::make():", "can't create", path);
        return false;
    }
    return true;
}

bool remove(const Containers::StringView path) {
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    const int result = isDirectory(path) ? rmdir(nullTerminated.data()) : std::remove(nullTerminated.data());
    if(result != 0) {
        printErrno("Utility::Path::remove():", "can't remove", path);
        return false;
    }
    return true;
}

bool write(const Containers::StringView path, const Containers::ArrayView<const void> data) {
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    std::FILE* const file = std::fopen(nullTerminated.data(), "wb");
    if(!file) {
        printErrno("Utility::Path::write():", "can't open", path);
        return false;
    }
    /* An empty view may have no data at all, which fwrite() must not get */
    const bool ok = data.isEmpty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
    return std::fclose(file) == 0 && ok;
}

Containers::Optional<Containers::String> readString(const Containers::StringView path) {
    const Containers::String nullTerminated = Containers::String::nullTerminatedView(path);
    std::FILE* const file = std::fopen(nullTerminated.data(), "rb");
    if(!file) {
        printErrno("Utility::Path::readString():", "can't open", path);
        return {};
    }
    /* Not sized upfront, so pipes and special files work too */
    Containers::Array<char> data;
    char buffer[65536];
    std::size_t count;
    while((count = std::fread(buffer, 1, sizeof(buffer), file)))
        arrayAppend(data, Containers::ArrayView<const char>{buffer, count});
    std::fclose(file);
    return Containers::String{data.data(), data.size()};
}

}}}
