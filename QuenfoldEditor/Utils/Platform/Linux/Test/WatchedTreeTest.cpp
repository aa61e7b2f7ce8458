#include <algorithm>
#include <cerrno>
#include <deque>
#include <functional>
#include <map>
#include <optional>
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

/* A tree on the directories, watching w, which gives back every watch once
   it is gone */
struct WatchedTreeTest: testing::Test {
    void TearDown() override {
        tree.reset();
        EXPECT_TRUE(directories.watched.empty());
    }

    void watch() {
        tree.emplace(directories, changes, 3);
        ASSERT_EQ(tree->watchRoot(), 0);
    }

    /* What the tree makes of the events so far */
    std::string told() {
        directories.deliver(*tree);
        return takeRecordLines(changes);
    }

    Directories directories;
    ChangeQueue changes;
    std::optional<WatchedTree> tree;
};

TEST_F(WatchedTreeTest, EventsBehindTheDisk) {
    directories.mkdirs("w/a/b/c");
    watch();
    EXPECT_EQ(tree->watchCount(), 4u);

    /* p created, renamed to q and a new p created, all before the tree hears
       of the first: each is listed where it is once the events caught up */
    directories.mkdir("w", "p");
    directories.rename("w", "p", "w", "q");
    directories.mkdir("w", "p");
    directories.mkdir("w/p", "x");
    directories.mkdir("w/q", "y");
    EXPECT_EQ(told(), "1 p\n4 p\n5 q\n1 p\n1 q\\y\n3 q\n1 p\\x\n3 p\n");

    /* a taken through n and m, too new to be watched, and changed on the
       way: the kernel tells only of a leaving w, and the listing of n finds
       it as it is now, never telling what happened on the way with a path
       it never had. It is told gone from w only after it is found, so that
       the two never read as a move that kept what it held. */
    directories.mkdir("out", "n");
    directories.rename("out", "n", "w", "n");
    directories.mkdir("w/n", "m");
    directories.rename("w", "a", "w/n/m", "a");
    directories.rename("w/n/m/a/b", "c", "w/n/m/a", "c");
    directories.rename("w/n/m", "a", "w/n", "a");
    EXPECT_EQ(told(), "1 n\n1 n\\a\n3 n\n2 a\n1 n\\a\\b\n3 n\\a\n1 n\\a\\c\n3 n\\a\n1 n\\m\n3 n\n");

    /* Watched where they are now */
    directories.mkdir("w/n/a/c", "f");
    EXPECT_EQ(told(), "1 n\\a\\c\\f\n3 n\\a\\c\n");
    EXPECT_EQ(tree->watchCount(), 11u);

    /* Moved into a directory or created in it while it is listed: the
       listing tells of them, and their own events nothing more */
    directories.mkdir("w", "r");
    directories.duringListing = [&] {
        directories.rename("w/q", "y", "w/r", "y");
        directories.mkdir("w/r", "s");
    };
    directories.deliver(*tree);
    directories.deliver(*tree);
    directories.mkdir("w/r/y", "z");
    EXPECT_EQ(told(), "1 r\n1 r\\s\n3 r\n1 r\\y\n3 r\n2 q\\y\n3 q\n1 r\\y\\z\n3 r\\y\n");
    EXPECT_EQ(tree->watchCount(), 14u);

    /* Out of the tree: nothing more through its watches */
    directories.rename("w", "n", "out", "n");
    directories.mkdir("out/n/a/c/f", "g");
    EXPECT_EQ(told(), "2 n\n");
    EXPECT_EQ(tree->watchCount(), 8u);
}

/* Events the kernel dropped: the reader is told, and the tree walked again,
   so that a directory that came meanwhile is heard of and one that went no
   longer holds a watch */
