/* The directory-change operations on Linux. A directory handle is an inotify
   instance with a watch on every directory of the subtree; a read completes
   when the thread that issued it waits alertably in SleepEx(), which turns
   the kernel's events into the records Windows writes for the watcher's
   notify filter. No threads: everything runs inside the calls. A mutex
   guards the shared state because, as on Windows, a read may be cancelled
   or its handle closed from any thread. */

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

namespace QuenfoldEngine { namespace Platform {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

namespace {

/* Names created, deleted and renamed, contents written, times set */
constexpr std::uint32_t WatchMask = IN_CREATE|IN_DELETE|IN_MOVED_FROM|IN_MOVED_TO|IN_MODIFY|IN_ATTRIB|IN_EXCL_UNLINK|IN_ONLYDIR;
constexpr DWORD SupportedNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME|FILE_NOTIFY_CHANGE_DIR_NAME|FILE_NOTIFY_CHANGE_LAST_WRITE|FILE_NOTIFY_CHANGE_CREATION;
constexpr std::size_t RecordHeaderSize = offsetof(FILE_NOTIFY_INFORMATION, FileName);
/* Enough to take a full default kernel queue in one wait, bounded so that a
   writer outpacing us cannot keep SleepEx() from returning */
constexpr int MaxEventReadsPerWait = 64;
/* The longest the kernel is given to queue a rename's second half after the
   first, in nanoseconds */
constexpr std::int64_t RenameHalvesApart = 1000000;

/* A record waiting for a read; the path is relative to the watched
   directory, with '/' between components */
struct Change {
    DWORD action;
    Containers::String path;
};
/* The action of the change that marks where the kernel dropped events */
constexpr DWORD KernelQueueOverflow = 0;

/* The first half of a rename, kept until the next event tells whether the
   entry stayed inside the tree */
struct MoveFrom {
    std::uint32_t cookie;
    int watch;
    bool isDirectory;
    Containers::String path;
    /* When a read first found the queue empty behind it, 0 before: the
       kernel queues the second half separately, so such a read may fall
       between the two */
    std::int64_t aloneSince;
};

struct Read {
    char* buffer;
    DWORD length;
    OVERLAPPED* overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    std::uint64_t thread;
};

struct Completion {
    std::uint64_t thread;
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    DWORD error;
    DWORD bytes;
    OVERLAPPED* overlapped;
};

struct Directory {
    int inotify = -1;
    int rootWatch = -1;
    /* Resolved at open; the kernel follows the inodes afterwards, so only
       directories that appear after the root itself moved cannot be found */
    Containers::String base;
    std::unordered_map<int, Containers::String> watchPaths;
    /* Entries that a scan of a new directory reported, keyed by the
       directory's watch and the name: their own creation event may still
       be queued behind the scan, and must not be reported twice */
    std::unordered_set<std::string> scanned;
    Containers::Array<Change> backlog;
    std::size_t backlogBegin = 0;
    Containers::Optional<MoveFrom> moveFrom;
    bool rootGone = false;
    bool reading = false;
    Read read{};
};

struct Registry {
    std::mutex mutex;
    Containers::Array<Containers::Pointer<Directory>> directories;
    Containers::Array<Completion> completions;
    alignas(inotify_event) char events[64*1024];
};

Registry& registry() {
    static Registry instance;
    return instance;
}

/* Unlike std::thread::id, never reused by a later thread */
std::uint64_t currentThread() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t id = next++;
    return id;
}

thread_local DWORD lastError = ERROR_SUCCESS;

/* Monotonic, in nanoseconds */
std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return std::int64_t(time.tv_sec)*1000000000 + time.tv_nsec;
}

BOOL fail(const DWORD error) {
    lastError = error;
    return FALSE;
}

HANDLE failOpen(const DWORD error) {
    lastError = error;
    return INVALID_HANDLE_VALUE;
}

/* Null and INVALID_HANDLE_VALUE are never found */
Containers::Pointer<Directory>* findSlot(Registry& r, const HANDLE handle) {
    for(Containers::Pointer<Directory>& directory: r.directories)
        if(directory.get() == handle) return &directory;
    return nullptr;
}

Directory* find(Registry& r, const HANDLE handle) {
    Containers::Pointer<Directory>* const slot = findSlot(r, handle);
    return slot ? slot->get() : nullptr;
}

/* Windows says "file not found" when only the last component is missing and
   "path not found" when a directory on the way is */
DWORD openError(const char* const path, const int error) {
    switch(error) {
        case ENOENT: {
            const Containers::String parent = Utility::Path::split(path).first();
            struct stat status;
            return !parent.isEmpty() && ::stat(parent.data(), &status) == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        }
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        /* Mostly the per-user limits of inotify instances and watches */
        case EMFILE:
        case ENOSPC: return ERROR_NOT_ENOUGH_QUOTA;
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_GEN_FAILURE;
}

bool isInside(const Containers::StringView path, const Containers::StringView directory) {
    return path.hasPrefix(directory) && (path.size() == directory.size() || path[directory.size()] == '/');
}

std::string scanKey(const int watch, const Containers::StringView name) {
    std::string key = std::to_string(watch);
    key += '/';
    key.append(name.data(), name.size());
    return key;
}

/* Translation of kernel events into Windows records */

void record(Directory& d, const DWORD action, const Containers::StringView path) {
    arrayAppend(d.backlog, Change{action, path});
}

/* A directory below the root whose entries were added, removed or renamed
   gets a new last-write time, which Windows reports */
void recordParentModified(Directory& d, const Containers::StringView path) {
    const Containers::StringView parent = Utility::Path::split(path).first();
    if(!parent.isEmpty()) record(d, FILE_ACTION_MODIFIED, parent);
}

void recordEntry(Directory& d, const DWORD action, const Containers::StringView path) {
    record(d, action, path);
    recordParentModified(d, path);
}

bool isDirectoryEntry(DIR* const listing, const dirent& entry) {
    if(entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
    struct stat status;
    return fstatat(dirfd(listing), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}

/* Watches the directory at top and every directory below it, never
   following symbolic links; with report, every entry found below top is
   recorded as added. Returns 0, the error that kept top itself from being
   watched, or ENOSPC once the kernel's watch limit is reached. */
int watchTree(Directory& d, const Containers::StringView top, const bool report) {
    Containers::Array<Containers::String> pending;
    arrayAppend(pending, Containers::String{top});
    for(bool isTop = true; !pending.isEmpty(); isTop = false) {
        const Containers::String directory = std::move(pending.back());
        arrayRemoveSuffix(pending, 1);
        const Containers::String absolute = Utility::Path::join(d.base, directory);
        const int watch = inotify_add_watch(d.inotify, absolute.data(), WatchMask|(directory.isEmpty() ? 0 : IN_DONT_FOLLOW));
        if(watch < 0) {
            /* Anything below top that vanished or is unreadable is skipped */
            if(isTop || errno == ENOSPC) return errno;
            continue;
        }
        if(directory.isEmpty()) d.rootWatch = watch;
        /* Seen already: a bind mount of a directory above it */
        if(!d.watchPaths.emplace(watch, directory).second) continue;

        DIR* const listing = opendir(absolute.data());
        if(!listing) continue;
        while(const dirent* const entry = readdir(listing)) {
            const Containers::StringView name = entry->d_name;
            if(name == "."_s || name == ".."_s) continue;
            Containers::String path = Utility::Path::join(directory, name);
            if(report && d.scanned.insert(scanKey(watch, name)).second)
                recordEntry(d, FILE_ACTION_ADDED, path);
            if(isDirectoryEntry(listing, *entry)) arrayAppend(pending, std::move(path));
        }
        closedir(listing);
    }
    return 0;
}

/* Without a watch on a new directory its changes would be lost: tell the
   reader so, the way a kernel overflow does */
void watchNewTree(Directory& d, const Containers::StringView path, const bool report) {
    if(watchTree(d, path, report) == ENOSPC) record(d, KernelQueueOverflow, {});
}

void unwatchTree(Directory& d, const Containers::StringView path) {
    for(auto it = d.watchPaths.begin(); it != d.watchPaths.end(); ) {
        if(isInside(it->second, path)) {
            inotify_rm_watch(d.inotify, it->first);
            it = d.watchPaths.erase(it);
        } else ++it;
    }
}

/* Returns whether any watch was under the old path. By the time the event
   is read, another directory may have taken the old name and its watch: the
   watches stay then, unless the kernel finds that watch at the new path. */
bool renameTree(Directory& d, const Containers::StringView from, const Containers::StringView to) {
    const Containers::String absolute = Utility::Path::join(d.base, to);
    const int moved = inotify_add_watch(d.inotify, absolute.data(), WatchMask|IN_DONT_FOLLOW);
    if(moved >= 0) {
        const auto found = d.watchPaths.find(moved);
        if(found == d.watchPaths.end() || found->second != from) return false;
    }

    bool found = false;
    for(auto& watch: d.watchPaths) {
        if(!isInside(watch.second, from)) continue;
        watch.second = to + watch.second.exceptPrefix(from.size());
        found = true;
    }
    return found;
}

/* An entry created in the tree or moved in from outside. Entries created in
   a new directory before its watch existed are reported by a scan, as
   Windows, which watches the subtree in the kernel, reports them; a
   directory moved in reports only itself. */
void added(Directory& d, const int watch, const Containers::StringView name, const Containers::StringView path, const bool isDirectory, const bool created) {
    if(d.scanned.erase(scanKey(watch, name))) return;
    recordEntry(d, FILE_ACTION_ADDED, path);
    if(isDirectory) watchNewTree(d, path, created);
}

void removed(Directory& d, const Containers::StringView path, const bool isDirectory) {
    recordEntry(d, FILE_ACTION_REMOVED, path);
    if(isDirectory) unwatchTree(d, path);
}

/* Windows pairs a rename within one directory; a move between two
   directories is a removal and an addition */
void moved(Directory& d, const MoveFrom& from, const int watch, const Containers::StringView name, const Containers::StringView path) {
    if(d.scanned.erase(scanKey(watch, name))) {
        recordEntry(d, FILE_ACTION_REMOVED, from.path);
    } else if(from.watch == watch) {
        record(d, FILE_ACTION_RENAMED_OLD_NAME, from.path);
        record(d, FILE_ACTION_RENAMED_NEW_NAME, path);
        recordParentModified(d, path);
    } else {
        recordEntry(d, FILE_ACTION_REMOVED, from.path);
        recordEntry(d, FILE_ACTION_ADDED, path);
    }
    /* A directory renamed before its creation was seen has no watch yet */
    if(from.isDirectory && !renameTree(d, from.path, path)) watchNewTree(d, path, true);
}

void settleMoveFrom(Directory& d) {
    if(!d.moveFrom) return;
    removed(d, d.moveFrom->path, d.moveFrom->isDirectory);
    d.moveFrom = Containers::NullOpt;
}

/* Attribute changes are not asked for, set times are: the kernel stamps
   the change time together with the last-write time only when the latter
   is set to now */
bool lastWriteTimeSet(const Directory& d, const Containers::StringView path) {
    const Containers::String absolute = Utility::Path::join(d.base, path);
    struct stat status;
    return ::lstat(absolute.data(), &status) == 0 &&
        status.st_mtim.tv_sec == status.st_ctim.tv_sec &&
        status.st_mtim.tv_nsec == status.st_ctim.tv_nsec;
}

void translate(Directory& d, const inotify_event& event) {
    if(event.mask & IN_IGNORED) {
        d.watchPaths.erase(event.wd);
        if(event.wd == d.rootWatch) d.rootGone = true;
        return;
    }
    if(event.mask & IN_Q_OVERFLOW) {
        settleMoveFrom(d);
        record(d, KernelQueueOverflow, {});
        return;
    }
    /* Events of dropped watches, and of a directory itself rather than of
       an entry in it, report nothing */
    const auto found = d.watchPaths.find(event.wd);
    if(found == d.watchPaths.end() || !event.len) return;

    const Containers::StringView name = event.name;
    const Containers::String path = Utility::Path::join(found->second, name);
    const bool isDirectory = event.mask & IN_ISDIR;

    /* The kernel queues the two halves of a rename back to back */
    const bool completesMove = d.moveFrom && (event.mask & IN_MOVED_TO) && event.cookie == d.moveFrom->cookie;
    if(!completesMove) settleMoveFrom(d);

    if(event.mask & IN_MOVED_FROM) {
        d.moveFrom = MoveFrom{event.cookie, event.wd, isDirectory, path, 0};
    } else if(completesMove) {
        const MoveFrom from = std::move(*d.moveFrom);
        d.moveFrom = Containers::NullOpt;
        moved(d, from, event.wd, name, path);
    } else if(event.mask & (IN_CREATE|IN_MOVED_TO)) {
        added(d, event.wd, name, path, isDirectory, event.mask & IN_CREATE);
    } else if(event.mask & IN_DELETE) {
        removed(d, path, isDirectory);
    } else if((event.mask & IN_MODIFY) || ((event.mask & IN_ATTRIB) && lastWriteTimeSet(d, path))) {
        record(d, FILE_ACTION_MODIFIED, path);
    }
}

/* Reads what the kernel has queued for the directory */
void readEvents(Directory& d, char* const events, const std::size_t size) {
    for(int reads = 0; reads != MaxEventReadsPerWait; ++reads) {
        const ssize_t length = ::read(d.inotify, events, size);
        if(length < 0 && errno == EINTR) continue;
        if(length <= 0) {
            /* The queue is empty: a rename's first half still alone a while
               later left the tree, and whatever a scan anticipated has
               come */
            if(d.moveFrom && !d.moveFrom->aloneSince) d.moveFrom->aloneSince = now();
            else if(d.moveFrom && now() - d.moveFrom->aloneSince >= RenameHalvesApart) settleMoveFrom(d);
            d.scanned.clear();
            return;
        }
        for(std::size_t offset = 0; offset < std::size_t(length); ) {
            const inotify_event& event = *reinterpret_cast<const inotify_event*>(events + offset);
            translate(d, event);
            offset += sizeof(inotify_event) + event.len;
        }
    }
}

/* Records into the read's buffer */

/* Calls f for every UTF-16 unit of the path, with '\' between components as
   Windows writes names; bytes that are not UTF-8 become U+FFFD */
template<class F> void forEachUtf16Unit(const Containers::StringView path, F&& f) {
    const auto* i = reinterpret_cast<const unsigned char*>(path.data());
    const auto* const end = i + path.size();
    while(i != end) {
        const unsigned char lead = *i;
        std::size_t size = 1;
        char32_t c = lead, minimum = 0;
        if(lead >= 0xF0 && lead < 0xF8) size = 4, c = lead & 0x07, minimum = 0x10000;
        else if(lead >= 0xE0 && lead < 0xF0) size = 3, c = lead & 0x0F, minimum = 0x800;
        else if(lead >= 0xC0 && lead < 0xE0) size = 2, c = lead & 0x1F, minimum = 0x80;
        else if(lead >= 0x80) c = 0xFFFD;
        if(size > std::size_t(end - i)) size = 1, c = 0xFFFD;
        for(std::size_t k = 1; k != size; ++k) {
            if((i[k] & 0xC0) != 0x80) {
                size = 1, c = 0xFFFD;
                break;
            }
            c = c << 6 | (i[k] & 0x3F);
        }
        if(size > 1 && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))) size = 1, c = 0xFFFD;
        i += size;

        if(c == '/') c = '\\';
        if(c >= 0x10000) {
            f(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            f(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else f(char16_t(c));
    }
}

bool hasWaitingChanges(const Directory& d) {
    return d.backlogBegin != d.backlog.size();
}

/* Writes the waiting records that fit, DWORD-aligned and chained by
   NextEntryOffset, and returns the bytes written; the rest waits for the
   next read */
DWORD writeRecords(Directory& d) {
    char* const buffer = d.read.buffer;
    std::size_t end = 0;
    char* previous = nullptr;
    while(hasWaitingChanges(d) && d.backlog[d.backlogBegin].action != KernelQueueOverflow) {
        const Change& change = d.backlog[d.backlogBegin];
        std::size_t units = 0;
        forEachUtf16Unit(change.path, [&](char16_t) { ++units; });
        const std::size_t offset = (end + 3) & ~std::size_t{3};
        if(offset + RecordHeaderSize + 2*units > d.read.length) break;

        std::memset(buffer + end, 0, offset - end);
        char* const entry = buffer + offset;
        const DWORD header[]{0, change.action, DWORD(2*units)};
        std::memcpy(entry, header, RecordHeaderSize);
        char* name = entry + RecordHeaderSize;
        forEachUtf16Unit(change.path, [&](const char16_t unit) {
            std::memcpy(name, &unit, sizeof(unit));
            name += sizeof(unit);
        });
        if(previous) {
            const DWORD next = DWORD(entry - previous);
            std::memcpy(previous, &next, sizeof(next));
        }
        previous = entry;
        end = name - buffer;
        ++d.backlogBegin;
    }
    return DWORD(end);
}

/* Keeps the backlog's storage: a steady trickle of changes then allocates
   nothing */
void compactBacklog(Directory& d) {
    if(d.backlogBegin == d.backlog.size()) {
        arrayRemoveSuffix(d.backlog, d.backlog.size());
        d.backlogBegin = 0;
    } else if(d.backlogBegin >= 4096 && 2*d.backlogBegin >= d.backlog.size()) {
        for(std::size_t i = d.backlogBegin; i != d.backlog.size(); ++i)
            d.backlog[i - d.backlogBegin] = std::move(d.backlog[i]);
        arrayRemoveSuffix(d.backlog, d.backlogBegin);
        d.backlogBegin = 0;
    }
}

void queueCompletion(Registry& r, Directory& d, const DWORD error, const DWORD bytes) {
    arrayAppend(r.completions, Completion{d.read.thread, d.read.routine, error, bytes, d.read.overlapped});
    d.reading = false;
}

/* Completes the read with what waits: records, the point where the kernel
   dropped events (0 bytes, as Windows reports its own overflow), or the
   loss of the watched directory itself (access denied, as on Windows) */
void completeRead(Registry& r, Directory& d) {
    if(hasWaitingChanges(d)) {
        DWORD bytes = 0;
        /* A record larger than the whole buffer is lost as on overflow */
        if(d.backlog[d.backlogBegin].action == KernelQueueOverflow || !(bytes = writeRecords(d)))
            ++d.backlogBegin;
        compactBacklog(d);
        queueCompletion(r, d, ERROR_SUCCESS, bytes);
    } else if(d.rootGone) queueCompletion(r, d, ERROR_ACCESS_DENIED, 0);
}

void completeReads(const std::uint64_t thread, const bool readKernel) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    for(Containers::Pointer<Directory>& directory: r.directories) {
        if(!directory->reading || directory->read.thread != thread) continue;
        if(readKernel) readEvents(*directory, r.events, sizeof(r.events));
        completeRead(r, *directory);
    }
}

/* Runs the thread's completions in the order they were queued, including
   those queued by the routines themselves, outside the lock, since the
   routines call back into these operations */
bool runCompletions(const std::uint64_t thread) {
    Registry& r = registry();
    bool ran = false;
    for(;;) {
        Completion completion;
        {
            const std::lock_guard<std::mutex> lock{r.mutex};
            std::size_t i = 0;
            while(i != r.completions.size() && r.completions[i].thread != thread) ++i;
            if(i == r.completions.size()) return ran;
            completion = r.completions[i];
            for(++i; i != r.completions.size(); ++i) r.completions[i - 1] = r.completions[i];
            arrayRemoveSuffix(r.completions, 1);
        }
        completion.routine(completion.error, completion.bytes, completion.overlapped);
        ran = true;
    }
}

void cancelRead(Registry& r, Directory& d) {
    if(d.reading) queueCompletion(r, d, ERROR_OPERATION_ABORTED, 0);
}

class Deadline {
    public:
        explicit Deadline(const DWORD milliseconds): _infinite{milliseconds == INFINITE}, _end{now() + std::int64_t(milliseconds)*1000000} {}

        /* Milliseconds left, rounded up; -1 for no deadline */
        int remaining() const {
            if(_infinite) return -1;
            const std::int64_t left = _end - now();
            if(left <= 0) return 0;
            return int(std::min<std::int64_t>((left + 999999)/1000000, INT_MAX));
        }

    private:
        bool _infinite;
        std::int64_t _end;
};

/* Blocks until a watched tree of a read of this thread has events, or the
   time is up; a millisecond at most while a rename's first half awaits its
   second, so that a move out of the tree is told soon */
void waitForEvents(const std::uint64_t thread, int timeout) {
    Registry& r = registry();
    Containers::Array<pollfd> descriptors;
    {
        const std::lock_guard<std::mutex> lock{r.mutex};
        for(Containers::Pointer<Directory>& directory: r.directories) {
            if(!directory->reading || directory->read.thread != thread) continue;
            arrayAppend(descriptors, pollfd{directory->inotify, POLLIN, 0});
            if(directory->moveFrom && timeout != 0) timeout = 1;
        }
    }
    poll(descriptors.data(), descriptors.size(), timeout);
}

}

HANDLE CreateFileA(const char* const fileName, DWORD, DWORD, void*, const DWORD creationDisposition, const DWORD flagsAndAttributes, HANDLE) {
    if(creationDisposition != OPEN_EXISTING) return failOpen(ERROR_INVALID_PARAMETER);
    /* Windows opens a directory only with backup semantics */
    if(!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) return failOpen(ERROR_ACCESS_DENIED);
    if(!fileName || !*fileName) return failOpen(ERROR_PATH_NOT_FOUND);

    char* const resolved = realpath(fileName, nullptr);
    if(!resolved) return failOpen(openError(fileName, errno));
    Containers::Pointer<Directory> directory{new Directory};
    directory->base = resolved;
    std::free(resolved);
    struct stat status;
    if(::stat(directory->base.data(), &status) != 0) return failOpen(openError(fileName, errno));
    if(!S_ISDIR(status.st_mode)) return failOpen(ERROR_DIRECTORY);

    directory->inotify = inotify_init1(IN_NONBLOCK|IN_CLOEXEC);
    if(directory->inotify < 0) return failOpen(openError(fileName, errno));
    if(const int error = watchTree(*directory, {}, false)) {
        close(directory->inotify);
        return failOpen(openError(fileName, error));
    }

    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    return arrayAppend(r.directories, std::move(directory)).get();
}

BOOL ReadDirectoryChangesW(const HANDLE directory, void* const buffer, const DWORD bufferLength, const BOOL watchSubtree, const DWORD notifyFilter, DWORD*, OVERLAPPED* const overlapped, const LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Directory* const d = find(r, directory);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    /* Only the asynchronous whole-subtree read with a completion routine,
       for the changes the watcher asks for */
    if(!overlapped || !completionRoutine || !watchSubtree || (notifyFilter & ~SupportedNotifyFilter))
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    if(!notifyFilter || d->reading || (bufferLength && (!buffer || reinterpret_cast<std::uintptr_t>(buffer) % alignof(DWORD))))
        return fail(ERROR_INVALID_PARAMETER);
    d->read = Read{static_cast<char*>(buffer), bufferLength, overlapped, completionRoutine, currentThread()};
    d->reading = true;
    return TRUE;
}

BOOL CancelIo(const HANDLE file) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Directory* const d = find(r, file);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    if(d->read.thread == currentThread()) cancelRead(r, *d);
    return TRUE;
}

BOOL CancelIoEx(const HANDLE file, OVERLAPPED* const overlapped) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Directory* const d = find(r, file);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    if(!d->reading || (overlapped && overlapped != d->read.overlapped)) return fail(ERROR_NOT_FOUND);
    cancelRead(r, *d);
    return TRUE;
}

BOOL CloseHandle(const HANDLE object) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Containers::Pointer<Directory>* const slot = findSlot(r, object);
    if(!slot) return fail(ERROR_INVALID_HANDLE);
    cancelRead(r, **slot);
    close((*slot)->inotify);
    std::swap(*slot, r.directories.back());
    arrayRemoveSuffix(r.directories, 1);
    return TRUE;
}

DWORD SleepEx(const DWORD milliseconds, const BOOL alertable) {
    const Deadline deadline{milliseconds};
    if(!alertable) {
        for(int remaining; (remaining = deadline.remaining()) != 0; ) poll(nullptr, 0, remaining);
        return 0;
    }

    /* As on Windows, a read armed by a completion routine completes in the
       same wait when changes are already waiting for it; the kernel is read
       once per wait, so the loop ends */
    const std::uint64_t thread = currentThread();
    bool readKernel = true, ran = false;
    for(;;) {
        completeReads(thread, readKernel);
        readKernel = false;
        if(runCompletions(thread)) {
            ran = true;
            continue;
        }
        if(ran) return WAIT_IO_COMPLETION;
        const int remaining = deadline.remaining();
        if(!remaining) return 0;
        waitForEvents(thread, remaining);
        readKernel = true;
    }
}

DWORD GetLastError() {
    return lastError;
}

}}
