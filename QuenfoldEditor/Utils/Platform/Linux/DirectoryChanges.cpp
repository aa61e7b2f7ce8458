/* The directory-change operations on Linux. Every thread that opens
   directory handles gets one inotify instance, shared by all of them
   (Linux/InotifyInstance); a handle is the model of its watched tree in that
   instance (Linux/WatchedTree) and the changes waiting for its read
   (Linux/ChangeQueue). A read completes when the thread that issued it
   waits alertably in SleepEx(), which reads the instance once per wake-up
   and, when nothing is waiting, blocks on it. No threads: everything runs
   inside the calls. Locks guard the shared state because, as on Windows, a
   read may be issued, cancelled or its handle closed from any thread: one
   for the handles, the reads and their completions, held briefly, and one
   per instance for its kernel and its trees, held while they read or list,
   so that one thread's long listing does not hold up another's wait. A
   thread that gives another something to complete wakes its wait, as
   Windows does. */

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"
#include "QuenfoldEditor/Utils/Platform/Linux/InotifyInstance.h"
#include "QuenfoldEditor/Utils/Platform/Linux/MonotonicClock.h"
#include "QuenfoldEditor/Utils/Platform/Linux/SystemCalls.h"
#include "QuenfoldEditor/Utils/Platform/Linux/UnorderedRemoval.h"
#include "QuenfoldEditor/Utils/Platform/Linux/WatchedTree.h"

namespace QuenfoldEngine { namespace Platform {

using namespace Corrade;

namespace {

constexpr DWORD SupportedNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME|FILE_NOTIFY_CHANGE_DIR_NAME|FILE_NOTIFY_CHANGE_LAST_WRITE|FILE_NOTIFY_CHANGE_CREATION;

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

/* A thread blocked in an alertable wait, and how to wake it */
struct Sleeper {
    std::uint64_t thread;
    int descriptor;
};

struct Instance;

struct Handle {
    Instance* instance;
    /* The watched directory itself, found by inode whatever its name
       becomes */
    int root;
    /* Under the instance's lock */
    Linux::ChangeQueue changes;
    /* Declared after the changes it writes to, so destroyed before them */
    Containers::Pointer<Linux::WatchedTree> tree;
    /* Under the registry's lock */
    bool reading = false;
    Read read{};
};

/* The inotify instance of one thread and the handles opened on it */
struct Instance {
    const std::uint64_t thread;
    /* For the kernel instance and the trees; taken before the registry's
       lock, never while holding it */
    std::mutex mutex;
    Containers::Pointer<Linux::InotifyInstance> kernel;
    /* The rest under the registry's lock */
    Containers::Array<Handle*> handles;
    /* A read of one of the handles may have something to complete */
    bool changed = false;
    /* Threads using it outside the registry's lock, which keep it open */
    std::size_t users = 0;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<HANDLE, Containers::Pointer<Handle>> handles;
    Containers::Array<Containers::Pointer<Instance>> instances;
    Containers::Array<Completion> completions;
    Containers::Array<Sleeper> sleepers;
    /* Reads issued on a thread other than the one that opened the handle,
       whose waits then read that handle's instance too */
    std::size_t foreignReads = 0;
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
/* The invalid handle stands for the thread's last failed open: a read on it
   fails with that open's error, so that the watcher can tell why */
thread_local DWORD failedOpenError = ERROR_INVALID_HANDLE;

BOOL fail(const DWORD error) {
    lastError = error;
    return FALSE;
}

HANDLE failOpen(const DWORD error) {
    lastError = failedOpenError = error;
    return INVALID_HANDLE_VALUE;
}

Handle* find(Registry& r, const HANDLE handle) {
    const auto found = r.handles.find(handle);
    return found == r.handles.end() ? nullptr : found->second.get();
}

Instance* findInstance(Registry& r, const std::uint64_t thread) {
    for(Containers::Pointer<Instance>& instance: r.instances)
        if(instance->thread == thread) return instance.get();
    return nullptr;
}

/* Closes the instance with its last handle, once no thread uses it */
void releaseInstance(Registry& r, Instance& instance) {
    if(!instance.handles.isEmpty() || instance.users) return;
    Linux::removeAt(r.instances, *std::find_if(r.instances.begin(), r.instances.end(), [&](const Containers::Pointer<Instance>& i) { return i.get() == &instance; }));
}

/* Calls f for each instance whose events the thread's waits read: its own,
   and those of handles it issued a read on */
template<class F> void forEachInstanceOf(Registry& r, const std::uint64_t thread, F&& f) {
    if(Instance* const own = findInstance(r, thread)) f(*own);
    if(!r.foreignReads) return;
    for(Containers::Pointer<Instance>& instance: r.instances) {
        if(instance->thread == thread) continue;
        for(Handle* const handle: instance->handles) if(handle->reading && handle->read.thread == thread) {
            f(*instance);
            break;
        }
    }
}

void unpin(Registry& r, Instance& instance) {
    --instance.users;
    releaseInstance(r, instance);
}

/* The instances whose events the thread's waits read, kept open while they
   are used */
class Pinned {
    public:
        explicit Pinned(Registry& r, const std::uint64_t thread): _r{r} {
            const std::lock_guard<std::mutex> lock{r.mutex};
            forEachInstanceOf(r, thread, [&](Instance& instance) {
                ++instance.users;
                arrayAppend(_instances, &instance);
            });
        }

