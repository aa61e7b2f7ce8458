#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
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

/* A burst larger than the kernel's queue while the owner does not update,
   with files that were there before deleted and appended to, and a
   directory made and filled after the queue was full. By default every
   watcher of the thread goes silent; resynchronizing, each one tells what
   it missed, never a path that did not exist, and reads on, in the new
   directory too. */
TEST_F(FileWatchLinuxTest, KernelQueueOverflow) {
    std::size_t limit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> limit;
    if(!limit || limit > 65536) GTEST_SKIP() << "max_queued_events is " << limit;

    for(const FileWatch::Flags flags: {FileWatch::Flags{}, FileWatch::Flags{FileWatch::Flag::Resynchronize}}) {
        SCOPED_TRACE(bool(flags));
        const std::string mode = flags ? "-r" : "";
        std::set<std::string> existed, created, removed, appended;
        for(int i = 0; i != 100; ++i) {
            const std::string name = "w/old" + std::to_string(i) + mode;
            write(name, "x");
            existed.insert(name);
            (i % 2 ? appended : removed).insert(name);
        }
        std::vector<Change> other;
        std::ostringstream warnings;
        {
            const Corrade::Utility::Warning redirect{&warnings};
            FileWatch watcher{flags}, second{flags};
            ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
            ASSERT_EQ(second.watch(at("out/tree").data(), recorder(other)), 1);
            const auto make = [&](const std::string& name) {
                created.insert(name);
                write(name);
            };
            for(std::size_t i = 0; i != limit; ++i) make("w/d/" + std::to_string(i) + mode);
            for(const std::string& name: removed) fs::remove(at(name));
            for(const std::string& name: appended) write(name, "y");
            const std::string fresh = "w/fresh" + mode;
            fs::create_directory(at(fresh));
            created.insert(fresh);
            for(int i = 0; i != 10; ++i) make(fresh + "/" + std::to_string(i));

            if(!flags) {
                deliverUntilQuiet(watcher, log);
                EXPECT_LT(std::count_if(log.begin(), log.end(), [](const Change& change) { return change.event == Event::Add; }), std::ptrdiff_t(created.size()));
                log.clear();
                write("w/after");
                write("out/tree/after");
                deliverUntilQuiet(watcher, log);
                deliverUntilQuiet(second, other);
                EXPECT_EQ(log, std::vector<Change>{});
                EXPECT_EQ(other, std::vector<Change>{});
                EXPECT_EQ(warnings.str(), "");
                continue;
            }

            const std::vector<Change> settled = settle(watcher);
            const std::set<Change> changes{settled.begin(), settled.end()};
            for(const Change& change: changes)
                EXPECT_TRUE(existed.count(change.path) || created.count(change.path) || change.path == "w/d") << change.path;
            const auto reported = [&](const std::set<std::string>& paths, const Event event) {
                return std::all_of(paths.begin(), paths.end(), [&](const std::string& path) { return changes.count({path, event}); });
            };
            EXPECT_TRUE(reported(created, Event::Add));
            EXPECT_TRUE(reported(removed, Event::Remove));
            EXPECT_TRUE(reported(appended, Event::Modify));
            write(fresh + "/later");
            EXPECT_EQ(settle(watcher), (std::vector<Change>{{fresh + "/later", Event::Add}, {fresh, Event::Modify}}));
            write("out/tree/later");
            EXPECT_TRUE(poll(second, [&] { return contains(other, {"out/tree/later", Event::Add}); }));
        }
        const std::string lost = "FileWatch::update(): changes lost in ";
        EXPECT_NE(warnings.str().find(lost + root + "/w, resynchronized with "), std::string::npos) << warnings.str();
        EXPECT_NE(warnings.str().find(lost + root + "/out/tree, resynchronized with 0 differences\n"), std::string::npos) << warnings.str();
    }
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
    /* A minute's wait, which a return at the change ends long before
       however slow the machine; again after an early return for nothing */
    constexpr std::chrono::milliseconds Wait{60000};
    bool delivered = false;
    Clock::time_point waitStart;
    for(int i = 0; i != 3 && !delivered; ++i) {
        waitStart = Clock::now();
        delivered = watcher.update(Wait.count());
    }
    const Clock::time_point returned = Clock::now();
    delivering = false;
    writer.join();
    EXPECT_TRUE(delivered);
    /* At the change, not before it, nor at the end of the wait */
    EXPECT_GE(returned.time_since_epoch().count(), written.load());
    EXPECT_LT(returned - waitStart, Wait);
    EXPECT_EQ(log, (std::vector<Change>{{"w/late", Event::Add}}));
}

}}}
