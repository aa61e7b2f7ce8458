#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"
#include "QuenfoldEditor/Utils/Platform/Linux/WatchedTree.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace {

using namespace Corrade;

/* Directories in memory, named by inode; descriptors and watches follow
   inodes, as the kernel's do. Watch descriptors are 100 + the inode. */
struct Directories: DirectorySystem {
    int at(const std::string& path) {
        int inode = 0;
        for(std::size_t begin = 0; begin < path.size(); ) {
            const std::size_t end = std::min(path.find('/', begin), path.size());
            inode = entries[inode].at(path.substr(begin, end - begin));
            begin = end + 1;
        }
        return inode;
    }
    int mkdir(const std::string& parent, const std::string& name) {
        entries.emplace_back();
        return entries[at(parent)][name] = int(entries.size() - 1);
    }
    void rename(const std::string& fromParent, const std::string& from, const std::string& toParent, const std::string& to) {
        const int inode = entries[at(fromParent)].at(from);
        entries[at(fromParent)].erase(from);
        entries[at(toParent)][to] = inode;
    }
    int watchOf(const std::string& path) { return 100 + at(path); }

    int open(const int directory, const Containers::StringView name) override {
        const std::map<std::string, int>& in = entries[descriptors.at(directory)];
        const auto found = in.find(std::string{name.data(), name.size()});
        if(!name.isEmpty() && found == in.end()) return -1;
        descriptors[++lastDescriptor] = name.isEmpty() ? descriptors.at(directory) : found->second;
        return lastDescriptor;
    }
    void close(const int directory) override { descriptors.erase(directory); }
    Identity identity(const int directory) override { return {0, std::uint64_t(descriptors.at(directory))}; }
    bool list(const int directory, Containers::Array<Entry>& out) override {
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

    /* Entries by inode; inode 0 is the watched root, every entry a
       directory */
    std::vector<std::map<std::string, int>> entries{1};
    std::map<int, int> descriptors{{3, 0}};
    std::set<int> watched;
    int lastDescriptor = 3;
};

/* The records waiting, as "action name" lines */
std::string take(ChangeQueue& changes) {
    std::string out;
    alignas(4) char buffer[4096];
    for(ChangeQueue::Taken taken; (taken = changes.take(buffer, sizeof(buffer))).complete; ) {
        if(!taken.bytes) out += "lost\n";
        for(std::size_t offset = 0; taken.bytes; ) {
            DWORD header[3];
            std::memcpy(header, buffer + offset, sizeof(header));
            out += std::to_string(header[1]) + " ";
            for(DWORD i = 0; i != header[2]/2; ++i) {
                char16_t unit;
                std::memcpy(&unit, buffer + offset + 12 + 2*i, 2);
                out += unit < 0x80 ? char(unit) : '?';
            }
            out += "\n";
            if(!header[0]) break;
            offset += header[0];
        }
    }
    return out;
}

TEST(WatchedTree, EventsAheadOfTheModel) {
    Directories directories;
    directories.mkdir("", "a");
    ChangeQueue changes;
    {
        WatchedTree tree{directories, changes, 3};
        ASSERT_EQ(tree.watchRoot(), 0);
        EXPECT_EQ(tree.watchCount(), 2u);

        /* p created, renamed to q and a new p created, all before the tree
           hears of the first: each keeps its own watch */
        directories.mkdir("", "p");
        directories.rename("", "p", "", "q");
        directories.mkdir("", "p");
        directories.mkdir("p", "x");
        tree.created(100, "p", true);
        tree.moved(100, "p", 100, "q", true);
        tree.created(100, "p", true);
        tree.caughtUp();
        tree.created(directories.watchOf("q"), "y", false);
        tree.created(directories.watchOf("p"), "z", false);
        EXPECT_EQ(take(changes), "1 p\n1 p\\x\n3 p\n4 p\n5 q\n1 p\n1 q\\y\n3 q\n1 p\\z\n3 p\n");

        /* n moved into c, which is so new that the kernel told of n leaving
           only; a scan of c found n there first */
        directories.mkdir("a", "n");
        directories.mkdir("a/n", "deep");
        tree.created(directories.watchOf("a"), "n", true);
        tree.caughtUp();
        take(changes);
        directories.mkdir("", "c");
        directories.rename("a", "n", "c", "n");
        tree.created(100, "c", true);
        tree.moved(directories.watchOf("a"), "n", -1, {}, true);
        tree.caughtUp();
        tree.created(directories.watchOf("c/n/deep"), "w", false);
        EXPECT_EQ(take(changes), "1 c\n1 c\\n\n3 c\n2 a\\n\n3 a\n1 c\\n\\deep\n3 c\\n\n1 c\\n\\deep\\w\n3 c\\n\\deep\n");

        /* Out of the tree: nothing more through its watches */
        const int deep = directories.watchOf("c/n/deep");
        directories.rename("", "c", "", "..out");
        tree.moved(100, "c", -1, {}, true);
        tree.created(deep, "v", false);
        EXPECT_EQ(take(changes), "2 c\n");
        EXPECT_EQ(tree.watchCount(), 5u);
    }
    EXPECT_TRUE(directories.watched.empty());
}

TEST(WatchedTree, UnwritableNames) {
    EXPECT_EQ(recordNameLength("d/\xc3\xa9\xf0\x9f\x98\x80"), 5);
    for(const char* name: {"a\\b", "\xff", "\xc3", "\xed\xa0\x80", "\xc0\xaf"}) EXPECT_EQ(recordNameLength(name), -1) << name;

    ChangeQueue changes;
    changes.append(1, "a\\b");
    EXPECT_EQ(take(changes), "");
    changes.append(1, "x");
    changes.appendLoss();
    changes.append(2, "x");
    EXPECT_EQ(take(changes), "1 x\nlost\n2 x\n");
}

}}}}