        ~Pinned() {
            const std::lock_guard<std::mutex> lock{_r.mutex};
            for(Instance* const instance: _instances) unpin(_r, *instance);
        }

        Pinned(const Pinned&) = delete;
        Pinned& operator=(const Pinned&) = delete;

        Instance* const* begin() const { return _instances.begin(); }
        Instance* const* end() const { return _instances.end(); }

    private:
        Registry& _r;
        Containers::Array<Instance*> _instances;
};

/* A failure once the directory was found, which never says it is missing:
   without /proc, for one, watches cannot be added and fail with ENOENT */
DWORD watchError(const int error) {
    switch(error) {
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        /* The per-user limit of inotify watches */
        case ENOSPC: return ERROR_NOT_ENOUGH_QUOTA;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_GEN_FAILURE;
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
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    }
    return watchError(error);
}

/* EMFILE is the per-user limit of inotify instances or the process's own
   limit of descriptors: a descriptor to spare tells the first */
DWORD instanceError(const int descriptor, const int error) {
    if(error != EMFILE) return watchError(error);
    const int spare = Linux::System::dup(descriptor);
    if(spare < 0) return watchError(errno);
    close(spare);
    return ERROR_NOT_ENOUGH_QUOTA;
}

/* Under the registry's lock, after the change it is woken for: its wait
   looks at the state again once awake */
void wake(Registry& r, const std::uint64_t thread) {
    if(thread == currentThread()) return;
    for(const Sleeper& sleeper: r.sleepers)
        if(sleeper.thread == thread) eventfd_write(sleeper.descriptor, 1);
}

void endRead(Registry& r, Handle& handle, const DWORD error, const DWORD bytes) {
    arrayAppend(r.completions, Completion{handle.read.thread, handle.read.routine, error, bytes, handle.read.overlapped});
    wake(r, handle.read.thread);
    if(handle.read.thread != handle.instance->thread) --r.foreignReads;
    handle.reading = false;
}

void cancelRead(Registry& r, Handle& handle) {
    if(handle.reading) endRead(r, handle, ERROR_OPERATION_ABORTED, 0);
}

/* Completes the read with what waits: records, or the point where changes
   were lost (0 bytes, as Windows reports its own overflow). A deleted watched
   directory just goes quiet: the handle keeps it open, so the kernel never
   says it is gone. */
void completeRead(Registry& r, Handle& handle) {
    const Linux::ChangeQueue::Taken taken = handle.changes.take(handle.read.buffer, handle.read.length);
    if(taken.complete) endRead(r, handle, ERROR_SUCCESS, taken.bytes);
}

void completeReads(Registry& r, const std::uint64_t thread, Instance& instance) {
    if(!instance.changed) return;
    instance.changed = false;
    for(Handle* const handle: instance.handles) {
        if(!handle->reading || handle->changes.isEmpty()) continue;
        if(handle->read.thread == thread) completeRead(r, *handle);
        else {
            /* Its thread may be blocked on the kernel instance this wait
               has just emptied */
            instance.changed = true;
            wake(r, handle->read.thread);
        }
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

/* A rename's first half is settled by a wait that reads the kernel again
   soon. One that ends leaves it to the other threads reading the instance,
   which may be asleep on a kernel instance it emptied. */
void handOverFirstHalves(Registry& r, const Pinned& instances) {
    for(Instance* const instance: instances) {
        const std::lock_guard<std::mutex> lock{instance->mutex};
        if(!instance->kernel->awaitsSecondHalf()) continue;
        const std::lock_guard<std::mutex> registryLock{r.mutex};
        wake(r, instance->thread);
        for(const Handle* const handle: instance->handles)
            if(handle->reading) wake(r, handle->read.thread);
    }
}

/* The calling thread's place among the sleepers for the rest of one wait,
   taken before it first blocks. Without a descriptor, as when out of them,
   the wait still ends with its own reads and its time. */
class Alarm {
    public:
        explicit Alarm(Registry& r): _r{r} {}

        ~Alarm() {
            if(_descriptor < 0) return;
            {
                const std::lock_guard<std::mutex> lock{_r.mutex};
                Linux::removeAt(_r.sleepers, *std::find_if(_r.sleepers.begin(), _r.sleepers.end(), [&](const Sleeper& sleeper) {
                    return sleeper.descriptor == _descriptor;
                }));
            }
            close(_descriptor);
        }

        Alarm(const Alarm&) = delete;
        Alarm& operator=(const Alarm&) = delete;

        bool isSet() const { return _set; }

        void set(const std::uint64_t thread) {
            _set = true;
            _descriptor = eventfd(0, EFD_NONBLOCK|EFD_CLOEXEC);
            if(_descriptor < 0) return;
            const std::lock_guard<std::mutex> lock{_r.mutex};
            arrayAppend(_r.sleepers, Sleeper{thread, _descriptor});
        }

        /* Negative, which poll() skips, without one */
        int descriptor() const { return _descriptor; }

        void reset() {
            eventfd_t value;
            eventfd_read(_descriptor, &value);
        }

    private:
        Registry& _r;
        bool _set = false;
        int _descriptor = -1;
};

class Deadline {
    public:
        explicit Deadline(const DWORD milliseconds): _infinite{milliseconds == INFINITE}, _end{Linux::now() + std::int64_t(milliseconds)*1000000} {}

        /* Milliseconds left, rounded up; -1 for no deadline */
        int remaining() const {
            if(_infinite) return -1;
            const std::int64_t left = _end - Linux::now();
            if(left <= 0) return 0;
            return int(std::min<std::int64_t>((left + 999999)/1000000, INT_MAX));
        }

    private:
        bool _infinite;
        std::int64_t _end;
};

}

HANDLE CreateFileA(const char* const fileName, DWORD, DWORD, void*, const DWORD creationDisposition, const DWORD flagsAndAttributes, HANDLE) {
    if(creationDisposition != OPEN_EXISTING) return failOpen(ERROR_INVALID_PARAMETER);
    /* Windows opens a directory only with backup semantics */
    if(!(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) return failOpen(ERROR_ACCESS_DENIED);
    if(!fileName || !*fileName) return failOpen(ERROR_PATH_NOT_FOUND);

    const int root = Linux::System::open(fileName, O_PATH|O_CLOEXEC);
    if(root < 0) return failOpen(openError(fileName, errno));
    struct stat status;
    const DWORD rootError = Linux::System::status(root, status) != 0 ? watchError(errno) :
        S_ISDIR(status.st_mode) ? ERROR_SUCCESS : ERROR_DIRECTORY;
    if(rootError) {
        close(root);
        return failOpen(rootError);
    }

    Registry& r = registry();
    Instance* instance;
    {
        const std::lock_guard<std::mutex> lock{r.mutex};
        instance = findInstance(r, currentThread());
        if(!instance) {
            Containers::Pointer<Linux::InotifyInstance> kernel = Linux::InotifyInstance::open();
            if(!kernel) {
                const DWORD error = instanceError(root, errno);
                close(root);
                return failOpen(error);
            }
            instance = arrayAppend(r.instances, Containers::Pointer<Instance>{new Instance{currentThread(), {}, std::move(kernel), {}}}).get();
        }
        ++instance->users;
    }

    Containers::Pointer<Handle> handle{new Handle};
    handle->instance = instance;
    handle->root = root;
    int error;
    {
        const std::lock_guard<std::mutex> lock{instance->mutex};
        handle->tree.emplace(*instance->kernel, handle->changes, root);
        error = handle->tree->watchRoot();
        if(error) handle->tree = nullptr;
        else instance->kernel->attach(*handle->tree);
    }

    const std::lock_guard<std::mutex> lock{r.mutex};
    if(!error) arrayAppend(instance->handles, handle.get());
    unpin(r, *instance);
    if(error) {
        close(root);
        return failOpen(watchError(error));
    }
    const HANDLE opened = handle.get();
    r.handles.emplace(opened, std::move(handle));
    return opened;
}

BOOL ReadDirectoryChangesW(const HANDLE directory, void* const buffer, const DWORD bufferLength, const BOOL watchSubtree, const DWORD notifyFilter, DWORD*, OVERLAPPED* const overlapped, const LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    if(directory == INVALID_HANDLE_VALUE) return fail(failedOpenError);
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Handle* const d = find(r, directory);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    /* Only the asynchronous whole-subtree read with a completion routine,
       for the changes the watcher asks for */
    if(!overlapped || !completionRoutine || !watchSubtree || (notifyFilter & ~SupportedNotifyFilter))
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    if(!notifyFilter || d->reading || (bufferLength && (!buffer || reinterpret_cast<std::uintptr_t>(buffer) % alignof(DWORD))))
        return fail(ERROR_INVALID_PARAMETER);
    d->read = Read{static_cast<char*>(buffer), bufferLength, overlapped, completionRoutine, currentThread()};
    d->reading = true;
    if(d->read.thread != d->instance->thread) ++r.foreignReads;
    /* As on Windows, changes already waiting complete the read at the next
       alertable wait, which looks over the instance's reads again */
    d->instance->changed = true;
    return TRUE;
}

BOOL CancelIo(const HANDLE file) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Handle* const d = find(r, file);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    if(d->read.thread == currentThread()) cancelRead(r, *d);
    return TRUE;
}

BOOL CancelIoEx(const HANDLE file, OVERLAPPED* const overlapped) {
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock{r.mutex};
    Handle* const d = find(r, file);
    if(!d) return fail(ERROR_INVALID_HANDLE);
    if(!d->reading || (overlapped && overlapped != d->read.overlapped)) return fail(ERROR_NOT_FOUND);
    cancelRead(r, *d);
    return TRUE;
}

BOOL CloseHandle(const HANDLE object) {
    Registry& r = registry();
    Containers::Pointer<Handle> handle;
    {
        const std::lock_guard<std::mutex> lock{r.mutex};
        const auto found = r.handles.find(object);
        if(found == r.handles.end()) return fail(ERROR_INVALID_HANDLE);
        handle = std::move(found->second);
        r.handles.erase(found);
        cancelRead(r, *handle);
        Linux::removeOne(handle->instance->handles, handle.get());
        ++handle->instance->users;
    }

    Instance& instance = *handle->instance;
    {
        const std::lock_guard<std::mutex> lock{instance.mutex};
        instance.kernel->detach(*handle->tree);
        handle->tree = nullptr;
    }
    close(handle->root);
    const std::lock_guard<std::mutex> lock{r.mutex};
    unpin(r, instance);
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
       once per wake-up, so the loop ends. A wait lets poll() say whether
       the kernel has anything, which saves reading it first. */
    Registry& r = registry();
    const std::uint64_t thread = currentThread();
    Alarm alarm{r};
    bool readKernel = !milliseconds, ran = false;
    for(;;) {
        const Pinned instances{r, thread};
        for(Instance* const instance: instances) {
            const std::lock_guard<std::mutex> lock{instance->mutex};
            const bool changed = instance->kernel->read(!readKernel);
            const std::lock_guard<std::mutex> registryLock{r.mutex};
            if(changed) instance->changed = true;
            completeReads(r, thread, *instance);
        }
        readKernel = false;
        if(runCompletions(thread)) {
            ran = true;
            continue;
        }
        const auto end = [&](const DWORD result) {
            handOverFirstHalves(r, instances);
            return result;
        };
        if(ran) return end(WAIT_IO_COMPLETION);
        int remaining = deadline.remaining();
        if(!remaining) return end(0);
        /* Other threads wake the wait from here on; what they did before
           is for one more look */
        if(!alarm.isSet()) {
            alarm.set(thread);
            continue;
        }

        /* A millisecond at most while a rename's first half awaits its
           second, so that a move out of the tree is told soon */
        Containers::Array<pollfd> descriptors;
        arrayAppend(descriptors, pollfd{alarm.descriptor(), POLLIN, 0});
        for(Instance* const instance: instances) {
            const std::lock_guard<std::mutex> lock{instance->mutex};
            arrayAppend(descriptors, pollfd{instance->kernel->descriptor(), POLLIN, 0});
            if(instance->kernel->awaitsSecondHalf()) remaining = 1;
        }
        /* A signal ends the wait as the time running out would, so that the
           caller can look at what the handler did */
        if(poll(descriptors.data(), descriptors.size(), remaining) < 0 && errno == EINTR) return end(0);
        if(descriptors[0].revents) alarm.reset();
        readKernel = true;
    }
}

DWORD GetLastError() {
    return lastError;
}

}}
