#include "QuenfoldEditor/Utils/Platform/Linux/InotifyInstance.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/StringView.h>

namespace QuenfoldEngine { namespace Platform { namespace Linux {

using namespace Corrade;

namespace {

/* Names created, deleted and moved, contents written, times set */
constexpr std::uint32_t WatchMask = IN_CREATE|IN_DELETE|IN_MOVED_FROM|IN_MOVED_TO|IN_MODIFY|IN_ATTRIB|IN_EXCL_UNLINK|IN_ONLYDIR;
/* Enough to take a full default kernel queue in one wait, bounded so that a
   writer outpacing us cannot keep a wait from returning */
constexpr int MaxReadsPerWait = 64;
/* The longest the kernel is given to queue a rename's second half after the
   first, in nanoseconds */
constexpr std::int64_t RenameHalvesApart = 1000000;

/* Monotonic, in nanoseconds */
std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return std::int64_t(time.tv_sec)*1000000000 + time.tv_nsec;
}

template<class T> void removeOne(Containers::Array<T*>& array, T* const value) {
    T** const found = std::find(array.begin(), array.end(), value);
    if(found == array.end()) return;
    *found = array.back();
    arrayRemoveSuffix(array, 1);
}

template<class T> void appendUnique(Containers::Array<T*>& array, T* const value) {
    if(std::find(array.begin(), array.end(), value) == array.end()) arrayAppend(array, value);
}

}

Containers::Pointer<InotifyInstance> InotifyInstance::open() {
    const int descriptor = inotify_init1(IN_NONBLOCK|IN_CLOEXEC);
    if(descriptor < 0) return nullptr;
    return Containers::Pointer<InotifyInstance>{new InotifyInstance{descriptor}};
}

InotifyInstance::InotifyInstance(const int descriptor): _descriptor{descriptor} {}

/* Closing the instance drops every watch it still has */
InotifyInstance::~InotifyInstance() {
    ::close(_descriptor);
}

void InotifyInstance::attach(WatchedTree& tree) {
    arrayAppend(_trees, &tree);
}

void InotifyInstance::detach(WatchedTree& tree) {
    removeOne(_trees, &tree);
    removeOne(_touched, &tree);
}

void InotifyInstance::touch(WatchedTree& tree) {
    appendUnique(_touched, &tree);
    _changed = true;
}

bool InotifyInstance::read() {
    _changed = false;
    for(int reads = 0; reads != MaxReadsPerWait; ++reads) {
        const ssize_t length = ::read(_descriptor, _events, sizeof(_events));
        if(length < 0 && errno == EINTR) continue;
        if(length <= 0) {
            queueEmpty();
            break;
        }
        for(std::size_t offset = 0; offset < std::size_t(length); ) {
            const inotify_event& event = *reinterpret_cast<const inotify_event*>(_events + offset);
            dispatch(event);
            offset += sizeof(inotify_event) + event.len;
        }
    }
    return _changed;
}

/* A rename's first half still alone a while after the queue was found empty
   behind it left the tree; once nothing waits, every tree given events has
   caught up with the kernel */
void InotifyInstance::queueEmpty() {
    if(_firstHalf && !_firstHalf->aloneSince) _firstHalf->aloneSince = now();
    else if(_firstHalf && now() - _firstHalf->aloneSince >= RenameHalvesApart) settleFirstHalf();
    if(_firstHalf) return;
    /* Catching up can watch and scan directories, which touches trees */
    while(!_touched.isEmpty()) {
        WatchedTree& tree = *_touched.back();
        arrayRemoveSuffix(_touched, 1);
        tree.caughtUp();
    }
}

void InotifyInstance::settleFirstHalf() {
    const FirstHalf from = std::move(*_firstHalf);
    _firstHalf = Containers::NullOpt;
    dispatchMove(from, -1, {});
}

void InotifyInstance::dispatchMove(const FirstHalf& from, const int toWatch, const Containers::StringView toName) {
    Containers::Array<WatchedTree*> trees;
    for(const int watch: {from.watch, toWatch}) {
        const auto found = _users.find(watch);
        if(found != _users.end()) for(WatchedTree* const tree: found->second) appendUnique(trees, tree);
    }
    for(WatchedTree* const tree: trees) {
        touch(*tree);
        tree->moved(from.watch, from.name, toWatch, toName, from.isDirectory);
    }
}

void InotifyInstance::dispatch(const inotify_event& event) {
    const Containers::StringView name = event.len ? Containers::StringView{event.name} : Containers::StringView{};
    const bool isDirectory = event.mask & IN_ISDIR;

    /* The kernel queues the second half of a rename right after the first,
       unless the queue is read in between */
    if(_firstHalf) {
        if((event.mask & IN_MOVED_TO) && event.cookie == _firstHalf->cookie) {
            const FirstHalf from = std::move(*_firstHalf);
            _firstHalf = Containers::NullOpt;
            dispatchMove(from, event.wd, name);
            return;
        }
        settleFirstHalf();
    }

    if(event.mask & IN_Q_OVERFLOW) {
        for(WatchedTree* const tree: _trees) {
            touch(*tree);
            tree->overflowed();
        }
        return;
    }

    const auto found = _users.find(event.wd);
    if(found == _users.end()) return;
    if(event.mask & IN_IGNORED) {
        const Containers::Array<WatchedTree*> users = std::move(found->second);
        _users.erase(found);
        for(WatchedTree* const tree: users) {
            touch(*tree);
            tree->watchLost(event.wd);
        }
        return;
    }
    /* Events of a directory itself rather than of an entry in it say
       nothing that is asked for */
    if(name.isEmpty()) return;
    if(event.mask & IN_MOVED_FROM) {
        _firstHalf = FirstHalf{event.cookie, event.wd, isDirectory, name, 0};
        return;
    }

    /* A copy: the trees add and drop watches as they go */
    Containers::Array<WatchedTree*> users;
    for(WatchedTree* const tree: found->second) arrayAppend(users, tree);
    for(WatchedTree* const tree: users) {
        touch(*tree);
        if(event.mask & IN_MOVED_TO) tree->moved(-1, {}, event.wd, name, isDirectory);
        else if(event.mask & IN_CREATE) tree->created(event.wd, name, isDirectory);
        else if(event.mask & IN_DELETE) tree->removed(event.wd, name, isDirectory);
        else if(event.mask & (IN_MODIFY|IN_ATTRIB)) tree->modified(event.wd, name, !(event.mask & IN_MODIFY));
    }
}

int InotifyInstance::open(const int directory, const Containers::StringView name) {
    const Containers::String terminated = Containers::String::nullTerminatedView(name.isEmpty() ? Containers::StringView{"."} : name);
    return openat(directory, terminated.data(), O_RDONLY|O_DIRECTORY|O_NOFOLLOW|O_CLOEXEC);
}

void InotifyInstance::close(const int directory) {
    ::close(directory);
}

DirectorySystem::Identity InotifyInstance::identity(const int directory) {
    struct stat status{};
    fstat(directory, &status);
    return {std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
}

bool InotifyInstance::list(const int directory, Containers::Array<Entry>& entries) {
    const int own = dup(directory);
    DIR* const listing = own < 0 ? nullptr : fdopendir(own);
    if(!listing) {
        if(own >= 0) ::close(own);
        return false;
    }
    while(const dirent* const entry = readdir(listing)) {
        const Containers::StringView name = entry->d_name;
        if(name == "." || name == "..") continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if(entry->d_type == DT_UNKNOWN) {
            struct stat status;
            isDirectory = fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
        }
        arrayAppend(entries, Entry{name, isDirectory});
    }
    closedir(listing);
    return true;
}

/* Attribute changes are not asked for, set times are: the kernel stamps the
   change time together with the last-write time only when the latter is
   set to now */
bool InotifyInstance::lastWriteSetNow(const int directory, const Containers::StringView name) {
    const Containers::String terminated = Containers::String::nullTerminatedView(name);
    struct stat status;
    return fstatat(directory, terminated.data(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_mtim.tv_sec == status.st_ctim.tv_sec &&
        status.st_mtim.tv_nsec == status.st_ctim.tv_nsec;
}

/* Through the descriptor's own entry in /proc: the watch is for the inode
   that was opened, whatever name it has by now */
int InotifyInstance::acquireWatch(const int directory, WatchedTree& user) {
    char path[32];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", directory);
    const int watch = inotify_add_watch(_descriptor, path, WatchMask);
    if(watch < 0) return -1;
    appendUnique(_users[watch], &user);
    return watch;
}

void InotifyInstance::releaseWatch(const int watch, WatchedTree& user) {
    const auto found = _users.find(watch);
    if(found == _users.end()) return;
    removeOne(found->second, &user);
    if(!found->second.isEmpty()) return;
    _users.erase(found);
    inotify_rm_watch(_descriptor, watch);
}

}}}
