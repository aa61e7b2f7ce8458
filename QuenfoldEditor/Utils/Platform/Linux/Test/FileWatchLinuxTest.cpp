#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Test { namespace {

using FileWatchLinuxTest = TreeOnDisk;

TEST_F(FileWatchLinuxTest, Translation) {
    for(const char* file: {"out/in", "out/tree/x"}) write(file);
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    const Step steps[]{
        {[&] { write("w/f", "1"); }, {{"w/f", Event::Add}, {"w/f", Event::Modify}}},
        {[&] { write("w/f", "2"); }, {{"w/f", Event::Modify}}},
        {[&] { write("w/d/g"); }, {{"w/d/g", Event::Add}, {"w/d", Event::Modify}}},
        {[&] { fs::rename(at("w/f"), at("w/f2")); }, {{"w/f", Event::RenameOld}, {"w/f2", Event::RenameNew}}},
        {[&] { fs::rename(at("w/f2"), at("w/d/f3")); }, {{"w/f2", Event::Remove}, {"w/d/f3", Event::Add}, {"w/d", Event::Modify}}},
        {[&] { fs::rename(at("out/in"), at("w/d/in")); }, {{"w/d/in", Event::Add}, {"w/d", Event::Modify}}},
        {[&] { fs::rename(at("w/d/in"), at("out/back")); }, {{"w/d/in", Event::Remove}, {"w/d", Event::Modify}}},
        {[&] { fs::remove(at("w/d/f3")); }, {{"w/d/f3", Event::Remove}, {"w/d", Event::Modify}}},
        /* A directory moved in comes with its contents */
        {[&] { fs::rename(at("out/tree"), at("w/tree")); }, {{"w/tree", Event::Add}, {"w/tree/x", Event::Add}, {"w/tree", Event::Modify}}},
        {[&] { write("w/tree/x", "1"); }, {{"w/tree/x", Event::Modify}}},
        {[&] { fs::remove_all(at("w/tree")); }, {{"w/tree/x", Event::Remove}, {"w/tree", Event::Modify}, {"w/tree", Event::Remove}}},
        /* A renamed subdirectory is watched under its new name */
        {[&] { fs::rename(at("w/d"), at("w/e")); write("w/e/z"); }, {{"w/d", Event::RenameOld}, {"w/e", Event::RenameNew}, {"w/e/z", Event::Add}, {"w/e", Event::Modify}}},
        /* A link is an entry like a file, never followed; times set to now
           are a write, older times and permissions are not asked for */
        {[&] { fs::create_directory_symlink(at("out"), at("w/link")); write("out/behind"); utimensat(AT_FDCWD, at("w/e/z").data(), nullptr, 0); },
            {{"w/link", Event::Add}, {"w/e/z", Event::Modify}}},
        {[&] { const timespec old[2]{{1, 0}, {1, 0}}; utimensat(AT_FDCWD, at("w/e/z").data(), old, 0); chmod(at("w/e/z").data(), 0600); }, {}},
    };
    for(std::size_t i = 0; i != std::size(steps); ++i) {
        steps[i].operation();
        EXPECT_EQ(settle(watcher), steps[i].expected) << "step " << i;
    }
}

/* A directory moved in and written is listed by the read that comes next,
   with the path it has then, after the move of the directory above it;
   also when a move out of the tree, told a moment late while the other
   half of a rename could still come, is the last change */
TEST_F(FileWatchLinuxTest, MovedInThenCarried) {
    for(const char* directory: {"w/p", "w/q", "w/x", "out/n"}) fs::create_directories(at(directory));
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    fs::rename(at("out/n"), at("w/p/n"));
    write("w/p/n/f", "x");
    fs::rename(at("w/p"), at("w/q/p"));
    fs::rename(at("w/x"), at("out/x"));
    EXPECT_TRUE(deliver(watcher));
    EXPECT_EQ(std::exchange(log, {}), (std::vector<Change>{
        {"w/p/n", Event::Add}, {"w/p", Event::Modify},
        {"w/p", Event::Remove}, {"w/q/p", Event::Add}, {"w/q", Event::Modify},
        {"w/q/p/n/f", Event::Add}, {"w/q/p/n", Event::Modify}}));
    EXPECT_EQ(settle(watcher), (std::vector<Change>{{"w/x", Event::Remove}}));
}

/* Kernel watches are shared between overlapping trees, in one watcher or
   in two, and stay while any of them needs them */
