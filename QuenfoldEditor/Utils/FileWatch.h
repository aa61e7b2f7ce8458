#ifndef QuenfoldEditor_Utils_FileWatch_h
#define QuenfoldEditor_Utils_FileWatch_h
/** @file
 * @brief Class @ref QuenfoldEngine::FileWatch, debug output of
 *      @ref QuenfoldEngine::FileWatch::Event
 */

#include <cstddef>
#include <cstdint>
#include <functional>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/EnumSet.h>
#include <Corrade/Containers/Pointer.h>

#include "QuenfoldEditor/Utils/visibility.h"

namespace Corrade { namespace Utility { class Debug; } }

namespace QuenfoldEngine {

namespace Implementation { struct FileWatchCompletion; }

/**
@brief Watcher of files and directories

Each watched directory is opened once, however many watches live in it, and
keeps one asynchronous change read open that covers its whole subtree.
Completed reads are decoded into (absolute path, event) pairs, matched
against every watch and queued; @ref update() hands the queue to the
callbacks. A watch on a directory matches every change whose path begins
with the directory's path (a plain byte comparison, so a watch on
@cb{.txt} /a/b @ce also matches @cb{.txt} /a/bc/x @ce when a read reports
it); a watch on a file matches every change whose path begins with the
file's directory and whose last component is the file's name, in
subdirectories too. A change below a watched directory that lies inside
another watched directory is reported by both reads, so it is delivered
twice.

Paths use @cb{.txt} / @ce as the separator. Single-threaded: watch, poll and
destroy on one thread, the thread whose alertable waits run the completions.
Watchers on several threads, each used by its own thread only, may run at
the same time, on the same trees too.
Neither copyable nor movable, since the pending reads hold its address.

@section FileWatch-lost Lost changes

A directory's read can lose changes: on Windows when more changes come
between two reads than its buffer holds, on Linux when the kernel's event
queue of the thread overflows, which loses changes of every directory the
thread watches. By default such a directory goes silent: it reports nothing
more, without a word. With @ref Flag::Resynchronize it reads on instead,
reports what changed meanwhile and prints one warning,
"FileWatch::update(): changes lost in", the directory's path followed by a
comma, "resynchronized with", the number of changes reported and
"differences". A directory that cannot be read any more, deleted for one,
goes silent in either mode.
*/
class QUENFOLDEDITORUTILS_EXPORT FileWatch {
    public:
        /** @brief What happened to a file or a directory */
        enum class Event: std::uint8_t {
            Add = 0,        /**< It appeared */
            Remove = 1,     /**< It disappeared */
            Modify = 2,     /**< It was changed */
            RenameOld = 3,  /**< It was renamed; the path is the old name */
            RenameNew = 4   /**< It was renamed; the path is the new name */
        };

        /** @brief Callback, given the changed file's absolute path and the event */
        typedef std::function<void(Corrade::Containers::StringView, Event)> Callback;

        /** @brief How the watcher behaves */
        enum class Flag: std::uint8_t {
            /**
             * When a directory's read lost changes, read on, and report the
             * difference between what the watcher knew of the tree and the
             * disk as ordinary events through the same callbacks: an
             * @ref Event::Add for each entry that appeared, an
             * @ref Event::Remove for each entry that is gone (those inside a
             * directory before the directory) and an @ref Event::Modify for
             * each file whose size or last-write time changed. The watcher
             * then keeps a snapshot of each watched tree (path, kind, size
             * and last-write time of every entry), taken when the watch
             * begins and kept in step with the events: a watch on a large
             * tree costs a walk of it and memory for each entry.
             */
            Resynchronize = 1 << 0
        };

        /** @brief Set of @ref Flag values */
        typedef Corrade::Containers::EnumSet<Flag> Flags;

        /** @brief Constructor; opens nothing */
        explicit FileWatch(Flags flags = {});

        /**
         * @brief Destructor
         *
         * Calls @ref clear(), waits a bounded time for the cancelled reads
         * to come back, then drops the queued events without calling
         * anything.
         */
        ~FileWatch();

        FileWatch(const FileWatch&) = delete;
        FileWatch(FileWatch&&) = delete;
        FileWatch& operator=(const FileWatch&) = delete;
        FileWatch& operator=(FileWatch&&) = delete;

