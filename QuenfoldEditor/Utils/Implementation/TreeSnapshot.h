#ifndef QuenfoldEditor_Utils_Implementation_TreeSnapshot_h
#define QuenfoldEditor_Utils_Implementation_TreeSnapshot_h
/* What a resynchronizing watcher knows of one watched tree: every entry
   below the root, directory or file, and of a file its size and last-write
   time. Taken from the disk when the watch begins and kept in step with
   every change reported since, it is the tree as the reader knows it; so
   when changes were lost, its difference with the disk is exactly what the
   reader was not told. Private to the library. */

#include <cstddef>
#include <cstdint>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/FileWatch.h"

namespace QuenfoldEngine { namespace Implementation {

class TreeSnapshot {
    public:
        /* Full paths and events, as a decoded read gives them */
        typedef Corrade::Containers::Array<Corrade::Containers::Pair<Corrade::Containers::String, FileWatch::Event>> Changes;

        /* Everything below root as it is on disk now, nothing if root
           cannot be listed */
        explicit TreeSnapshot(Corrade::Containers::StringView root);

        ~TreeSnapshot();

        TreeSnapshot(const TreeSnapshot&) = delete;
        TreeSnapshot& operator=(const TreeSnapshot&) = delete;

        /* A change told to the reader, at a path relative to the root with
           '/' between components. What is added or modified is looked at on
           disk now; a rename's halves are put together. */
        void apply(Corrade::Containers::StringView path, FileWatch::Event event);

        /* Appends to changes, with full paths, an Add for each entry on disk
           that the snapshot has not, a Remove for each one it has that is
           gone (those inside a directory before the directory) and a Modify
           for each file whose size or last-write time differs, then holds
           what is on disk. False, with nothing appended and nothing changed,
           when the root cannot be listed any more. */
        bool resynchronize(Changes& changes);

        /* Entries below the root */
        std::size_t size() const { return _size; }

    private:
        struct Entry;
        struct Directory;

        std::uint32_t newDirectory();
        void dropDirectory(std::uint32_t directory);
        Entry* find(std::uint32_t directory, Corrade::Containers::StringView name);
        Entry& insert(std::uint32_t directory, Entry&& entry);
        Entry take(std::uint32_t directory, Entry& entry);
        void discard(std::uint32_t directory, Entry& entry);
        void rehash(std::uint32_t directory, std::size_t slotCount);
        bool compare(Changes* changes);
        std::uint32_t parentOf(Corrade::Containers::StringView path, bool create, Corrade::Containers::StringView& name);
        void dropTaken();

        Corrade::Containers::String _root;
        /* Index 0 is the root; freed indices are reused */
        Corrade::Containers::Array<Directory> _directories;
        Corrade::Containers::Array<std::uint32_t> _freeDirectories;
        /* The first half of a rename waiting for its second, or a directory
           removed that an addition of the same name may take to be moved
           there, with what was below it; none when empty */
        Corrade::Containers::Array<Entry> _taken;
        FileWatch::Event _takenBy{};
        std::size_t _size = 0;
};

}}

#endif
