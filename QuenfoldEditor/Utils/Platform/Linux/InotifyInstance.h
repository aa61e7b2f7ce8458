#ifndef QuenfoldEditor_Utils_Platform_Linux_InotifyInstance_h
#define QuenfoldEditor_Utils_Platform_Linux_InotifyInstance_h
/* One inotify instance and the directories it watches for the trees of one
   thread: kernel watches shared by inode and counted per tree, the kernel's
   events read, numbered in the order the kernel queued them and handed to
   the trees by watch descriptor, with the two halves of a rename put back
   together. Private to the Linux backend. */

#include <cstdint>
#include <unordered_map>
#include <sys/inotify.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/Platform/Linux/WatchedTree.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

class InotifyInstance: public DirectorySystem {
    public:
        /* Null, with errno set, when the kernel gives no instance */
        static Corrade::Containers::Pointer<InotifyInstance> open();

        ~InotifyInstance() override;

        InotifyInstance(const InotifyInstance&) = delete;
        InotifyInstance& operator=(const InotifyInstance&) = delete;

        int descriptor() const { return _descriptor; }

        /* Trees are told of overflows and of their events only while
           attached */
        void attach(WatchedTree& tree);
        void detach(WatchedTree& tree);

        /* Reads what the kernel has queued, a bounded amount, and hands each
           event to the trees that watch its directory; with onlyIfQueued,
           only when a fence has read events already. Returns whether any
           tree may have new changes. */
        bool read(bool onlyIfQueued);

        /* A rename's first half waits for its second, which the kernel
           queues separately: the next read should come soon */
        bool awaitsSecondHalf() const { return bool(_firstHalf); }

        std::uint64_t fence() override;
        int open(int directory, Corrade::Containers::StringView name) override;
        void close(int directory) override;
        Identity identity(int directory) override;
        bool list(int directory, Corrade::Containers::Array<Entry>& entries) override;
        bool lastWriteSetNow(int directory, Corrade::Containers::StringView name) override;
        int acquireWatch(int directory, WatchedTree& user) override;
        void releaseWatch(int watch, WatchedTree& user) override;

    private:
        /* A copy, since handling an event can read more of them */
        struct Event {
            std::uint64_t sequence;
            int watch;
            std::uint32_t mask, cookie;
            Corrade::Containers::String name;

            Place place() const { return {sequence, watch, name}; }
        };

        struct FirstHalf {
            Event event;
            /* When a read first found the queue empty behind it, 0 before */
            std::int64_t aloneSince;
        };

        explicit InotifyInstance(int descriptor);

        bool readKernel();
        bool next(Event& event);
        void dispatch(const Event& event);
        void dispatchMove(const Event& from, const Event* to);
        void settleFirstHalf();
        void queueEmpty();
        void touch(WatchedTree& tree);

        int _descriptor;
        std::unordered_map<int, Corrade::Containers::Array<WatchedTree*>> _users;
        Corrade::Containers::Array<WatchedTree*> _trees;
        /* Trees given events since they last caught up */
        Corrade::Containers::Array<WatchedTree*> _touched;
        /* The trees an event is for, kept from one event to the next so
           that handling one allocates nothing */
        Corrade::Containers::Array<WatchedTree*> _recipients;
        Corrade::Containers::Optional<FirstHalf> _firstHalf;
        /* Events read from the kernel and not handled yet, as it wrote them,
           from _queueBegin on */
        Corrade::Containers::Array<char> _queue;
        std::size_t _queueBegin = 0;
        /* Numbers of the next event to read from the kernel and of the next
           one to handle */
        std::uint64_t _read = 0, _handled = 0;
        bool _changed = false;
};

}}}

#endif