TEST_F(WatchedTreeTest, Overflowed) {
    directories.mkdirs("w/a/gone");
    watch();
    directories.mkdirs("w/b/c");
    directories.rename("w/a", "gone", "out", "gone");
    directories.queued.clear();
    tree->overflowed();
    EXPECT_EQ(told(), "lost\n");
    EXPECT_EQ(tree->watchCount(), 4u);
    directories.mkdir("w/b/c", "d");
    EXPECT_EQ(told(), "1 b\\c\\d\n3 b\\c\n");

    /* Walked once: a directory moved in later comes with what it holds */
    directories.mkdirs("out/m/n");
    directories.rename("out", "m", "w/b", "m");
    EXPECT_EQ(told(), "1 b\\m\n3 b\n1 b\\m\\n\n3 b\\m\n");
}

/* d moved below u, too new to be watched, then on into w, and e out of it:
   the kernel tells of d leaving a and of d and e arriving in w. d is told
   gone from a only once found in w, never right before its arrival, which
   would read as a move that kept what it held, e among it. */
TEST_F(WatchedTreeTest, MovedOnFromBelowADirectoryNotWatchedYet) {
    directories.mkdirs("w/a/d/e");
    watch();
    directories.mkdir("w", "u");
    directories.rename("w/a", "d", "w/u", "d");
    directories.rename("w/u", "d", "w", "d");
    directories.rename("w/d", "e", "w", "e");
    EXPECT_EQ(told(), "1 u\n1 d\n1 e\n2 a\\d\n3 a\n");

    /* x moved below v, too new to be watched, then a renamed: x is told
       gone before, by the path it left from */
    directories.mkdir("w/a", "x");
    EXPECT_EQ(told(), "1 a\\x\n3 a\n");
    directories.mkdir("w", "v");
    directories.rename("w/a", "x", "w/v", "x");
    directories.rename("w", "a", "w", "b");
    EXPECT_EQ(told(), "1 v\n2 a\\x\n3 a\n4 a\n5 b\n1 v\\x\n3 v\n");

    /* Out of the tree and another d made in its place: told gone before the
       new one comes */
    directories.rename("w", "d", "out", "d");
    directories.mkdir("w", "d");
    EXPECT_EQ(told(), "2 d\n1 d\n");

    /* Moved below t and straight back: never told gone, what happens in it
       then is told, and it is listed again for what happened meanwhile */
    directories.mkdir("w/d", "g");
    EXPECT_EQ(told(), "1 d\\g\n3 d\n");
    directories.mkdir("w", "t");
    directories.rename("w", "d", "w/t", "d");
    directories.rename("w/t", "d", "w", "d");
    directories.rename("w/d", "g", "w/d", "h");
    EXPECT_EQ(told(), "1 t\n4 d\\g\n5 d\\h\n3 d\n1 d\\h\n3 d\n");
    EXPECT_EQ(tree->watchCount(), 9u);
}

/* Out of descriptors: watching fails, and once watching, the reader is told
   that changes were lost, as of a kernel overflow */
TEST_F(WatchedTreeTest, ListingFailed) {
    directories.mkdirs("w/a/b");
    directories.unlistable.insert(directories.at("w/a"));
    tree.emplace(directories, changes, 3);
    EXPECT_EQ(tree->watchRoot(), EMFILE);
    tree.reset();
    EXPECT_TRUE(directories.watched.empty());

    directories.unlistable.clear();
    watch();
    directories.mkdirs("out/n/m");
    directories.unlistable.insert(directories.at("out/n/m"));
    directories.rename("out", "n", "w", "n");
    EXPECT_EQ(told(), "1 n\n1 n\\m\n3 n\nlost\n");
}

/* However deep, walked and dropped with a few directories open at a time:
   the tree's, the root's, and at most three on the way */
TEST_F(WatchedTreeTest, DeepTree) {
    constexpr std::size_t Depth = 2000;
    for(int parent = directories.at("w"); directories.entries.size() != Depth + 3; ) {
        directories.entries.emplace_back();
        parent = directories.entries[parent]["d"] = int(directories.entries.size() - 1);
    }
    watch();
    EXPECT_EQ(tree->watchCount(), Depth + 1);
    EXPECT_LE(directories.mostOpen, 5u);
    directories.rename("w", "d", "out", "d");
    EXPECT_EQ(told(), "2 d\n");
    EXPECT_EQ(tree->watchCount(), 1u);
    tree.reset();
    EXPECT_EQ(directories.descriptors.size(), 1u);
}

}}}}
