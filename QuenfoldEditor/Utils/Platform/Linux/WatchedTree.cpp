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

std::string scanKey(const int watch, const Containers::StringView name) {
    std::string key = std::to_string(watch);
    key += '/';
    key.append(name.data(), name.size());
    return key;
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

}

struct WatchedTree::Node {
    Containers::String name;
    std::size_t parent;
    /* -1 while the directory has no kernel watch of this tree */
    int watch;
    /* Known once the directory was opened; a directory that another took
       the place of is never mistaken for it */
    bool hasIdentity;
    DirectorySystem::Identity identity;
    std::unordered_map<std::string, std::size_t> children;
};

WatchedTree::WatchedTree(DirectorySystem& system, ChangeQueue& changes, const int rootDirectory): _system(system), _changes(changes), _rootDirectory{rootDirectory} {
    arrayAppend(_nodes, Node{{}, NoNode, -1, false, {}, {}});
}

WatchedTree::~WatchedTree() {
    for(const auto& watched: _nodeByWatch) _system.releaseWatch(watched.first, *this);
}

int WatchedTree::watchRoot() {
    const OpenDirectory root{_system, _system.open(_rootDirectory, {})};
    if(root < 0) return errno ? errno : ENOENT;
    return watchNode(0, root, false);
}

std::size_t WatchedTree::addNode(const std::size_t parent, const Containers::StringView name) {
    std::size_t node;
    if(_freeNodes.isEmpty()) {
        node = _nodes.size();
        arrayAppend(_nodes, Node{});
    } else {
        node = _freeNodes.back();
        arrayRemoveSuffix(_freeNodes, 1);
    }
    _nodes[node] = Node{name, parent, -1, false, {}, {}};
    _nodes[parent].children.emplace(std::string{name.data(), name.size()}, node);
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
    _movedTo.erase(node);
    for(auto it = _movedTo.begin(); it != _movedTo.end(); )
        it = it->second == node ? _movedTo.erase(it) : std::next(it);
    _nodes[dropped.parent].children.erase(std::string{dropped.name.data(), dropped.name.size()});
    dropped = Node{};
    arrayAppend(_freeNodes, node);
}

std::size_t WatchedTree::nodeOfWatch(const int watch) const {
    const auto found = _nodeByWatch.find(watch);
    return found == _nodeByWatch.end() ? NoNode : found->second;
}

std::size_t WatchedTree::child(const std::size_t node, const Containers::StringView name) const {
    const auto found = _nodes[node].children.find(std::string{name.data(), name.size()});
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
    record(action, parent, name);
    if(parent) _changes.append(FILE_ACTION_MODIFIED, path(parent));
}

/* The kernel watch first, the listing after, so that an entry created in
   between is seen by one or the other. Returns the errno of a failed watch. */
int WatchedTree::watchNode(const std::size_t node, const int directory, const bool report) {
    _nodes[node].identity = _system.identity(directory);
    _nodes[node].hasIdentity = true;
    const int watch = _system.acquireWatch(directory, *this);
    if(watch < 0) return errno;
    const auto found = _nodeByWatch.find(watch);
    /* Watched already under another name: moved here, with the events yet
       to tell, which happened to it there. It stays there until they have
       told, and then comes here if they have it leave the tree (a move into
       a directory that was not watched yet). A directory above it mounted
       here again just stays. */
    if(found != _nodeByWatch.end()) {
        if(!isAncestor(found->second, node)) _movedTo[found->second] = node;
        return 0;
    }
    _nodeByWatch.emplace(watch, node);
    _nodes[node].watch = watch;
    return scan(node, directory, report);
}

bool WatchedTree::isAncestor(const std::size_t ancestor, std::size_t node) const {
    for(; node != NoNode; node = _nodes[node].parent)
        if(node == ancestor) return true;
    return false;
}

/* With report, every entry is reported as added, once: a directory created
   or moved in is told with its contents */
