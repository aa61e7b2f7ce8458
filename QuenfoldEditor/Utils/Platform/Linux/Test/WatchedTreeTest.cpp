#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include <gtest/gtest.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"
#include "QuenfoldEditor/Utils/Platform/Linux/WatchedTree.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/RecordLines.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace {

using namespace Corrade;

/* Directories in memory, named by inode, with paths from the inode 0, where
   w is the watched root and out lies outside it. Descriptors and watches
   follow inodes, as the kernel's do, and changes queue the events the kernel
   would for the directories watched at the time. Watch descriptors are 100 +
   the inode. */
struct Directories: DirectorySystem {
    /* A move has both sides, -1 for one not watched */
    struct Event {
        std::uint64_t sequence;
        int fromWatch, toWatch;
        std::string fromName, toName;
    };

    int at(const std::string& path) {
        int inode = 0;
        for(std::size_t begin = 0; begin < path.size(); ) {
            const std::size_t end = std::min(path.find('/', begin), path.size());
            inode = entries[inode].at(path.substr(begin, end - begin));
            begin = end + 1;
        }
        return inode;
    }
    int watchOf(int inode) const { return watched.count(100 + inode) ? 100 + inode : -1; }
    void mkdir(const std::string& parent, const std::string& name) {
        entries.emplace_back();
        entries[at(parent)][name] = int(entries.size() - 1);
        if(watchOf(at(parent)) >= 0) queued.push_back({sequence++, -1, watchOf(at(parent)), {}, name});
    }
    /* Each directory of the path that is not there yet */
    void mkdirs(const std::string& path) {
        for(std::size_t end = path.find('/'); end != std::string::npos; end = path.find('/', end + 1)) {
            const std::size_t next = path.find('/', end + 1);
            const std::string name = path.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1);
            if(!entries[at(path.substr(0, end))].count(name)) mkdir(path.substr(0, end), name);
        }
    }
    void rename(const std::string& fromParent, const std::string& from, const std::string& toParent, const std::string& to) {
        const int source = at(fromParent), target = at(toParent), inode = entries[source].at(from);
        entries[source].erase(from);
        entries[target][to] = inode;
        if(watchOf(source) >= 0 || watchOf(target) >= 0) queued.push_back({sequence, watchOf(source), watchOf(target), from, to});
        sequence += 2;
    }
    /* Hands the queued events to the tree in order, then tells it that it
       caught up */
    void deliver(WatchedTree& tree) {
        while(!queued.empty()) {
            const Event event = queued.front();
            queued.pop_front();
            if(event.fromWatch < 0 && event.fromName.empty()) tree.created({event.sequence, event.toWatch, event.toName.data()}, true);
            else tree.moved({event.sequence, event.fromWatch, event.fromName.data()}, {event.sequence + 1, event.toWatch, event.toName.data()}, true);
        }
        tree.caughtUp(false);
    }

    std::uint64_t fence() override { return sequence; }
    int open(const int directory, const Containers::StringView name) override {
        const int inode = descriptors.at(directory);
        int opened = name.isEmpty() ? inode : -1;
        if(name == "..") {
            for(std::size_t i = 0; i != entries.size(); ++i)
                for(const auto& entry: entries[i]) if(entry.second == inode) opened = int(i);
        } else if(!name.isEmpty()) {
            const auto found = entries[inode].find(std::string{name.data(), name.size()});
            if(found != entries[inode].end()) opened = found->second;
        }
        if(opened < 0) {
            errno = ENOENT;
            return -1;
        }
        descriptors[++lastDescriptor] = opened;
        mostOpen = std::max(mostOpen, descriptors.size());
        return lastDescriptor;
    }
    void close(const int directory) override { descriptors.erase(directory); }
    Identity identity(const int directory) override { return {0, std::uint64_t(descriptors.at(directory))}; }
    bool list(const int directory, Containers::Array<Entry>& out) override {
        if(duringListing) std::exchange(duringListing, nullptr)();
        if(unlistable.count(descriptors.at(directory))) {
            errno = EMFILE;
            return false;
        }
        for(const auto& entry: entries[descriptors.at(directory)]) arrayAppend(out, Entry{entry.first.data(), true});
        return true;
    }
    bool lastWriteSetNow(int, Containers::StringView) override { return false; }
    /* Counted once per tree, as the kernel instance does */
    int acquireWatch(const int directory, WatchedTree&) override {
        const int watch = 100 + descriptors.at(directory);
        watched.insert(watch);
        return watch;
    }
    void releaseWatch(const int watch, WatchedTree&) override {
        EXPECT_EQ(watched.erase(watch), 1u) << watch;
    }

    /* Entries by inode, every entry a directory */
    std::vector<std::map<std::string, int>> entries{{{"w", 1}, {"out", 2}}, {}, {}};
    std::map<int, int> descriptors{{3, 1}};
    std::size_t mostOpen = 1;
    /* Inodes whose listing fails, as when out of descriptors */
    std::set<int> unlistable;
    std::set<int> watched;
    std::deque<Event> queued;
    /* Run once, by the next listing before it reads */
    std::function<void()> duringListing;
    std::uint64_t sequence = 0;
    int lastDescriptor = 3;
};

