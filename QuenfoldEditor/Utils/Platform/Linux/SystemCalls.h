#ifndef QuenfoldEditor_Utils_Platform_Linux_SystemCalls_h
#define QuenfoldEditor_Utils_Platform_Linux_SystemCalls_h
/* The system calls of the Linux backend that can fail, each a plain inline
   call of the real one. Out of descriptors, kernel watches or memory, a
   folder made unreadable: those paths run first on a user's machine unless
   a test takes them, so a test that compiles the backend's sources with
   QUENFOLD_SYSTEM_CALL_FAILURES defined decides through failsNow() which
   call fails, and how. Private to the Linux backend. */

#include <cstddef>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace System {

enum class Call: std::uint8_t {
    InotifyInit,
    AddWatch,
    /* open() and openat() */
    Open,
    Dup,
    /* fdopendir() */
    OpenListing,
    /* readdir(), once for each entry, . and .. included, and once more at
       the end */
    ListEntry,
    /* fstat() and fstatat() */
    Stat,
    Read
};

#ifdef QUENFOLD_SYSTEM_CALL_FAILURES
/* Whether the call fails now, with errno set when it does; the test defines
   it. It may also change the file system first, as a race would. */
bool failsNow(Call call);
#else
constexpr bool failsNow(Call) { return false; }
#endif

inline int inotifyInit(const int flags) {
    return failsNow(Call::InotifyInit) ? -1 : inotify_init1(flags);
}

inline int addWatch(const int instance, const char* const path, const std::uint32_t mask) {
    return failsNow(Call::AddWatch) ? -1 : inotify_add_watch(instance, path, mask);
}

inline int open(const char* const path, const int flags) {
    return failsNow(Call::Open) ? -1 : ::open(path, flags);
}

inline int openAt(const int directory, const char* const name, const int flags) {
    return failsNow(Call::Open) ? -1 : openat(directory, name, flags);
}

inline int dup(const int descriptor) {
    return failsNow(Call::Dup) ? -1 : ::dup(descriptor);
}

inline DIR* openListing(const int directory) {
    return failsNow(Call::OpenListing) ? nullptr : fdopendir(directory);
}

/* Null at the end, and with errno set on failure */
inline const dirent* nextEntry(DIR* const listing) {
    return failsNow(Call::ListEntry) ? nullptr : readdir(listing);
}

inline int status(const int descriptor, struct stat& out) {
    return failsNow(Call::Stat) ? -1 : fstat(descriptor, &out);
}

inline int statusAt(const int directory, const char* const name, struct stat& out, const int flags) {
    return failsNow(Call::Stat) ? -1 : fstatat(directory, name, &out, flags);
}

inline ssize_t read(const int descriptor, void* const buffer, const std::size_t size) {
    return failsNow(Call::Read) ? -1 : ::read(descriptor, buffer, size);
}

}}}}

#endif