int WatchedTree::scan(const std::size_t node, const int directory, const bool report) {
    Containers::Array<DirectorySystem::Entry> entries;
    _system.list(directory, entries);
    const int watch = _nodes[node].watch;
    for(const DirectorySystem::Entry& entry: entries) {
        if(report && _scanned.insert(scanKey(watch, entry.name)).second)
            recordEntry(FILE_ACTION_ADDED, node, entry.name);
        if(!entry.isDirectory) continue;
        /* Known and watched already: its contents are told again only when
           reporting */
        const std::size_t known = child(node, entry.name);
        if(known != NoNode) {
            if(!report || _nodes[known].watch < 0) continue;
            const OpenDirectory opened{_system, _system.open(directory, entry.name)};
            if(opened >= 0 && _system.identity(opened) == _nodes[known].identity && scan(known, opened, report) == ENOSPC) return ENOSPC;
            continue;
        }

        const std::size_t added = addNode(node, entry.name);
        const OpenDirectory opened{_system, _system.open(directory, entry.name)};
        /* Gone again, or unreadable: its own events tell the rest */
        if(opened < 0) {
            dropNode(added);
            continue;
        }
        if(watchNode(added, opened, report) == ENOSPC) return ENOSPC;
    }
    return 0;
}

/* A directory that appeared in the tree, created or moved in, with its
   contents */
void WatchedTree::addDirectory(const std::size_t parent, const Containers::StringView name) {
    const std::size_t existing = child(parent, name);
    /* Watched already: it took the name of a directory renamed before the
       tree heard of either */
    if(existing != NoNode && _nodes[existing].watch >= 0 && whatIsAt(existing, parent, name) == Found::Same) return;
    if(existing != NoNode) dropNode(existing);
    reach(addNode(parent, name));
}

/* Whether the directory of the node is at that name, another one, or
   neither can be told because later changes took the way there */
WatchedTree::Found WatchedTree::whatIsAt(const std::size_t node, const std::size_t parent, const Containers::StringView name) {
    const OpenDirectory directory{_system, openNode(parent)};
    if(directory < 0) return Found::Unknown;
    const OpenDirectory found{_system, _system.open(directory, name)};
    if(found < 0) return Found::Unknown;
    return _system.identity(found) == _nodes[node].identity ? Found::Same : Found::Other;
}

/* Watches a directory that has no watch yet; one that cannot be found where
   the events so far put it has moved on since, and is tried again once they
   have caught up */
void WatchedTree::reach(const std::size_t node) {
    errno = 0;
    const OpenDirectory directory{_system, openNode(node)};
    if(directory < 0) {
        if(errno != EACCES && errno != EPERM) _unreached.insert(node);
        return;
    }
    _unreached.erase(node);
    /* Without a watch its changes would go unreported: the reader is told,
       as of a kernel overflow */
    if(watchNode(node, directory, true) == ENOSPC) _changes.appendLoss();
}

bool WatchedTree::wasScanned(const int watch, const Containers::StringView name) {
    return _scanned.erase(scanKey(watch, name));
}

void WatchedTree::created(const int watch, const Containers::StringView name, const bool isDirectory) {
    const std::size_t parent = nodeOfWatch(watch);
    if(parent == NoNode || wasScanned(watch, name)) return;
    recordEntry(FILE_ACTION_ADDED, parent, name);
    if(isDirectory) addDirectory(parent, name);
}

void WatchedTree::removed(const int watch, const Containers::StringView name, const bool isDirectory) {
    const std::size_t parent = nodeOfWatch(watch);
    if(parent == NoNode) return;
    /* A later entry of that name is a new one */
    wasScanned(watch, name);
    recordEntry(FILE_ACTION_REMOVED, parent, name);
    const std::size_t gone = isDirectory ? child(parent, name) : NoNode;
    if(gone != NoNode) dropNode(gone);
}

void WatchedTree::modified(const int watch, const Containers::StringView name, const bool attributesOnly) {
    const std::size_t parent = nodeOfWatch(watch);
    if(parent == NoNode) return;
    if(attributesOnly) {
        const OpenDirectory directory{_system, openNode(parent)};
        if(directory < 0 || !_system.lastWriteSetNow(directory, name)) return;
    }
    record(FILE_ACTION_MODIFIED, parent, name);
}

