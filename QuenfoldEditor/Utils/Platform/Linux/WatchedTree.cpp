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

/* A closed descriptor, whatever happens in between */
class OpenDirectory {
    public:
        explicit OpenDirectory(DirectorySystem& system, const int descriptor): _system{system}, _descriptor{descriptor} {}
        ~OpenDirectory() { if(_descriptor >= 0) _system.close(_descriptor); }
        OpenDirectory(const OpenDirectory&) = delete;
        OpenDirectory& operator=(const OpenDirectory&) = delete;
        operator int() const { return _descriptor; }

    private:
        DirectorySystem& _system;
        int _descriptor;
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
};

WatchedTree::WatchedTree(DirectorySystem& system, ChangeQueue& changes, const int rootDirectory): _system(system), _changes(changes), _rootDirectory{rootDirectory} {
    arrayAppend(_nodes, Node{{}, NoNode, -1, false, {}, 0, 0, {}});
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
    return list(0, root, false, 0);
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
    _nodes[node] = Node{name, parent, -1, false, {}, 0, 0, {}};
    _nodes[parent].children.emplace(key(name), node);
    return node;
}

/* With everything below it; the root is never dropped */
void WatchedTree::dropNode(const std::size_t node) {
    while(!_nodes[node].children.empty()) dropNode(_nodes[node].children.begin()->second);
    Node& dropped = _nodes[node];
    if(dropped.watch >= 0) {
        _nodeByWatch.erase(dropped.watch);
        _system.releaseWatch(dropped.watch, *this);
    }
    _unreached.erase(node);
    if(dropped.parent != NoNode) _nodes[dropped.parent].children.erase(key(dropped.name));
    dropped = Node{};
    arrayAppend(_freeNodes, node);
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

std::size_t WatchedTree::nodeOf(const Place& place) const {
    const auto found = _nodeByWatch.find(place.watch);
    return found == _nodeByWatch.end() || place.sequence < _nodes[found->second].listedFrom ? NoNode : found->second;
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
    if(!node) return _system.open(_rootDirectory, {});
    const OpenDirectory parent{_system, openNode(_nodes[node].parent)};
    if(parent < 0) return -1;
    const int directory = _system.open(parent, _nodes[node].name);
    if(directory >= 0 && _nodes[node].hasIdentity && !(_system.identity(directory) == _nodes[node].identity)) {
        _system.close(directory);
        return -1;
    }
    return directory;
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

/* Watches and lists a directory that has no watch yet, with its contents.
   One that cannot be opened, because later changes took the way there, is
   tried again the next time the events have caught up. */
void WatchedTree::reach(const std::size_t node) {
    errno = 0;
    const OpenDirectory directory{_system, openNode(node)};
    if(directory < 0) {
        if(errno == EACCES || errno == EPERM) _unreached.erase(node);
        return;
    }
    _unreached.erase(node);
    const Containers::String name = _nodes[node].name;
    /* Without a watch its changes would go unreported: the reader is told,
       as of a kernel overflow */
    if(place(_nodes[node].parent, name, directory, true, NoNode) == ENOSPC) _changes.appendLoss();
}

/* The open directory, found at that name, becomes part of the tree there,
   watched and listed with everything below it. A directory the tree has
   elsewhere moves here; unless it was inside top, the directory being
   listed, it is reported gone from there, since the events that took it
   here may never tell. Returns the errno of a failed watch. */
int WatchedTree::place(const std::size_t parent, const Containers::StringView name, const int directory, const bool report, const std::size_t top) {
    const int watch = _system.acquireWatch(directory, *this);
    if(watch < 0) return errno;
    const auto known = _nodeByWatch.find(watch);
    if(known == _nodeByWatch.end()) {
        const std::size_t node = addNode(parent, name);
        setWatch(node, watch, directory);
        return list(node, directory, report, top == NoNode ? node : top);
    }

    const std::size_t node = known->second;
    /* A directory above mounted here again */
    if(isAncestor(node, parent)) return 0;
    if(child(parent, name) != node) {
        if(report && (top == NoNode || !isAncestor(top, node))) {
            const std::size_t from = _nodes[node].parent;
            recordEntry(FILE_ACTION_REMOVED, from, _nodes[node].name);
            if(_nodes[from].watch >= 0) _adopted.insert(entryKey(_nodes[from].watch, _nodes[node].name));
        }
        moveNode(node, parent, name);
    }
    return list(node, directory, report, top == NoNode ? node : top);
}

/* Lists the directory as it is now, every entry reported as added with
   report. The events of its watch queued before are overtaken. So are those
   that took away the directories the tree had in it and that are not there
   any more: they go. */
int WatchedTree::list(const std::size_t node, const int directory, const bool report, const std::size_t top) {
    _nodes[node].listedFrom = _system.fence();
    Containers::Array<DirectorySystem::Entry> entries;
    _system.list(directory, entries);
    const bool eventsCameMeanwhile = _system.fence() != _nodes[node].listedFrom;
    const std::uint64_t listing = ++_listings;
    for(const DirectorySystem::Entry& entry: entries) {
        if(report && (!eventsCameMeanwhile || _listed.insert(entryKey(_nodes[node].watch, entry.name)).second))
            recordEntry(FILE_ACTION_ADDED, node, entry.name);
        if(!entry.isDirectory) continue;
        /* Gone again: its own events tell */
        const OpenDirectory opened{_system, _system.open(directory, entry.name)};
        if(opened < 0) continue;
        if(place(node, entry.name, opened, report, top) == ENOSPC) return ENOSPC;
        const std::size_t found = child(node, entry.name);
        if(found != NoNode) _nodes[found].foundBy = listing;
    }

    Containers::Array<std::size_t> gone;
    for(const auto& known: _nodes[node].children)
        if(_nodes[known.second].foundBy != listing) arrayAppend(gone, known.second);
    for(const std::size_t known: gone) dropNode(known);
    return 0;
}

bool WatchedTree::wasListed(const Place& place) {
    return !_listed.empty() && _listed.erase(entryKey(place.watch, place.name));
}

void WatchedTree::created(const Place& place, const bool isDirectory) {
    const std::size_t parent = nodeOf(place);
    if(parent == NoNode || wasListed(place)) return;
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

    /* Out of the tree: nothing is heard of it any more. Where a listing
       found it already, that placed it. And where the model, behind changes
       made while it listed, has the place it goes inside the directory
       itself, both go. */
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
}

/* What was kept for events still to come goes once they have come; but a
   rename's first half that still waits may be the leaving of a directory
   that a listing moved already */
void WatchedTree::caughtUp(const bool renameHalfWaits) {
    _listed.clear();
    if(!renameHalfWaits) _adopted.clear();
    if(_unreached.empty()) return;
    Containers::Array<std::size_t> unreached;
    for(const std::size_t node: _unreached) arrayAppend(unreached, node);
    for(const std::size_t node: unreached)
        if(_unreached.count(node)) reach(node);
}

}}}
