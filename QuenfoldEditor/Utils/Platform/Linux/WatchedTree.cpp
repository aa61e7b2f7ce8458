#include "QuenfoldEditor/Utils/Platform/Linux/WatchedTree.h"

#include <cerrno>
#include <iterator>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/StringIterable.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

namespace {

constexpr std::size_t NoNode = ~std::size_t{};

std::string key(const Containers::StringView name) {
    return {name.data(), name.size()};
}

/* Out of descriptors or memory: what cannot be watched or listed for that
   has its changes lost */
bool isShortage(const int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

/* A descriptor closed by its last owner, whatever happens in between */
class OpenDirectory {
    public:
        /* None */
        OpenDirectory() = default;
        explicit OpenDirectory(DirectorySystem& system, const int descriptor): _system{&system}, _descriptor{descriptor} {}
        ~OpenDirectory() { if(_descriptor >= 0) _system->close(_descriptor); }
        OpenDirectory(const OpenDirectory&) = delete;
        OpenDirectory(OpenDirectory&& other) noexcept: _system{other._system}, _descriptor{std::exchange(other._descriptor, -1)} {}
        OpenDirectory& operator=(const OpenDirectory&) = delete;
        /* The descriptor replaced goes with the other */
        OpenDirectory& operator=(OpenDirectory&& other) noexcept {
            std::swap(_system, other._system);
            std::swap(_descriptor, other._descriptor);
            return *this;
        }
        operator int() const { return _descriptor; }
        /* For the caller to close */
        int release() { return std::exchange(_descriptor, -1); }

    private:
        DirectorySystem* _system{};
        int _descriptor = -1;
};

/* A directory being listed: what the listing found and how far the walk
   has gone through it */
struct Listing {
    std::size_t node;
    std::uint64_t number;
    bool eventsCameMeanwhile;
    Containers::Array<DirectorySystem::Entry> entries;
    std::size_t next;
    /* None for the first, whose directory is the caller's; the others'
       are closed while the walk is two directories further down */
    OpenDirectory directory;
};

/* A directory entry by the watch of its directory and its name */
std::string entryKey(const int watch, const Containers::StringView name) {
    std::string out = std::to_string(watch);
    out += '/';
    out.append(name.data(), name.size());
    return out;
}

}

struct WatchedTree::Node {
    Containers::String name;
    /* NoNode while being moved */
    std::size_t parent;
    /* -1 while the directory has no kernel watch of this tree */
    int watch;
    /* Known once the directory was opened; a directory that another took
       the place of is never mistaken for it */
    bool hasIdentity;
    DirectorySystem::Identity identity;
    /* Events of its watch numbered below this were overtaken by its last
       listing */
    std::uint64_t listedFrom;
    /* The last listing of its parent that found it there */
    std::uint64_t foundBy;
    std::unordered_map<std::string, std::size_t> children;
    bool departed;
};

WatchedTree::WatchedTree(DirectorySystem& system, ChangeQueue& changes, const int rootDirectory): _system(system), _changes(changes), _rootDirectory{rootDirectory} {
    arrayAppend(_nodes, Node{{}, NoNode, -1, false, {}, 0, 0, {}, false});
}

WatchedTree::~WatchedTree() {
    for(const auto& watched: _nodeByWatch) _system.releaseWatch(watched.first, *this);
}

int WatchedTree::watchRoot() {
    const OpenDirectory root{_system, _system.open(_rootDirectory, {})};
    if(root < 0) return errno ? errno : ENOENT;
    const int watch = _system.acquireWatch(root, *this);
    if(watch < 0) return errno;
    setWatch(0, watch, root);
    return list(0, root, false);
}

/* In place of a directory of that name the tree had there */
std::size_t WatchedTree::addNode(const std::size_t parent, const Containers::StringView name) {
    const std::size_t replaced = child(parent, name);
    if(replaced != NoNode) dropNode(replaced);
    std::size_t node;
    if(_freeNodes.isEmpty()) {
        node = _nodes.size();
        arrayAppend(_nodes, Node{});
    } else {
        node = _freeNodes.back();
        arrayRemoveSuffix(_freeNodes, 1);
    }
    _nodes[node] = Node{name, parent, -1, false, {}, 0, 0, {}, false};
    _nodes[parent].children.emplace(key(name), node);
    return node;
}

/* With everything below it, however deep; the root is never dropped */
void WatchedTree::dropNode(const std::size_t top) {
    if(_nodes[top].parent != NoNode) _nodes[_nodes[top].parent].children.erase(key(_nodes[top].name));
    Containers::Array<std::size_t> dropping;
    arrayAppend(dropping, top);
    while(!dropping.isEmpty()) {
        const std::size_t node = dropping.back();
        arrayRemoveSuffix(dropping, 1);
        Node& dropped = _nodes[node];
        for(const auto& child: dropped.children) arrayAppend(dropping, child.second);
        if(dropped.watch >= 0) {
            _nodeByWatch.erase(dropped.watch);
            _system.releaseWatch(dropped.watch, *this);
        }
        _unreached.erase(node);
        _departed.erase(node);
        dropped = Node{};
        arrayAppend(_freeNodes, node);
    }
}

/* In place of a directory of that name the tree had there, which is out of
   the way first in case the node was in it */
void WatchedTree::moveNode(const std::size_t node, const std::size_t parent, const Containers::StringView name) {
    Node& moved = _nodes[node];
    _nodes[moved.parent].children.erase(key(moved.name));
    moved.parent = NoNode;
    const std::size_t replaced = child(parent, name);
    if(replaced != NoNode) dropNode(replaced);
    Node& placed = _nodes[node];
    placed.name = Containers::String{name};
    placed.parent = parent;
    _nodes[parent].children.emplace(key(name), node);
}

void WatchedTree::setWatch(const std::size_t node, const int watch, const int directory) {
    _nodes[node].identity = _system.identity(directory);
    _nodes[node].hasIdentity = true;
    _nodes[node].watch = watch;
    _nodeByWatch.emplace(watch, node);
}

bool WatchedTree::isAncestor(const std::size_t ancestor, std::size_t node) const {
    for(; node != NoNode; node = _nodes[node].parent)
        if(node == ancestor) return true;
    return false;
}

/* Its events tell nothing more: they happened where the tree cannot say */
bool WatchedTree::isDeparted(std::size_t node) const {
    if(!_departed.empty()) for(; node != NoNode; node = _nodes[node].parent)
        if(_nodes[node].departed) return true;
    return false;
}

std::size_t WatchedTree::nodeOf(const Place& place) const {
    const auto found = _nodeByWatch.find(place.watch);
    return found == _nodeByWatch.end() || place.sequence < _nodes[found->second].listedFrom || isDeparted(found->second) ? NoNode : found->second;
}

std::size_t WatchedTree::child(const std::size_t node, const Containers::StringView name) const {
    const auto found = _nodes[node].children.find(key(name));
    return found == _nodes[node].children.end() ? NoNode : found->second;
}

Containers::String WatchedTree::path(const std::size_t node) const {
    Containers::Array<Containers::StringView> names;
    for(std::size_t i = node; i; i = _nodes[i].parent) arrayAppend(names, Containers::StringView{_nodes[i].name});
    for(std::size_t i = 0; i < names.size()/2; ++i) std::swap(names[i], names[names.size() - 1 - i]);
    return "/"_s.join(names);
}

Containers::String WatchedTree::path(const std::size_t parent, const Containers::StringView name) const {
    return Utility::Path::join(path(parent), name);
}

/* By its names from the root, each directory on the way checked to be the
   one the tree knows, so that a name taken by another directory before the
   events tell of it is never followed */
int WatchedTree::openNode(const std::size_t node) {
    Containers::Array<std::size_t> way;
    for(std::size_t i = node; i; i = _nodes[i].parent) arrayAppend(way, i);
    OpenDirectory directory{_system, _system.open(_rootDirectory, {})};
    for(std::size_t i = way.size(); i && directory >= 0; --i) {
        const Node& next = _nodes[way[i - 1]];
        directory = OpenDirectory{_system, _system.open(directory, next.name)};
        if(directory >= 0 && next.hasIdentity && !(_system.identity(directory) == next.identity))
            directory = OpenDirectory{};
    }
    return directory.release();
}

/* A directory that a walk left further up, found again from one of its
   subdirectories on the way back; or, when that one moved meanwhile, by its
   names from the root */
int WatchedTree::reopen(const std::size_t node, const int subdirectory) {
    if(subdirectory >= 0) {
        const int parent = _system.open(subdirectory, "..");
        if(parent >= 0 && _system.identity(parent) == _nodes[node].identity) return parent;
        if(parent >= 0) _system.close(parent);
    }
    return openNode(node);
}

/* Moved where the tree has no watch: out of it, or below a directory of it
   not listed yet. Kept with its watches where it was until the events have
   caught up, for a listing to find. */
void WatchedTree::depart(const std::size_t node) {
    _nodes[node].departed = true;
    _departed.insert(node);
}

/* Told gone from where the tree had it, unless a directory above that
   departed too tells it */
void WatchedTree::leave(const std::size_t node) {
    if(!isDeparted(_nodes[node].parent)) recordEntry(FILE_ACTION_REMOVED, _nodes[node].parent, _nodes[node].name);
    dropNode(node);
}

/* Before a directory above them moves, while the path they left from is
   the one the tree has for them */
void WatchedTree::leaveBelow(const std::size_t node) {
    Containers::Array<std::size_t> below;
    for(const std::size_t departed: _departed) if(isAncestor(node, departed)) arrayAppend(below, departed);
    for(const std::size_t departed: below) if(_departed.count(departed)) leave(departed);
}

std::size_t WatchedTree::departedChild(const std::size_t parent, const Containers::StringView name) const {
    const std::size_t node = child(parent, name);
    return node != NoNode && _nodes[node].departed ? node : NoNode;
}

/* A new entry comes where a directory departed from: that one is gone, and
   told so before the new one is */
void WatchedTree::vacate(const std::size_t parent, const Containers::StringView name) {
    const std::size_t node = departedChild(parent, name);
    if(node != NoNode) leave(node);
}

/* Back where it departed from, so never told gone, and listed again once
   the events have caught up: what changed in it meanwhile was not heard */
void WatchedTree::comeBack(const std::size_t node) {
    _nodes[node].departed = false;
    _departed.erase(node);
    _unreached.insert(node);
}

void WatchedTree::record(const DWORD action, const std::size_t parent, const Containers::StringView name) {
    _changes.append(action, path(parent, name));
}

/* Windows also reports the new last-write time of a directory below the
   root whose entries were added, removed or renamed */
void WatchedTree::recordEntry(const DWORD action, const std::size_t parent, const Containers::StringView name) {
    Containers::String directory = path(parent);
    _changes.append(action, Utility::Path::join(directory, name));
    if(parent) _changes.append(FILE_ACTION_MODIFIED, std::move(directory));
}

/* A directory created or moved in, told already. Listed once the events
   have caught up: the events still queued may move it or a directory above
   it, and what it holds now is told with the path it has now. */
void WatchedTree::appeared(const std::size_t parent, const Containers::StringView name) {
    _unreached.insert(addNode(parent, name));
}

/* Watches and lists a directory that has no watch yet, or one that came
   back, with its contents.
   One that cannot be opened, because later changes took the way there, is
   tried again the next time the events have caught up. */
void WatchedTree::reach(const std::size_t node) {
    errno = 0;
    const OpenDirectory directory{_system, openNode(node)};
    if(directory < 0 && !isShortage(errno)) {
        if(errno == EACCES || errno == EPERM) _unreached.erase(node);
        return;
    }
    _unreached.erase(node);
    int error = 0;
    if(directory < 0) error = errno;
    else {
        const Containers::String name = _nodes[node].name;
        const std::size_t placed = place(_nodes[node].parent, name, directory, true, NoNode, error);
        if(placed != NoNode) error = list(placed, directory, true);
    }
    /* Its changes would go unreported: the reader is told, as of a kernel
       overflow */
    if(error) _changes.appendLoss();
}

/* The open directory, found at that name, becomes part of the tree there,
   with a watch. A directory the tree has elsewhere moves here; unless it
   was inside top, the directory being listed, it is reported gone from
   there, since the events that took it here may never tell. Returns the
   node, to be listed; or NoNode for a directory above mounted here again,
   or for one that cannot be watched, with the errno in error when that
   loses changes. */
std::size_t WatchedTree::place(const std::size_t parent, const Containers::StringView name, const int directory, const bool report, const std::size_t top, int& error) {
    const int watch = _system.acquireWatch(directory, *this);
    if(watch < 0) {
        if(errno == ENOSPC || isShortage(errno)) error = errno;
        return NoNode;
    }
    const auto known = _nodeByWatch.find(watch);
    if(known == _nodeByWatch.end()) {
        const std::size_t node = addNode(parent, name);
        setWatch(node, watch, directory);
        return node;
    }

    const std::size_t node = known->second;
    /* A directory above mounted here again */
    if(isAncestor(node, parent)) return NoNode;
    if(child(parent, name) != node) {
        if(report && (top == NoNode || !isAncestor(top, node))) {
            const std::size_t from = _nodes[node].parent;
            recordEntry(FILE_ACTION_REMOVED, from, _nodes[node].name);
            /* The event that took a departed one away came already */
            if(!_nodes[node].departed && _nodes[from].watch >= 0) _adopted.insert(entryKey(_nodes[from].watch, _nodes[node].name));
        }
        moveNode(node, parent, name);
    }
    _nodes[node].departed = false;
    _departed.erase(node);
    return node;
}

/* A directory that a listing found and could not go into now: listed once
   the events have caught up */
void WatchedTree::defer(const std::size_t parent, const Containers::StringView name, const std::uint64_t listing) {
    std::size_t node = child(parent, name);
    if(node == NoNode) node = addNode(parent, name);
    _nodes[node].foundBy = listing;
    _unreached.insert(node);
}

/* Lists the open directory as it is now and everything below it, depth
   first, every entry reported as added with report. The events of each
   directory's watch queued before its listing are overtaken. So are those
   that took away the directories the tree had in it and that are not there
   any more: they go. However deep the tree, no more than three directories
   are open at a time besides the caller's. Returns the errno that lost
   changes: the kernel's watches, or the descriptors or memory to open or
   list a directory, running out. */
int WatchedTree::list(const std::size_t top, const int topDirectory, const bool report) {
    Containers::Array<Listing> listings;
    const auto descriptor = [&](const std::size_t i) {
        return i ? int(listings[i].directory) : topDirectory;
    };
    const auto begin = [&](const std::size_t node, const int directory, OpenDirectory owned) {
        _nodes[node].listedFrom = _system.fence();
        Containers::Array<DirectorySystem::Entry> entries;
        if(!_system.list(directory, entries)) return errno;
        const bool eventsCameMeanwhile = _system.fence() != _nodes[node].listedFrom;
        arrayAppend(listings, Listing{node, ++_listings, eventsCameMeanwhile, std::move(entries), 0, std::move(owned)});
        /* Found again from the one below it on the way up */
        if(listings.size() > 3) listings[listings.size() - 3].directory = OpenDirectory{};
        return 0;
    };
    if(const int error = begin(top, topDirectory, OpenDirectory{})) return error;

    while(!listings.isEmpty()) {
        const std::size_t i = listings.size() - 1;
        Listing& listing = listings[i];
        const std::size_t node = listing.node;
        if(listing.next == listing.entries.size()) {
            Containers::Array<std::size_t> gone;
            for(const auto& known: _nodes[node].children)
                if(_nodes[known.second].foundBy != listing.number) arrayAppend(gone, known.second);
            for(const std::size_t known: gone) dropNode(known);
            if(i > 1 && listings[i - 1].directory < 0)
                listings[i - 1].directory = OpenDirectory{_system, reopen(listings[i - 1].node, listing.directory)};
            arrayRemoveSuffix(listings, 1);
            continue;
        }

        const DirectorySystem::Entry& entry = listing.entries[listing.next++];
        if(report && (!listing.eventsCameMeanwhile || _listed.insert(entryKey(_nodes[node].watch, entry.name)).second))
            recordEntry(FILE_ACTION_ADDED, node, entry.name);
        if(!entry.isDirectory) continue;
        /* The way back up was lost to moves the events are yet to tell */
        if(descriptor(i) < 0) {
            defer(node, entry.name, listing.number);
            continue;
        }
        errno = 0;
        OpenDirectory opened{_system, _system.open(descriptor(i), entry.name)};
        if(opened < 0) {
            /* Gone again, its own events tell; or unreadable, and nothing
               will */
            if(isShortage(errno)) return errno;
            continue;
        }
        int error = 0;
        const std::size_t placed = place(node, entry.name, opened, report, top, error);
        if(error) return error;
        const std::size_t found = child(node, entry.name);
        if(found != NoNode) _nodes[found].foundBy = listing.number;
        if(placed == NoNode) continue;
        /* Taken before the descriptor moves into the new listing */
        const int directory = opened;
        if(const int failed = begin(placed, directory, std::move(opened))) return failed;
    }
    return 0;
}

bool WatchedTree::wasListed(const Place& place) {
    return !_listed.empty() && _listed.erase(entryKey(place.watch, place.name));
}

void WatchedTree::created(const Place& place, const bool isDirectory) {
    const std::size_t parent = nodeOf(place);
    if(parent == NoNode || wasListed(place)) return;
    vacate(parent, place.name);
    recordEntry(FILE_ACTION_ADDED, parent, place.name);
    if(isDirectory) appeared(parent, place.name);
}

void WatchedTree::removed(const Place& place, const bool isDirectory) {
    const std::size_t parent = nodeOf(place);
    if(parent == NoNode) return;
    /* A later entry of that name is a new one */
    wasListed(place);
    recordEntry(FILE_ACTION_REMOVED, parent, place.name);
    const std::size_t gone = isDirectory ? child(parent, place.name) : NoNode;
    if(gone != NoNode) dropNode(gone);
}

void WatchedTree::modified(const Place& place, const bool attributesOnly) {
    const std::size_t parent = nodeOf(place);
    if(parent == NoNode) return;
    if(attributesOnly) {
        const OpenDirectory directory{_system, openNode(parent)};
        if(directory < 0 || !_system.lastWriteSetNow(directory, place.name)) return;
    }
    record(FILE_ACTION_MODIFIED, parent, place.name);
}

void WatchedTree::moved(const Place& from, const Place& to, const bool isDirectory) {
    const std::size_t source = nodeOf(from), target = nodeOf(to);
    if(source == NoNode && target == NoNode) return;
    /* Reported when a listing found it where it went; if this is not that
       place yet, it leaves from here again */
    if(source != NoNode && isDirectory && !_adopted.empty() && _adopted.erase(entryKey(from.watch, from.name))) {
        if(target != NoNode && child(target, to.name) == NoNode) _adopted.insert(entryKey(to.watch, to.name));
        return;
    }
    const std::size_t moving = source != NoNode && isDirectory ? child(source, from.name) : NoNode;
    if(source != NoNode) wasListed(from);
    const bool listed = target != NoNode && wasListed(to);
    if(target == NoNode && moving != NoNode) return depart(moving);
    /* A directory coming from where the tree cannot see to where one
       departed from is that one; the records cannot tell them apart */
    const std::size_t back = isDirectory && target != NoNode && (moving == NoNode || _nodes[moving].watch < 0) ? departedChild(target, to.name) : NoNode;
    if(back != NoNode) {
        if(source != NoNode) recordEntry(FILE_ACTION_REMOVED, source, from.name);
        if(moving != NoNode) dropNode(moving);
        return comeBack(back);
    }
    if(target != NoNode) vacate(target, to.name);
    if(moving != NoNode && !_departed.empty()) leaveBelow(moving);

    /* Windows pairs a rename within one directory; a move between two is a
       removal and an addition */
    if(source == target && !listed) {
        record(FILE_ACTION_RENAMED_OLD_NAME, source, from.name);
        recordEntry(FILE_ACTION_RENAMED_NEW_NAME, target, to.name);
    } else {
        if(source != NoNode) recordEntry(FILE_ACTION_REMOVED, source, from.name);
        if(target != NoNode && !listed) recordEntry(FILE_ACTION_ADDED, target, to.name);
    }
    if(!isDirectory) return;

    /* Where a listing found it already, that placed it. And where the
       model, behind changes made while it listed, has the place it goes
       inside the directory itself, both go. */
    if(target == NoNode || listed || (moving != NoNode && isAncestor(moving, target))) {
        if(moving != NoNode) dropNode(moving);
        return;
    }
    if(moving == NoNode) return appeared(target, to.name);
    moveNode(moving, target, to.name);
}

void WatchedTree::watchLost(const int watch) {
    const auto found = _nodeByWatch.find(watch);
    if(found == _nodeByWatch.end()) return;
    const std::size_t node = found->second;
    _nodeByWatch.erase(found);
    _nodes[node].watch = -1;
    /* Deleted, and its removal is on the way; or a file system unmounted
       from it, which leaves another directory in its place */
    _nodes[node].hasIdentity = false;
    _unreached.insert(node);
}

void WatchedTree::overflowed() {
    _changes.appendLoss();
    _overflowed = true;
}

/* What was kept for events still to come goes once they have come; but a
   rename's first half that still waits may be the leaving of a directory
   that a listing moved already */
void WatchedTree::caughtUp(const bool renameHalfWaits) {
    _listed.clear();
    if(!renameHalfWaits) _adopted.clear();
    /* Nothing is reported: the reader was told that changes were lost, and
       the walk places every directory, those waiting to be reached and
       those that departed too */
    if(_overflowed) {
        _overflowed = false;
        _unreached.clear();
        const OpenDirectory root{_system, _system.open(_rootDirectory, {})};
        if(root < 0 || list(0, root, false)) _changes.appendLoss();
    }
    if(!_unreached.empty()) {
        Containers::Array<std::size_t> unreached;
        for(const std::size_t node: _unreached) arrayAppend(unreached, node);
        for(const std::size_t node: unreached)
            if(_unreached.count(node)) reach(node);
    }
    /* What no listing found left the tree */
    leaveBelow(0);
}

}}}