void WatchedTree::moved(const int fromWatch, const Containers::StringView fromName, const int toWatch, const Containers::StringView toName, const bool isDirectory) {
    const std::size_t from = fromWatch < 0 ? NoNode : nodeOfWatch(fromWatch);
    const std::size_t to = toWatch < 0 ? NoNode : nodeOfWatch(toWatch);
    if(from == NoNode && to == NoNode) return;
    std::size_t moving = from != NoNode && isDirectory ? child(from, fromName) : NoNode;
    if(from != NoNode) wasScanned(fromWatch, fromName);

    /* Out of the tree: nothing is heard of it any more. Unless a scan found
       it where it went. */
    if(to == NoNode) {
        recordEntry(FILE_ACTION_REMOVED, from, fromName);
        const auto movedTo = moving == NoNode ? _movedTo.end() : _movedTo.find(moving);
        /* Where the model has the new place inside the directory itself,
           the model is too far behind to move it there */
        if(movedTo == _movedTo.end() || isAncestor(moving, movedTo->second)) {
            if(moving != NoNode) dropNode(moving);
            return;
        }
        const std::size_t there = movedTo->second;
        _movedTo.erase(movedTo);
        const std::size_t parent = _nodes[there].parent;
        const Containers::String name = _nodes[there].name;
        dropNode(there);
        moveNode(moving, parent, name);
        /* Its contents as they are now, since nothing told of them there */
        const OpenDirectory directory{_system, openNode(moving)};
        if(directory >= 0 && scan(moving, directory, true) == ENOSPC) _changes.appendLoss();
        return;
    }

    /* A scan already reported it at its new name */
    const bool scanned = wasScanned(toWatch, toName);
    if(from == NoNode) {
        if(scanned) return;
        recordEntry(FILE_ACTION_ADDED, to, toName);
        if(isDirectory) addDirectory(to, toName);
        return;
    }

    /* Windows pairs a rename within one directory; a move between two is a
       removal and an addition */
    if(scanned) {
        recordEntry(FILE_ACTION_REMOVED, from, fromName);
    } else if(from == to) {
        record(FILE_ACTION_RENAMED_OLD_NAME, from, fromName);
        recordEntry(FILE_ACTION_RENAMED_NEW_NAME, to, toName);
    } else {
        recordEntry(FILE_ACTION_REMOVED, from, fromName);
        recordEntry(FILE_ACTION_ADDED, to, toName);
    }
    if(!isDirectory) return;

    /* A scan found it there already. Otherwise the directory it replaced
       goes. */
    const std::size_t replaced = child(to, toName);
    if(moving == NoNode && replaced != NoNode && _nodes[replaced].watch >= 0 && whatIsAt(replaced, to, toName) != Found::Other) return;
    if(replaced != NoNode && replaced != moving) dropNode(replaced);
    /* A directory renamed before the tree knew of it is new to the tree. So
       is one whose old name another directory took before the tree heard of
       the rename, and which the tree watches under that name since: the
       watch stays with the name, where the other directory's creation is
       about to be told. */
    if(moving != NoNode && _nodes[moving].watch >= 0 && whatIsAt(moving, to, toName) == Found::Other) moving = NoNode;
    if(moving == NoNode) {
        reach(addNode(to, toName));
        return;
    }
    moveNode(moving, to, toName);
    if(_nodes[moving].watch < 0) reach(moving);
}

void WatchedTree::moveNode(const std::size_t node, const std::size_t parent, const Containers::StringView name) {
    Node& moved = _nodes[node];
    _nodes[moved.parent].children.erase(std::string{moved.name.data(), moved.name.size()});
    moved.name = Containers::String{name};
    moved.parent = parent;
    _nodes[parent].children.emplace(std::string{name.data(), name.size()}, node);
}

void WatchedTree::watchLost(const int watch) {
    const std::size_t node = nodeOfWatch(watch);
    if(node == NoNode) return;
    _nodeByWatch.erase(watch);
    _nodes[node].watch = -1;
    if(!node) {
        _rootGone = true;
        return;
    }
    /* Deleted, and its removal is on the way; or a file system unmounted
       from it, which leaves another directory in its place */
    _nodes[node].hasIdentity = false;
    _unreached.insert(node);
}

void WatchedTree::overflowed() {
    _changes.appendLoss();
}

void WatchedTree::caughtUp() {
    _scanned.clear();
    if(_unreached.empty()) return;
    Containers::Array<std::size_t> unreached;
    for(const std::size_t node: _unreached) arrayAppend(unreached, node);
    for(const std::size_t node: unreached)
        if(_unreached.count(node)) reach(node);
}

}}}
