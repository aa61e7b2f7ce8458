#include "QuenfoldEditor/Utils/Implementation/TreeSnapshot.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Path.h>

namespace QuenfoldEngine { namespace Implementation {

using namespace Corrade;
namespace fs = std::filesystem;

namespace {

/* The directory of an entry that is a file */
constexpr std::uint32_t NoDirectory = ~std::uint32_t{};
constexpr std::uint32_t EmptySlot = ~std::uint32_t{};
/* The size of an entry that was gone before it could be looked at, which
   no file on disk has */
constexpr std::uint64_t UnknownSize = ~std::uint64_t{};

std::size_t hashOf(const Containers::StringView name) {
    return std::hash<std::string_view>{}(std::string_view{name.data(), name.size()});
}

/* Paths are UTF-8, which Windows' narrow file names are not */
fs::path nativePath(const Containers::StringView path) {
    return fs::u8path(path.begin(), path.end());
}

struct OnDisk {
    Containers::String name;
    bool isDirectory;
    std::uint64_t size;
    std::int64_t modified;
};

/* Never through a symbolic link, which could lead out of the tree or round
   in circles; a link is told about as a file, by what it points to */
template<class Entry> void lookAt(const Entry& entry, const fs::file_status status, OnDisk& out) {
    std::error_code error;
    out.isDirectory = fs::is_directory(status);
    out.size = out.isDirectory ? 0 : std::uint64_t(entry.file_size(error));
    if(error) out.size = 0;
    const fs::file_time_type modified = entry.last_write_time(error);
    out.modified = out.isDirectory || error ? 0 : std::int64_t(modified.time_since_epoch().count());
}

/* What is at path now; false when nothing is */
bool lookAt(const Containers::StringView path, OnDisk& out) {
    std::error_code error;
    const fs::directory_entry entry{nativePath(path), error};
    const fs::file_status status = entry.symlink_status(error);
    if(error || !fs::exists(status)) return false;
    lookAt(entry, status, out);
    return true;
}

/* The entries of the directory, by name; false when it cannot be listed */
bool list(const Containers::StringView path, Containers::Array<OnDisk>& out) {
    std::error_code error;
    fs::directory_iterator i{nativePath(path), error};
    for(; !error && i != fs::directory_iterator{}; i.increment(error)) {
        std::error_code entryError;
        const fs::file_status status = i->symlink_status(entryError);
        if(entryError) continue;
        const std::string name = i->path().filename().u8string();
        OnDisk& entry = arrayAppend(out, OnDisk{Containers::String{name.data(), name.size()}, false, 0, 0});
        lookAt(*i, status, entry);
    }
    if(error) return false;
    std::sort(out.begin(), out.end(), [](const OnDisk& a, const OnDisk& b) { return a.name < b.name; });
    return true;
}

}

struct TreeSnapshot::Entry {
    /* Empty once taken out: names never are */
    Containers::String name;
    std::uint64_t size;
    std::int64_t modified;
    std::uint32_t directory;
    /* By the resynchronization in progress, as the same kind */
    bool seen;
};

/* Entries in the order they came, those taken out among them until the next
   rehash, found by name through an open-addressing table of their
   positions, at most half full */
struct TreeSnapshot::Directory {
    Containers::Array<Entry> entries;
    Containers::Array<std::uint32_t> slots;
    std::uint32_t live;
};

TreeSnapshot::TreeSnapshot(const Containers::StringView root): _root{root} {
    newDirectory();
    compare(nullptr);
}

TreeSnapshot::~TreeSnapshot() = default;

std::uint32_t TreeSnapshot::newDirectory() {
    if(!_freeDirectories.isEmpty()) {
        const std::uint32_t directory = _freeDirectories.back();
        arrayRemoveSuffix(_freeDirectories, 1);
        return directory;
    }
    arrayAppend(_directories, Directory{{}, {}, 0});
    return std::uint32_t(_directories.size() - 1);
}

/* With everything below it, however deep */
void TreeSnapshot::dropDirectory(const std::uint32_t top) {
    Containers::Array<std::uint32_t> dropping;
    arrayAppend(dropping, top);
    while(!dropping.isEmpty()) {
        const std::uint32_t directory = dropping.back();
        arrayRemoveSuffix(dropping, 1);
        Directory& dropped = _directories[directory];
        _size -= dropped.live;
        for(const Entry& entry: dropped.entries)
            if(!entry.name.isEmpty() && entry.directory != NoDirectory) arrayAppend(dropping, entry.directory);
        dropped = Directory{{}, {}, 0};
        arrayAppend(_freeDirectories, directory);
    }
}

TreeSnapshot::Entry* TreeSnapshot::find(const std::uint32_t directory, const Containers::StringView name) {
    Directory& in = _directories[directory];
    if(in.slots.isEmpty()) return nullptr;
    const std::size_t mask = in.slots.size() - 1;
    for(std::size_t slot = hashOf(name) & mask; in.slots[slot] != EmptySlot; slot = (slot + 1) & mask) {
        Entry& entry = in.entries[in.slots[slot]];
        if(entry.name == name) return &entry;
    }
    return nullptr;
}

/* The name must not be there yet */
TreeSnapshot::Entry& TreeSnapshot::insert(const std::uint32_t directory, Entry&& entry) {
    /* Room for the new entry and its slot, the table staying half empty;
       what was taken out goes then */
    if(2*(_directories[directory].entries.size() + 1) > _directories[directory].slots.size()) {
        std::size_t slotCount = 8;
        while(slotCount < 3*(std::size_t{_directories[directory].live} + 1)) slotCount *= 2;
        rehash(directory, slotCount);
    }

    Directory& in = _directories[directory];
    const std::size_t mask = in.slots.size() - 1;
    std::size_t slot = hashOf(entry.name) & mask;
    while(in.slots[slot] != EmptySlot) slot = (slot + 1) & mask;
    in.slots[slot] = std::uint32_t(in.entries.size());
    ++in.live;
    ++_size;
    return arrayAppend(in.entries, std::move(entry));
}

/* Its slot stays, leading on to the slots after it, until the next rehash */
TreeSnapshot::Entry TreeSnapshot::take(const std::uint32_t directory, Entry& entry) {
    Entry taken{std::exchange(entry.name, Containers::String{}), entry.size, entry.modified, entry.directory, entry.seen};
    --_directories[directory].live;
    --_size;
    return taken;
}

/* Taken out with everything below it */
void TreeSnapshot::discard(const std::uint32_t directory, Entry& entry) {
    const Entry taken = take(directory, entry);
    if(taken.directory != NoDirectory) dropDirectory(taken.directory);
}

void TreeSnapshot::rehash(const std::uint32_t directory, const std::size_t slotCount) {
    Directory& in = _directories[directory];
    Containers::Array<Entry> entries;
    arrayReserve(entries, in.live + 1);
    for(Entry& entry: in.entries)
        if(!entry.name.isEmpty()) arrayAppend(entries, std::move(entry));
    in.entries = std::move(entries);
    in.slots = Containers::Array<std::uint32_t>{NoInit, slotCount};
    std::fill(in.slots.begin(), in.slots.end(), EmptySlot);
    for(std::size_t i = 0; i != in.entries.size(); ++i) {
        std::size_t slot = hashOf(in.entries[i].name) & (slotCount - 1);
        while(in.slots[slot] != EmptySlot) slot = (slot + 1) & (slotCount - 1);
        in.slots[slot] = std::uint32_t(i);
    }
}

/* The directory holding the last component of path, which goes to name.
   Missing directories on the way are made with create, as the change
   implies them; NoDirectory without. */
std::uint32_t TreeSnapshot::parentOf(const Containers::StringView path, const bool create, Containers::StringView& name) {
    std::uint32_t directory = 0;
    Containers::StringView rest = path;
    for(const char* slash; (slash = static_cast<const char*>(std::memchr(rest.data(), '/', rest.size()))); ) {
        const Containers::StringView component = rest.prefix(slash - rest.data());
        rest = rest.exceptPrefix(component.size() + 1);
        Entry* const entry = find(directory, component);
        if(entry && entry->directory != NoDirectory) {
            directory = entry->directory;
            continue;
        }
        if(!create) return NoDirectory;
        if(entry) take(directory, *entry);
        const std::uint32_t made = newDirectory();
        insert(directory, Entry{component, 0, 0, made, false});
        directory = made;
    }
    name = rest;
    return directory;
}

void TreeSnapshot::dropTaken() {
    if(_taken.isEmpty()) return;
    if(_taken[0].directory != NoDirectory) dropDirectory(_taken[0].directory);
    _taken = {};
}

void TreeSnapshot::apply(const Containers::StringView path, const FileWatch::Event event) {
    /* A rename's halves come one right after the other. A move between
       directories comes as a Remove and an Add of the same name, maybe with
       the Modify of a directory between, and the reader takes the directory
       to keep what it held: so does the snapshot, or a resynchronization
       would leave the reader with entries long gone. */
    const bool keepsTaken = _takenBy == FileWatch::Event::RenameOld ? event == FileWatch::Event::RenameNew :
        event == FileWatch::Event::Add || event == FileWatch::Event::Modify;
    if(!keepsTaken) dropTaken();

    Containers::StringView name;
    const bool adds = event == FileWatch::Event::Add || event == FileWatch::Event::RenameNew;
    const std::uint32_t directory = parentOf(path, adds, name);
    if(directory == NoDirectory || name.isEmpty()) return;
    Entry* const existing = find(directory, name);

    if(event == FileWatch::Event::Remove || event == FileWatch::Event::RenameOld) {
        if(!existing) return;
        Entry taken = take(directory, *existing);
        if(event == FileWatch::Event::RenameOld || taken.directory != NoDirectory) {
            arrayAppend(_taken, std::move(taken));
            _takenBy = event;
        }
        return;
    }

    /* The entry renamed or moved here keeps what was below it */
    if(adds && !_taken.isEmpty() && (event == FileWatch::Event::RenameNew || _taken[0].name == name)) {
        Entry moved = std::move(_taken[0]);
        _taken = {};
        if(existing) discard(directory, *existing);
        moved.name = Containers::String{name};
        insert(directory, std::move(moved));
        return;
    }
    if(adds) dropTaken();

    OnDisk found{{}, existing && existing->directory != NoDirectory, UnknownSize, 0};
    const bool there = lookAt(Utility::Path::join(_root, path), found);
    if(event == FileWatch::Event::Modify) {
        if(existing && there && existing->directory == NoDirectory && !found.isDirectory) {
            existing->size = found.size;
            existing->modified = found.modified;
        }
        return;
    }

    /* Added, or added again as the same kind: a directory keeps what it
       holds */
    if(existing && (existing->directory != NoDirectory) == found.isDirectory) {
        if(!found.isDirectory) {
            existing->size = there ? found.size : UnknownSize;
            existing->modified = found.modified;
        }
        return;
    }
    if(existing) discard(directory, *existing);
    const std::uint32_t below = found.isDirectory ? newDirectory() : NoDirectory;
    insert(directory, Entry{name, found.size, found.modified, below, false});
}

bool TreeSnapshot::resynchronize(Changes& changes) {
    return compare(&changes);
}

/* Reports the differences to changes unless it is null, as when the
   snapshot is first taken */
bool TreeSnapshot::compare(Changes* const changes) {
    Containers::Array<OnDisk> onDisk;
    if(!list(_root, onDisk)) return false;
    dropTaken();

    const auto report = [&](const Containers::StringView relative, const FileWatch::Event event) {
        if(changes) arrayAppend(*changes, InPlaceInit, Utility::Path::join(_root, relative), event);
    };

    /* Directories still to compare, by index and path below the root */
    Containers::Array<Containers::Pair<std::uint32_t, Containers::String>> pending;
    arrayAppend(pending, InPlaceInit, 0u, Containers::String{});
    for(bool first = true; !pending.isEmpty(); first = false) {
        const std::uint32_t directory = pending.back().first();
        const Containers::String relative = std::move(pending.back().second());
        arrayRemoveSuffix(pending, 1);
        /* One that cannot be listed any more keeps what it had: its own
           parent's listing, or the next resynchronization, tells */
        if(!first) {
            arrayRemoveSuffix(onDisk, onDisk.size());
            if(!list(Utility::Path::join(_root, relative), onDisk)) continue;
        }

        for(Entry& entry: _directories[directory].entries) entry.seen = false;
        for(const OnDisk& found: onDisk)
            if(Entry* const entry = find(directory, found.name))
                entry->seen = (entry->directory != NoDirectory) == found.isDirectory;

        /* Gone, or there as the other kind: reported with what was below,
           deepest first, and dropped */
        Containers::Array<Containers::String> gone;
        for(const Entry& entry: _directories[directory].entries) {
            if(entry.name.isEmpty() || entry.seen) continue;
            arrayAppend(gone, Utility::Path::join(relative, entry.name));
            Containers::Array<Containers::Pair<std::uint32_t, Containers::String>> below;
            if(entry.directory != NoDirectory) arrayAppend(below, InPlaceInit, entry.directory, Utility::Path::join(relative, entry.name));
            while(!below.isEmpty()) {
                const Containers::Pair<std::uint32_t, Containers::String> next = std::move(below.back());
                arrayRemoveSuffix(below, 1);
                for(const Entry& inside: _directories[next.first()].entries) {
                    if(inside.name.isEmpty()) continue;
                    arrayAppend(gone, Utility::Path::join(next.second(), inside.name));
                    if(inside.directory != NoDirectory) arrayAppend(below, InPlaceInit, inside.directory, Utility::Path::join(next.second(), inside.name));
                }
            }
        }
        std::sort(gone.begin(), gone.end(), [](const Containers::String& a, const Containers::String& b) { return b < a; });
        for(const Containers::String& path: gone) report(path, FileWatch::Event::Remove);
        for(Entry& entry: _directories[directory].entries)
            if(!entry.name.isEmpty() && !entry.seen) discard(directory, entry);

        /* New, or changed; directories to compare next, in name order */
        const std::size_t firstBelow = pending.size();
        for(const OnDisk& found: onDisk) {
            const Containers::String path = Utility::Path::join(relative, found.name);
            Entry* const entry = find(directory, found.name);
            if(!entry) {
                report(path, FileWatch::Event::Add);
                const std::uint32_t below = found.isDirectory ? newDirectory() : NoDirectory;
                insert(directory, Entry{found.name, found.size, found.modified, below, true});
                if(found.isDirectory) arrayAppend(pending, InPlaceInit, below, path);
            } else if(entry->directory != NoDirectory) {
                arrayAppend(pending, InPlaceInit, entry->directory, path);
            } else if(entry->size != found.size || entry->modified != found.modified) {
                report(path, FileWatch::Event::Modify);
                entry->size = found.size;
                entry->modified = found.modified;
            }
        }
        std::reverse(pending.begin() + firstBelow, pending.end());
        arrayShrink(_directories[directory].entries);
    }
    return true;
}

}}
