#ifndef QuenfoldEditor_Utils_Platform_Linux_WatchedTree_h
#define QuenfoldEditor_Utils_Platform_Linux_WatchedTree_h
/* The model of one watched directory tree: its directories by kernel watch,
   kept in step with the kernel's events, which it turns into the changes
   Windows reports for the tree. It knows nothing of inotify itself: the
   kernel and the file system are reached through DirectorySystem, so that a
   test can stand in for both. Private to the Linux backend. */

#include <cstddef>
#include <cstdint>
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

        /* The directory at name in the open directory, or the directory
           itself again for an empty name, never through a symbolic link;
           -1 when there is no such directory */
        virtual int open(int directory, Corrade::Containers::StringView name) = 0;
        virtual void close(int directory) = 0;
        virtual Identity identity(int directory) = 0;
        /* Every entry but . and .., appended; false when unreadable */
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

class WatchedTree {
    public:
        /* No watch yet: the tree starts with watchRoot() */
        explicit WatchedTree(DirectorySystem& system, ChangeQueue& changes, int rootDirectory);

        /* Releases every watch */
        ~WatchedTree();

        WatchedTree(const WatchedTree&) = delete;
        WatchedTree& operator=(const WatchedTree&) = delete;

        /* Watches the root and every directory below it, reporting nothing.
           Returns 0, or the errno that kept the root from being watched or
           that ended the kernel's watches (ENOSPC). */
        int watchRoot();

        /* Kernel events, by the watch of the directory they happened in and
           the entry's name */
        void created(int watch, Corrade::Containers::StringView name, bool isDirectory);
        void removed(int watch, Corrade::Containers::StringView name, bool isDirectory);
        void modified(int watch, Corrade::Containers::StringView name, bool attributesOnly);
        /* A move, with -1 for the side this tree does not watch: a move into
           the tree or out of it */
        void moved(int fromWatch, Corrade::Containers::StringView fromName, int toWatch, Corrade::Containers::StringView toName, bool isDirectory);
        /* The kernel dropped the watch: its directory is gone */
        void watchLost(int watch);
        /* The kernel dropped events */
        void overflowed();
        /* Every event queued so far has been handled: scans cannot be
           overtaken by an event any more, and directories that could not be
           reached are tried again */
        void caughtUp();

        bool isRootGone() const { return _rootGone; }
        /* Directories of the tree with a kernel watch, the root included */
        std::size_t watchCount() const { return _nodeByWatch.size(); }

    private:
        struct Node;

        std::size_t addNode(std::size_t parent, Corrade::Containers::StringView name);
        void dropNode(std::size_t node);
        void moveNode(std::size_t node, std::size_t parent, Corrade::Containers::StringView name);
        bool isAncestor(std::size_t ancestor, std::size_t node) const;
        std::size_t nodeOfWatch(int watch) const;
        std::size_t child(std::size_t node, Corrade::Containers::StringView name) const;
        Corrade::Containers::String path(std::size_t node) const;
        Corrade::Containers::String path(std::size_t parent, Corrade::Containers::StringView name) const;
        int openNode(std::size_t node);
        void record(DWORD action, std::size_t parent, Corrade::Containers::StringView name);
        void recordEntry(DWORD action, std::size_t parent, Corrade::Containers::StringView name);
        void addDirectory(std::size_t parent, Corrade::Containers::StringView name);
        void reach(std::size_t node);
        enum class Found { Same, Other, Unknown };
        Found whatIsAt(std::size_t node, std::size_t parent, Corrade::Containers::StringView name);
        int watchNode(std::size_t node, int directory, bool report);
        int scan(std::size_t node, int directory, bool report);
        bool wasScanned(int watch, Corrade::Containers::StringView name);

        DirectorySystem& _system;
        ChangeQueue& _changes;
        int _rootDirectory;
        /* Index 0 is the root; freed indices are reused */
        Corrade::Containers::Array<Node> _nodes;
        Corrade::Containers::Array<std::size_t> _freeNodes;
        std::unordered_map<int, std::size_t> _nodeByWatch;
        /* Directories that could not be reached when they appeared, to try
           again once the events have caught up */
        std::unordered_set<std::size_t> _unreached;
        /* Directories that a scan found under another name, by the node the
           tree has for them, to the node of the name they were found at */
        std::unordered_map<std::size_t, std::size_t> _movedTo;
        /* Entries a scan reported, by the watch of their directory and their
           name: their own creation event may still be queued behind the
           scan, and must not report them twice */
        std::unordered_set<std::string> _scanned;
        bool _rootGone = false;
};

}}}

#endif
