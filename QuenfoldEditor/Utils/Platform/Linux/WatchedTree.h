#ifndef QuenfoldEditor_Utils_Platform_Linux_WatchedTree_h
#define QuenfoldEditor_Utils_Platform_Linux_WatchedTree_h
/* The model of one watched directory tree: its directories by kernel watch,
   kept in step with the kernel's events, which it turns into the changes
   Windows reports for the tree. It knows nothing of inotify itself: the
   kernel and the file system are reached through DirectorySystem, so that a
   test can stand in for both. Private to the Linux backend. */

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

class ChangeQueue;
class WatchedTree;

/* Where a kernel event happened: its number in the order the kernel queued
   the events, the watch of the directory, -1 for one not watched, and the
   name of the entry */
struct Place {
    std::uint64_t sequence;
    int watch;
    Corrade::Containers::StringView name;
};

/* What the tree needs of the system. Directories are named by descriptors
   that the tree opens and closes through it. */
class DirectorySystem {
    public:
        struct Identity {
            std::uint64_t device, inode;
            bool operator==(const Identity& other) const { return device == other.device && inode == other.inode; }
        };

        struct Entry {
            Corrade::Containers::String name;
            bool isDirectory;
        };

        virtual ~DirectorySystem() = default;

        /* The number the next event queued gets: every event queued before
           the call has a lower one */
        virtual std::uint64_t fence() = 0;
        /* The directory at name in the open directory, its parent for
           "..", or the directory itself again for an empty name, never
           through a symbolic link; -1 with errno set when it cannot be
           opened */
        virtual int open(int directory, Corrade::Containers::StringView name) = 0;
        virtual void close(int directory) = 0;
        virtual Identity identity(int directory) = 0;
        /* Every entry but . and .., appended; false with errno set when
           unreadable */
        virtual bool list(int directory, Corrade::Containers::Array<Entry>& entries) = 0;
        /* Whether the entry's last-write time was just set to now, which is
           what an attribute change must have been to count as a write */
        virtual bool lastWriteSetNow(int directory, Corrade::Containers::StringView name) = 0;
        /* The kernel watch of the open directory, shared by every tree that
           watches the same directory and counted once per tree; -1 with
           errno set on failure */
        virtual int acquireWatch(int directory, WatchedTree& user) = 0;
        virtual void releaseWatch(int watch, WatchedTree& user) = 0;
};

/* Events describe the past and listings the present. A directory's listing
   overtakes the events of its watch queued before it, which are ignored, so
   that what is reported of the directory is either what happened in it, with
   the path it had then, or what is in it now, but never both mixed. And a
   directory that appears is listed once the events have caught up, when the
   path the tree has for it is the one it has now. A directory moved where
   the tree has no watch may still be in it, below a directory not listed
   yet: it is told gone once a listing found it elsewhere, or the events
   have caught up, or a directory above it moves, so that a reader never
   takes its leaving and its coming back for a move that kept what it held,
   and always by the path it left from. */
class WatchedTree {
    public:
        /* No watch yet: the tree starts with watchRoot(). The root
           directory stays open while the tree lives, which keeps the kernel
           from ever dropping its watch, even once it is deleted. */
        explicit WatchedTree(DirectorySystem& system, ChangeQueue& changes, int rootDirectory);

        /* Releases every watch */
        ~WatchedTree();

        WatchedTree(const WatchedTree&) = delete;
        WatchedTree& operator=(const WatchedTree&) = delete;

        /* Watches the root and every directory below it, reporting nothing.
           Returns 0, or the errno that kept the root from being watched or a
           directory from being watched or listed: the kernel's watches
           (ENOSPC), the process's descriptors or memory running out. */
        int watchRoot();

        /* Kernel events */
        void created(const Place& place, bool isDirectory);
        void removed(const Place& place, bool isDirectory);
        void modified(const Place& place, bool attributesOnly);
        /* With a watch of -1 for the side outside the tree: a move into the
           tree or out of it */
        void moved(const Place& from, const Place& to, bool isDirectory);
        /* The kernel dropped the watch of a directory below the root: it
           is gone */
        void watchLost(int watch);
        /* The kernel dropped events: the reader is told, and the tree is
           walked again once the events have caught up, so that directories
           that came or went meanwhile are watched or dropped and what
           happens from then on is heard of */
        void overflowed();
        /* Every event queued so far has been handled, but for the first
           half of a rename if it still waits for its second: directories
           that appeared are watched and listed, those that could not be
           reached are tried again */
        void caughtUp(bool renameHalfWaits);

        /* Directories of the tree with a kernel watch, the root included */
        std::size_t watchCount() const { return _nodeByWatch.size(); }

    private:
        struct Node;

        std::size_t addNode(std::size_t parent, Corrade::Containers::StringView name);
        void dropNode(std::size_t top);
        void moveNode(std::size_t node, std::size_t parent, Corrade::Containers::StringView name);
        void setWatch(std::size_t node, int watch, int directory);
        bool isAncestor(std::size_t ancestor, std::size_t node) const;
        std::size_t nodeOf(const Place& place) const;
        std::size_t child(std::size_t node, Corrade::Containers::StringView name) const;
        Corrade::Containers::String path(std::size_t node) const;
        Corrade::Containers::String path(std::size_t parent, Corrade::Containers::StringView name) const;
        int openNode(std::size_t node);
        int reopen(std::size_t node, int subdirectory);
        bool isDeparted(std::size_t node) const;
        void depart(std::size_t node);
        void leave(std::size_t node);
        void leaveBelow(std::size_t node);
        std::size_t departedChild(std::size_t parent, Corrade::Containers::StringView name) const;
        void vacate(std::size_t parent, Corrade::Containers::StringView name);
        void comeBack(std::size_t node);
        void record(DWORD action, std::size_t parent, Corrade::Containers::StringView name);
        void recordEntry(DWORD action, std::size_t parent, Corrade::Containers::StringView name);
        void appeared(std::size_t parent, Corrade::Containers::StringView name);
        void reach(std::size_t node);
        std::size_t place(std::size_t parent, Corrade::Containers::StringView name, int directory, bool report, std::size_t top, int& error);
        void defer(std::size_t parent, Corrade::Containers::StringView name, std::uint64_t listing);
        int list(std::size_t top, int topDirectory, bool report);
        bool wasListed(const Place& place);

        DirectorySystem& _system;
        ChangeQueue& _changes;
        int _rootDirectory;
        /* Index 0 is the root; freed indices are reused */
        Corrade::Containers::Array<Node> _nodes;
        Corrade::Containers::Array<std::size_t> _freeNodes;
        std::unordered_map<int, std::size_t> _nodeByWatch;
        /* Directories that appeared, lost their watch, came back or that a
           listing could not go into, to watch and list once the events have
           caught up, in a repeatable order */
        std::set<std::size_t> _unreached;
        /* Directories moved where the tree has no watch, whose events are
           ignored, to tell gone before the tree moves a directory above
           them or once the events have caught up, unless a listing found
           them */
        std::set<std::size_t> _departed;
        /* Entries a listing reported while events came in: their own
           creation may be among those events, and must not report them
           twice */
        std::unordered_set<std::string> _listed;
        /* Directories that a listing found somewhere else than the events
           so far had them and moved there, by the entry the events still
           have them as: the events that take them away from there are told
           already */
        std::unordered_set<std::string> _adopted;
        /* Counts the listings, so that each can tell what it found */
        std::uint64_t _listings = 0;
        /* Events were dropped since the tree was last walked */
        bool _overflowed = false;
};

}}}

#endif