        /**
         * @brief Watch a file or a directory
         *
         * Returns the watch's id, 1 for the first call and one more for
         * every call after it, or @cpp 0 @ce when nothing was registered: a
         * path that does not exist (silently), or a directory that vanished
         * before it could be opened (with the warning
         * "Directory doesn't exist"). Such a call still consumes its id. A
         * directory that cannot be opened for another reason (permissions,
         * the system's limits), or whose change read cannot be started,
         * prints "ReadDirectoryChangesW failed:" and the system's error code
         * in decimal (on Linux the failed open's own code: 1816 when the
         * system's watch limit is reached, 5 for permissions); its watches
         * stay registered and receive no events.
         */
        int watch(Corrade::Containers::StringView path, Callback callback);

        /** @brief Number of live watches */
        std::size_t size() const;

        /** @brief Flags the watcher was constructed with */
        Flags flags() const { return _flags; }

        /**
         * @brief Remove a watch
         *
         * An id that names no live watch is ignored. Removing the last watch
         * of a directory cancels the directory's read; if the system
         * refuses, prints "FileWatch::remove(): windows error" and its error
         * code.
         */
        void remove(int id);

        /**
         * @brief Cancel every directory read and close the directories
         *
         * Watches, ids and queued events stay. Directories are not read
         * again, not even for new watches in them; changes decoded by the
         * final wait are delivered by the next @ref update(). A cancellation
         * the system refuses prints "FileWatch::clear(): windows error" and
         * its error code.
         */
        void clear();

        /**
         * @brief Run the completed reads and deliver the queued events
         *
         * Calls the callbacks in queue order on the calling thread. A
         * callback may remove any watch, its own included; an exception
         * derived from @cpp std::exception @ce is swallowed. An event queued
         * for a watch position that a removal has since emptied prints the
         * warning "FileWatch::update(): Callback index", the position,
         * "out of range of", the number of watches and "elements". Returns
         * @cpp true @ce when at least one queued event was taken, even if
         * no callback was called. Does not wait: the same as
         * @ref update(std::uint32_t) with @cpp 0 @ce.
         */
        bool update();

        /**
         * @brief Wait for changes, then deliver the queued events
         *
         * Waits alertably until a directory read of the calling thread
         * completes or @p timeoutMilliseconds have passed, whichever comes
         * first, then does what @ref update() does and returns its result.
         * @cpp 0xffffffff @ce waits without a time limit. Returns early, with
         * @cpp false @ce, when the completed read belongs to another watcher
         * of the same thread or reported nothing that a watch matches; on
         * Linux also when a signal interrupts the wait. Nothing runs while
         * nothing changes: the thread sleeps in the system until then.
         */
        bool update(std::uint32_t timeoutMilliseconds);

    private:
        friend Implementation::FileWatchCompletion;

        struct Watch;
        struct Directory;
        struct PendingEvent;
        struct CompletionContext;

        struct DirectoryIndex;

        int getDirectory(Corrade::Containers::StringView directory);
        bool startWatch(std::size_t directoryIndex);
        void resynchronize(std::size_t directoryIndex);
        void releaseRetired(std::size_t directoryIndex);
        void removeInternal(std::size_t position);
        void onChangeCallback(std::size_t directoryIndex);
        void onChangeCallback(Corrade::Containers::ArrayView<Corrade::Containers::Pair<Corrade::Containers::String, Event>> changes);

        Corrade::Containers::Array<Watch> _watches;
        /* Position in _watches by id, -1 for an id without a live watch */
        Corrade::Containers::Array<std::int64_t> _watchIndices;
        int _nextId;
        Corrade::Containers::Array<PendingEvent> _pendingEvents;
        /* Never shrinks, so a position names one directory for the
           watcher's whole life */
        Corrade::Containers::Array<Directory> _directories;
        /* Positions of the directories that are not retired, by path */
        Corrade::Containers::Pointer<DirectoryIndex> _directoryIndex;
        Flags _flags;
};

CORRADE_ENUMSET_OPERATORS(FileWatch::Flags)

/**
@brief Print a file event

Prints @cb{.txt} FileWatch::Event::Modify @ce and so on, and
@cb{.txt} FileWatch::Event::Invalid() @ce for a value that names no event.
*/
QUENFOLDEDITORUTILS_EXPORT Corrade::Utility::Debug& operator<<(Corrade::Utility::Debug& debug, FileWatch::Event value);

}

#endif