TEST_F(FileWatchLinuxTest, OverlappingTrees) {
    FileWatch first, second;
    std::vector<Change> inner;
    ASSERT_EQ(first.watch(at("w").data(), recorder(log)), 1);
    ASSERT_EQ(first.watch(at("w/d").data(), recorder(log)), 2);
    ASSERT_EQ(second.watch(at("w/d").data(), recorder(inner)), 1);

    /* Reported by both directories of the first watcher, each report
       matching both of its watches */
    write("w/d/a");
    std::vector<Change> changes = settle(first);
    std::sort(changes.begin(), changes.end());
    EXPECT_EQ(changes, (std::vector<Change>{{"w/d", Event::Modify}, {"w/d", Event::Modify}, {"w/d/a", Event::Add}, {"w/d/a", Event::Add}, {"w/d/a", Event::Add}, {"w/d/a", Event::Add}}));
    EXPECT_TRUE(poll(second, [&] { return !inner.empty(); }));
    EXPECT_EQ(inner, (std::vector<Change>{{"w/d/a", Event::Add}}));

    first.remove(2);
    inner.clear();
    write("w/d/b");
    EXPECT_EQ(settle(first), (std::vector<Change>{{"w/d/b", Event::Add}, {"w/d", Event::Modify}}));
    EXPECT_TRUE(poll(second, [&] { return !inner.empty(); }));
    EXPECT_EQ(inner, (std::vector<Change>{{"w/d/b", Event::Add}}));

    first.remove(1);
    write("w/d/c");
    EXPECT_TRUE(poll(second, [&] { return inner.size() == 2; }));
    EXPECT_EQ(inner.back(), (Change{"w/d/c", Event::Add}));
}

/* The watch stays with the directory, and so do the watches of what is
   created in it afterwards, under the paths of its old name */
TEST_F(FileWatchLinuxTest, RootRenamed) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    fs::rename(at("w"), at("w2"));
    fs::create_directory(at("w2/sub"));
    fs::create_directories(at("w/sub"));
    write("w/sub/foreign");
    write("w2/sub/own");
    write("w2/.fence");
    EXPECT_TRUE(poll(watcher, [&] { return contains(log, {"w/.fence", Event::Add}); }));
    EXPECT_EQ(log, (std::vector<Change>{{"w/sub", Event::Add}, {"w/.fence", Event::Add}, {"w/sub/own", Event::Add}, {"w/sub", Event::Modify}}));
}

/* Far more than the per-user limit of inotify instances */
TEST_F(FileWatchLinuxTest, ThousandDirectories) {
    /* One descriptor for each: away from the edge of the usual soft limit of
       1,024 */
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit raised{std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 4096)), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    const std::size_t descriptors = openDescriptors();
    {
        FileWatch watcher;
        for(int i = 0; i != 1000; ++i) {
            /* Not a prefix of one another */
            const std::string directory = at("many/" + std::to_string(i) + "-");
            fs::create_directories(directory);
            ASSERT_EQ(watcher.watch(directory.data(), recorder(log)), i + 1);
        }
        write("many/999-/last");
        write("many/0-/first");
        EXPECT_TRUE(poll(watcher, [&] { return log.size() == 2; }));
        /* Directories complete their reads in no particular order */
        std::sort(log.begin(), log.end());
        EXPECT_EQ(log, (std::vector<Change>{{"many/0-/first", Event::Add}, {"many/999-/last", Event::Add}}));
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    setrlimit(RLIMIT_NOFILE, &limit);
}

/* Returns when a change arrives and not before; or when the time is up */
TEST_F(FileWatchLinuxTest, UpdateWithTimeout) {
    using Clock = std::chrono::steady_clock;
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    const Clock::time_point idleStart = Clock::now();
    delivering = true;
    EXPECT_FALSE(watcher.update(50));
    EXPECT_GE(Clock::now() - idleStart, std::chrono::milliseconds{50});
    EXPECT_TRUE(log.empty());

    std::atomic<Clock::rep> written{0};
    std::thread writer{[&] {
        std::this_thread::sleep_for(std::chrono::milliseconds{100});
        written = Clock::now().time_since_epoch().count();
        write("w/late");
    }};
    const Clock::time_point start = Clock::now();
    bool delivered = false;
    while(!delivered && Clock::now() - start < std::chrono::seconds{10}) delivered = watcher.update(10000);
    const Clock::rep returned = Clock::now().time_since_epoch().count();
    delivering = false;
    writer.join();
    EXPECT_TRUE(delivered);
    /* At the change, not before it, nor at the end of the wait */
    EXPECT_GE(returned, written.load());
    EXPECT_LT(returned - written.load(), std::chrono::duration_cast<Clock::duration>(std::chrono::seconds{5}).count());
    EXPECT_EQ(log, (std::vector<Change>{{"w/late", Event::Add}}));
}

}}}