TEST(WatchedTree, EventsBehindTheDisk) {
    Directories directories;
    directories.mkdir("w", "a");
    directories.mkdir("w/a", "b");
    directories.mkdir("w/a/b", "c");
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        ASSERT_EQ(tree.watchRoot(), 0);
        EXPECT_EQ(tree.watchCount(), 4u);

        /* p created, renamed to q and a new p created, all before the tree
           hears of the first: each is listed once the events have caught
           up, where it is now */
        directories.mkdir("w", "p");
        directories.rename("w", "p", "w", "q");
        directories.mkdir("w", "p");
        directories.mkdir("w/p", "x");
        directories.mkdir("w/q", "y");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 p\n4 p\n5 q\n1 p\n1 q\\y\n3 q\n1 p\\x\n3 p\n");

        /* a taken through n and m, too new to be watched, and changed on
           the way: the kernel tells of a leaving w and nothing more, and the
           listing of n finds it there as it is now, never telling of what
           happened to it on the way with a path it never had. It is told
           gone from w only after it is found, so that the two never read as
           a move that kept what it held, b/c among it. */
        directories.mkdir("out", "n");
        directories.rename("out", "n", "w", "n");
        directories.mkdir("w/n", "m");
        directories.rename("w", "a", "w/n/m", "a");
        directories.rename("w/n/m/a/b", "c", "w/n/m/a", "c");
        directories.rename("w/n/m", "a", "w/n", "a");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 n\n1 n\\a\n3 n\n2 a\n1 n\\a\\b\n3 n\\a\n1 n\\a\\c\n3 n\\a\n1 n\\m\n3 n\n");

        /* Watched where they are now */
        directories.mkdir("w/n/a/c", "f");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 n\\a\\c\\f\n3 n\\a\\c\n");
        EXPECT_EQ(tree.watchCount(), 11u);

        /* Moved into a directory or created in it while it is listed: the
           listing tells of them there, and of the moved one gone from where
           it was, and their own events tell nothing more */
        directories.mkdir("w", "r");
        directories.duringListing = [&] {
            directories.rename("w/q", "y", "w/r", "y");
            directories.mkdir("w/r", "s");
        };
        directories.deliver(tree);
        directories.deliver(tree);
        directories.mkdir("w/r/y", "z");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 r\n1 r\\s\n3 r\n1 r\\y\n3 r\n2 q\\y\n3 q\n1 r\\y\\z\n3 r\\y\n");
        EXPECT_EQ(tree.watchCount(), 14u);

        /* Out of the tree: nothing more through its watches */
        directories.rename("w", "n", "out", "n");
        directories.mkdir("out/n/a/c/f", "g");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "2 n\n");
        EXPECT_EQ(tree.watchCount(), 8u);
    }
    EXPECT_TRUE(directories.watched.empty());
}

/* Events the kernel dropped: the reader is told, and the tree walked again,
   so that a directory that came meanwhile is heard of and one that went no
   longer holds a watch */
TEST(WatchedTree, Overflowed) {
    Directories directories;
    directories.mkdir("w", "a");
    directories.mkdir("w/a", "gone");
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        ASSERT_EQ(tree.watchRoot(), 0);
        directories.mkdir("w", "b");
        directories.mkdir("w/b", "c");
        directories.rename("w/a", "gone", "out", "gone");
        directories.queued.clear();
        tree.overflowed();
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "lost\n");
        EXPECT_EQ(tree.watchCount(), 4u);
        directories.mkdir("w/b/c", "d");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 b\\c\\d\n3 b\\c\n");

        /* The walk is done once: a directory moved in later comes with
           what it holds */
        directories.mkdirs("out/m/n");
        directories.rename("out", "m", "w/b", "m");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "1 b\\m\n3 b\n1 b\\m\\n\n3 b\\m\n");
    }
    EXPECT_TRUE(directories.watched.empty());
}

