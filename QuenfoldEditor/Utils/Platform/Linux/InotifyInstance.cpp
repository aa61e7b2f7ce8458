#include "QuenfoldEditor/Utils/Platform/Linux/InotifyInstance.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Platform/Linux/MonotonicClock.h"
#include "QuenfoldEditor/Utils/Platform/Linux/SystemCalls.h"
#include "QuenfoldEditor/Utils/Platform/Linux/UnorderedRemoval.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

using namespace Corrade;

namespace {

/* Names created, deleted and moved, contents written, times set */
constexpr std::uint32_t WatchMask = IN_CREATE|IN_DELETE|IN_MOVED_FROM|IN_MOVED_TO|IN_MODIFY|IN_ATTRIB|IN_EXCL_UNLINK|IN_ONLYDIR;
/* Enough to take a full default kernel queue in one go, bounded so that a
   writer outpacing us cannot keep a wait or a fence from ending */
constexpr int MaxReadsInARow = 64;
constexpr std::size_t ReadSize = std::size_t{64}*1024;
/* A read that left room for the largest event emptied the kernel's queue */
constexpr std::size_t LargestEvent = sizeof(inotify_event) + NAME_MAX + 1;
/* The longest the kernel is given to queue a rename's second half after the
   first, in nanoseconds */
constexpr std::int64_t RenameHalvesApart = 1000000;

template<class T> void appendUnique(Containers::Array<T*>& array, T* const value) {
    if(std::find(array.begin(), array.end(), value) == array.end()) arrayAppend(array, value);
}

/* The kernel's records are aligned only as far as its own buffer was */
inotify_event headerAt(const char* const data) {
    inotify_event header;
    std::memcpy(&header, data, sizeof(inotify_event));
    return header;
}

/* The name is padded with zeros to keep the next record aligned */
Containers::StringView nameOf(const inotify_event& header, const char* const data) {
    const char* const name = data + sizeof(inotify_event);
    return {name, header.len ? std::strlen(name) : 0};
}

}

Containers::Pointer<InotifyInstance> InotifyInstance::open() {
    const int descriptor = System::inotifyInit(IN_NONBLOCK|IN_CLOEXEC);
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

/* Appends one read's worth of events to the queue. Returns whether the
   kernel may have more. */
bool InotifyInstance::readKernel() {
    /* What was handled goes once it is most of the queue, which keeps the
       cost of moving the rest down to a constant per event */
    if(_queueBegin && 2*_queueBegin >= _queue.size()) {
        std::memmove(_queue.data(), _queue.data() + _queueBegin, _queue.size() - _queueBegin);
        arrayRemoveSuffix(_queue, _queueBegin);
        _queueBegin = 0;
    }
    const std::size_t end = _queue.size();
    arrayResize(_queue, NoInit, end + ReadSize);
    ssize_t length;
    do length = System::read(_descriptor, _queue.data() + end, ReadSize);
    while(length < 0 && errno == EINTR);
    /* What a failed read took from the kernel is gone: the trees are told
       as of the kernel's own overflow, in its place among the events */
    if(length < 0 && errno != EAGAIN) {
        const inotify_event overflow{-1, IN_Q_OVERFLOW, 0, 0};
        std::memcpy(_queue.data() + end, &overflow, sizeof(overflow));
        length = sizeof(overflow);
    }
    arrayRemoveSuffix(_queue, ReadSize - std::max<ssize_t>(length, 0));
    for(std::size_t offset = end; offset < _queue.size(); ++_read)
        offset += sizeof(inotify_event) + headerAt(_queue.data() + offset).len;
    return length > 0 && std::size_t(length) + LargestEvent > ReadSize;
}

bool InotifyInstance::next(Event& event) {
    if(_queueBegin == _queue.size()) return false;
    const char* const data = _queue.data() + _queueBegin;
    const inotify_event header = headerAt(data);
    event = Event{_handled++, header.wd, header.mask, header.cookie, nameOf(header, data)};
    _queueBegin += sizeof(inotify_event) + header.len;
    return true;
}

bool InotifyInstance::read(const bool onlyIfQueued) {
    _changed = false;
    if(onlyIfQueued && _queueBegin == _queue.size()) return false;
    for(int reads = 0; ; ++reads) {
        const bool more = reads != MaxReadsInARow && readKernel();
        for(Event event; next(event); ) dispatch(event);
        if(more) continue;
        if(reads == MaxReadsInARow) break;
        queueEmpty();
        /* Catching up can list directories, which reads the kernel */
        if(_queueBegin == _queue.size()) break;
    }
    return _changed;
}

std::uint64_t InotifyInstance::fence() {
    for(int reads = 0; reads != MaxReadsInARow && readKernel(); ++reads) {}
    return _read;
}

/* A rename's first half still alone a while after the queue was found empty
   behind it left the tree. Every tree given events has caught up with the
   kernel then, but for a first half that may still wait: it concerns its
   own entry only, and the rest of the trees is listed without delay. */
void InotifyInstance::queueEmpty() {
    if(_firstHalf && !_firstHalf->aloneSince) _firstHalf->aloneSince = now();
    else if(_firstHalf && now() - _firstHalf->aloneSince >= RenameHalvesApart) settleFirstHalf();
    /* Catching up can watch and list directories, which touches trees */
    while(!_touched.isEmpty()) {
        WatchedTree& tree = *_touched.back();
        arrayRemoveSuffix(_touched, 1);
        tree.caughtUp(bool(_firstHalf));
    }
}

void InotifyInstance::settleFirstHalf() {
    const FirstHalf from = std::move(*_firstHalf);
    _firstHalf = Containers::NullOpt;
    dispatchMove(from.event, nullptr);
}

/* To the trees of both sides; without a second half, the move left the
   directories watched: its other side is -1 */
void InotifyInstance::dispatchMove(const Event& from, const Event* const to) {
    arrayRemoveSuffix(_recipients, _recipients.size());
    for(const int watch: {from.watch, to ? to->watch : -1}) {
        const auto found = _users.find(watch);
        if(found != _users.end()) for(WatchedTree* const tree: found->second) appendUnique(_recipients, tree);
    }
    for(WatchedTree* const tree: _recipients) {
        touch(*tree);
        tree->moved(from.place(), to ? to->place() : Place{from.sequence, -1, {}}, from.mask & IN_ISDIR);
    }
}

void InotifyInstance::dispatch(const Event& event) {
    /* The kernel queues the second half of a rename right after the first,
       unless the queue is read in between */
    if(_firstHalf) {
        if((event.mask & IN_MOVED_TO) && event.cookie == _firstHalf->event.cookie) {
            const FirstHalf from = std::move(*_firstHalf);
            _firstHalf = Containers::NullOpt;
            dispatchMove(from.event, &event);
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

    const auto found = _users.find(event.watch);
    if(found == _users.end()) return;
    if(event.mask & IN_IGNORED) {
        const Containers::Array<WatchedTree*> users = std::move(found->second);
        _users.erase(found);
        for(WatchedTree* const tree: users) {
            touch(*tree);
            tree->watchLost(event.watch);
        }
        return;
    }
    /* Events of a directory itself rather than of an entry in it say
       nothing that is asked for */
    if(event.name.isEmpty()) return;
    if(event.mask & IN_MOVED_FROM) {
        _firstHalf = FirstHalf{event, 0};
        return;
    }

    /* A copy: the trees add and drop watches as they go */
    arrayRemoveSuffix(_recipients, _recipients.size());
    arrayAppend(_recipients, found->second);
    const bool isDirectory = event.mask & IN_ISDIR;
    for(WatchedTree* const tree: _recipients) {
        touch(*tree);
        if(event.mask & IN_MOVED_TO) tree->moved({event.sequence, -1, {}}, event.place(), isDirectory);
        else if(event.mask & IN_CREATE) tree->created(event.place(), isDirectory);
        else if(event.mask & IN_DELETE) tree->removed(event.place(), isDirectory);
        else if(event.mask & (IN_MODIFY|IN_ATTRIB)) tree->modified(event.place(), !(event.mask & IN_MODIFY));
    }
}

int InotifyInstance::open(const int directory, const Containers::StringView name) {
    const Containers::String terminated = Containers::String::nullTerminatedView(name.isEmpty() ? Containers::StringView{"."} : name);
    return System::openAt(directory, terminated.data(), O_RDONLY|O_DIRECTORY|O_NOFOLLOW|O_CLOEXEC);
}

void InotifyInstance::close(const int directory) {
    ::close(directory);
}

DirectorySystem::Identity InotifyInstance::identity(const int directory) {
    struct stat status{};
    System::status(directory, status);
    return {std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
}

bool InotifyInstance::list(const int directory, Containers::Array<Entry>& entries) {
    const int own = System::dup(directory);
    DIR* const listing = own < 0 ? nullptr : System::openListing(own);
    if(!listing) {
        const int error = errno;
        if(own >= 0) ::close(own);
        errno = error;
        return false;
    }
    /* The end of the listing leaves errno alone, a failure sets it */
    for(errno = 0; const dirent* const entry = System::nextEntry(listing); errno = 0) {
        const Containers::StringView name = entry->d_name;
        if(name == "." || name == "..") continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if(entry->d_type == DT_UNKNOWN) {
            struct stat status;
            isDirectory = System::statusAt(dirfd(listing), entry->d_name, status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
        }
        arrayAppend(entries, Entry{name, isDirectory});
    }
    const int error = errno;
    closedir(listing);
    errno = error;
    return !error;
}

/* Attribute changes are not asked for, set times are: the kernel stamps the
   change time together with the last-write time only when the latter is
   set to now */
bool InotifyInstance::lastWriteSetNow(const int directory, const Containers::StringView name) {
    const Containers::String terminated = Containers::String::nullTerminatedView(name);
    struct stat status;
    return System::statusAt(directory, terminated.data(), status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_mtim.tv_sec == status.st_ctim.tv_sec &&
        status.st_mtim.tv_nsec == status.st_ctim.tv_nsec;
}

/* Through the descriptor's own entry in /proc: the watch is for the inode
   that was opened, whatever name it has by now */
int InotifyInstance::acquireWatch(const int directory, WatchedTree& user) {
    char path[32];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", directory);
    const int watch = System::addWatch(_descriptor, path, WatchMask);
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