/* d moved below u, too new to be watched, then on into w, and e out of it:
   the kernel tells of d leaving a, of a d arriving in w and of e arriving
   in w. d is told gone from a only once found in w, then listed there as it
   is, never right before its arrival, which would read as a move that kept
   what it held, e among it. One that leaves the tree is told gone once the
   events have caught up, or before a directory above it moves or a new
   entry takes its name; one that comes back is listed again. */
TEST(WatchedTree, MovedOnFromBelowADirectoryNotWatchedYet) {
    Directories directories;
    directories.mkdirs("w/a/d/e");
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        ASSERT_EQ(tree.watchRoot(), 0);
        /* What the tree makes of the events so far */
        const auto told = [&] {
            directories.deliver(tree);
            return takeRecordLines(changes);
        };
        directories.mkdir("w", "u");
        directories.rename("w/a", "d", "w/u", "d");
        directories.rename("w/u", "d", "w", "d");
        directories.rename("w/d", "e", "w", "e");
        EXPECT_EQ(told(), "1 u\n1 d\n1 e\n2 a\\d\n3 a\n");

        /* x moved below v, too new to be watched, then a renamed: x is
           told gone before, by the path it left from */
        directories.mkdir("w/a", "x");
        EXPECT_EQ(told(), "1 a\\x\n3 a\n");
        directories.mkdir("w", "v");
        directories.rename("w/a", "x", "w/v", "x");
        directories.rename("w", "a", "w", "b");
        EXPECT_EQ(told(), "1 v\n2 a\\x\n3 a\n4 a\n5 b\n1 v\\x\n3 v\n");

        /* Out of the tree and another d made in its place: told gone
           before the new one comes */
        directories.rename("w", "d", "out", "d");
        directories.mkdir("w", "d");
        EXPECT_EQ(told(), "2 d\n1 d\n");

        /* Moved below t and straight back: never told gone, what happens
           in it then is told, and it is listed again for what happened in
           it meanwhile */
        directories.mkdir("w/d", "g");
        EXPECT_EQ(told(), "1 d\\g\n3 d\n");
        directories.mkdir("w", "t");
        directories.rename("w", "d", "w/t", "d");
        directories.rename("w/t", "d", "w", "d");
        directories.rename("w/d", "g", "w/d", "h");
        EXPECT_EQ(told(), "1 t\n4 d\\g\n5 d\\h\n3 d\n1 d\\h\n3 d\n");
        EXPECT_EQ(tree.watchCount(), 9u);
    }
    EXPECT_TRUE(directories.watched.empty());
}

/* Out of descriptors: watching fails, and once watching, the reader is told
   that changes were lost, as of a kernel overflow */
TEST(WatchedTree, ListingFailed) {
    Directories directories;
    directories.mkdir("w", "a");
    directories.mkdir("w/a", "b");
    directories.unlistable.insert(directories.at("w/a"));
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        EXPECT_EQ(tree.watchRoot(), EMFILE);
    }
    EXPECT_TRUE(directories.watched.empty());

    directories.unlistable.clear();
    WatchedTree tree{directories, changes, 3};
    ASSERT_EQ(tree.watchRoot(), 0);
    directories.mkdir("out", "n");
    directories.mkdir("out/n", "m");
    directories.unlistable.insert(directories.at("out/n/m"));
    directories.rename("out", "n", "w", "n");
    directories.deliver(tree);
    EXPECT_EQ(takeRecordLines(changes), "1 n\n1 n\\m\n3 n\nlost\n");
}

/* However deep, walked and dropped with a few directories open at a time:
   the tree's, the root's, and at most three on the way */
TEST(WatchedTree, DeepTree) {
    Directories directories;
    constexpr std::size_t Depth = 2000;
    for(int parent = directories.at("w"); directories.entries.size() != Depth + 3; ) {
        directories.entries.emplace_back();
        parent = directories.entries[parent]["d"] = int(directories.entries.size() - 1);
    }
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        ASSERT_EQ(tree.watchRoot(), 0);
        EXPECT_EQ(tree.watchCount(), Depth + 1);
        EXPECT_LE(directories.mostOpen, 5u);
        directories.rename("w", "d", "out", "d");
        directories.deliver(tree);
        EXPECT_EQ(takeRecordLines(changes), "2 d\n");
        EXPECT_EQ(tree.watchCount(), 1u);
    }
    EXPECT_TRUE(directories.watched.empty());
    EXPECT_EQ(directories.descriptors.size(), 1u);
}

}}}}
