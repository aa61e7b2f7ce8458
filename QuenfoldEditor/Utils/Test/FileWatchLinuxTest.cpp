#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
namespace fs = std::filesystem;
using Event = FileWatch::Event;

/* A delivered change, with the path relative to the test's root */
struct Change {
    std::string path;
    Event event;
    bool operator==(const Change& other) const { return path == other.path && event == other.event; }
    bool operator<(const Change& other) const { return path < other.path || (path == other.path && event < other.event); }
};

void PrintTo(const Change& change, std::ostream* out) {
    Utility::Debug{out, Utility::Debug::Flag::NoNewlineAtTheEnd} << change.path.data() << change.event;
}

/* A real tree: root/w is what the tests watch, root/out lies outside it */
struct FileWatchLinuxTest: testing::Test {
    void SetUp() override {
        std::string name = testing::TempDir() + "FileWatchLinuxTest.XXXXXX";
        ASSERT_TRUE(mkdtemp(name.data()));
        const Containers::String absolute = Path::absolute(name.data());
        root = {absolute.data(), absolute.size()};
        for(const char* directory: {"w/d", "out/tree"}) fs::create_directories(at(directory));
    }

    void TearDown() override { fs::remove_all(root); EXPECT_EQ(strayCalls, 0); }

    std::string at(const std::string& name) const { return root + "/" + name; }

    void write(const std::string& name, const char* text = "") const { std::ofstream{at(name), std::ios::app} << text; }

    /* Also counts calls made outside update() or on another thread */
    FileWatch::Callback recorder(std::vector<Change>& to) {
        return [this, &to](const Containers::StringView path, const Event event) {
            if(!delivering || std::this_thread::get_id() != owner) ++strayCalls;
            std::string relative{path.data(), path.size()};
            if(relative.rfind(root + "/", 0) == 0) relative.erase(0, root.size() + 1);
            to.push_back({relative, event});
        };
    }

    bool deliver(FileWatch& watcher) {
        delivering = true;
        const bool delivered = watcher.update();
        delivering = false;
        return delivered;
    }

    /* Polls until the condition holds, for ten seconds at most */
    bool poll(FileWatch& watcher, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{10};
        while(deliver(watcher), !done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds{2});
        return done();
    }

    static std::size_t openDescriptors() {
        return std::distance(fs::directory_iterator{"/proc/self/fd"}, fs::directory_iterator{});
    }

    static bool contains(const std::vector<Change>& changes, const Change& change) {
        return std::find(changes.begin(), changes.end(), change) != changes.end();
    }

    /* A file created in the directory after the changes is reported by the
       same read after them, so once it arrives everything before it has.
       Needs a watch with recorder(log) on the directory. Returns and clears
       the log, without the fence. */
    std::vector<Change> settle(FileWatch& watcher, const std::string& directory = "w") {
        const Change fence{directory + "/.fence" + std::to_string(fences++), Event::Add};
        write(fence.path);
        EXPECT_TRUE(poll(watcher, [&] { return contains(log, fence); })) << fence.path;
        log.erase(std::remove(log.begin(), log.end(), fence), log.end());
        return std::exchange(log, {});
    }

    /* Creates the file while another watcher of this thread is polled until
       it sees it: the waits of that poll complete every read of the thread,
       so the other watchers have the change queued by then */
    void writeWitnessed(const std::string& name) {
        std::vector<Change> seen;
        FileWatch witness;
        ASSERT_TRUE(witness.watch(at("w").data(), recorder(seen)));
        write(name);
        EXPECT_TRUE(poll(witness, [&] { return contains(seen, {name, Event::Add}); })) << name;
    }

    std::string root;
    std::vector<Change> log;
    int fences = 0, strayCalls = 0;
    bool delivering = false;
    const std::thread::id owner = std::this_thread::get_id();
};

TEST_F(FileWatchLinuxTest, Translation) {
    for(const char* file: {"out/in", "out/tree/x"}) write(file);
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    const struct {
        std::function<void()> operation;
        std::vector<Change> expected;
    } steps[]{
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
    };
    for(std::size_t i = 0; i != std::size(steps); ++i) {
        steps[i].operation();
        EXPECT_EQ(settle(watcher), steps[i].expected) << "step " << i;
    }
}

TEST_F(FileWatchLinuxTest, SubdirectoryCreatedWithFiles) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    fs::create_directories(at("w/n/sub"));
    const std::set<std::string> files{"w/n/a", "w/n/b", "w/n/c", "w/n/sub/d", "w/n/sub/e"};
    for(const std::string& file: files) write(file, "x");

    /* The order, and whether a write shows before the new directory is
       watched, depend on timing; every entry is added exactly once */
    const std::vector<Change> changes = settle(watcher);
    std::set<std::string> entries = files;
    for(const char* directory: {"w/n", "w/n/sub"}) {
        entries.insert(directory);
        EXPECT_TRUE(contains(changes, {directory, Event::Modify})) << directory;
    }
    for(const std::string& entry: entries)
        EXPECT_EQ(std::count(changes.begin(), changes.end(), Change{entry, Event::Add}), 1) << entry;
    for(const Change& change: changes)
        EXPECT_TRUE(entries.count(change.path) && (change.event == Event::Add || change.event == Event::Modify)) << change.path;
}

TEST_F(FileWatchLinuxTest, BurstLargerThanBuffer) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    /* About 130 bytes a record, so several buffers' worth */
    std::vector<Change> expected;
    for(int i = 0; i != 400; ++i) {
        expected.push_back({"w/a-file-name-long-enough-to-fill-notification-buffers-" + std::to_string(i), Event::Add});
        write(expected.back().path);
    }
    EXPECT_EQ(settle(watcher), expected);
}

TEST_F(FileWatchLinuxTest, FileInNestedDirectory) {
    fs::create_directories(at("w/d/sub"));
    write("w/d/sub/target");
    FileWatch watcher;
    std::vector<Change> file;
    ASSERT_EQ(watcher.watch(at("w/d/sub/target").data(), recorder(file)), 1);
    /* The whole directory too, for the fence */
    ASSERT_EQ(watcher.watch(at("w/d/sub").data(), recorder(log)), 2);

    write("w/d/sub/target", "1");
    write("w/d/sub/sibling", "1");
    fs::rename(at("w/d/sub/target"), at("w/d/sub/renamed"));
    fs::rename(at("w/d/sub/renamed"), at("w/d/sub/target"));
    fs::remove(at("w/d/sub/target"));
    settle(watcher, "w/d/sub");
    std::vector<Change> expected;
    for(const Event event: {Event::Modify, Event::RenameOld, Event::RenameNew, Event::Remove})
        expected.push_back({"w/d/sub/target", event});
    EXPECT_EQ(file, expected);
}

TEST_F(FileWatchLinuxTest, RemoveClearDestroy) {
    const std::size_t descriptors = openDescriptors();
    {
        FileWatch watcher;
        std::vector<Change> removed, inner;
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(removed)), 2);
        ASSERT_EQ(watcher.watch(at("w/d").data(), recorder(inner)), 3);

        /* w/d has a read of its own, which reports its entries again but
           not itself */
        write("w/d/a");
        std::vector<Change> changes = settle(watcher);
        std::sort(changes.begin(), changes.end());
        EXPECT_EQ(changes, (std::vector<Change>{{"w/d", Event::Modify}, {"w/d/a", Event::Add}, {"w/d/a", Event::Add}}));
        EXPECT_EQ(inner.size(), 3u);

        watcher.remove(2);
        watcher.remove(3);
        EXPECT_EQ(watcher.size(), 1);
        removed = inner = {};
        write("w/d/b");
        EXPECT_EQ(settle(watcher), (std::vector<Change>{{"w/d/b", Event::Add}, {"w/d", Event::Modify}}));
        EXPECT_TRUE(removed.empty());
        EXPECT_TRUE(inner.empty());

        /* Queued before clear(), so delivered after it; created after it,
           so never read */
        writeWitnessed("w/c");
        watcher.clear();
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(watcher.size(), 1);
        writeWitnessed("w/e");
        EXPECT_TRUE(deliver(watcher));
        EXPECT_EQ(log, (std::vector<Change>{{"w/c", Event::Add}}));
        EXPECT_FALSE(deliver(watcher));
    }
    {
        FileWatch watcher;
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
        ASSERT_EQ(watcher.watch(at("w/d").data(), recorder(log)), 2);
        /* The thread's inotify instance and each watched directory */
        EXPECT_EQ(openDescriptors(), descriptors + 3);
        /* Dropped by the destructor without a call */
        writeWitnessed("w/d/f");
    }
    EXPECT_EQ(openDescriptors(), descriptors);
}

/* A directory that leaves the tree is heard of no more; one that comes in
   is told with its contents, also those written right after it came */
TEST_F(FileWatchLinuxTest, MovedOutAndIn) {
    fs::create_directories(at("w/gone"));
    fs::create_directories(at("out/came/sub"));
    write("out/came/sub/old");
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    fs::rename(at("w/gone"), at("out/gone"));
    write("out/gone/after", "x");
    fs::rename(at("out/came"), at("w/came"));
    write("w/came/created", "x");
    write("w/came/sub/old", "x");
    std::vector<Change> changes = settle(watcher);
    /* Whether the writes are told apart from the additions depends on when
       the scan runs */
    changes.erase(std::remove_if(changes.begin(), changes.end(), [](const Change& change) {
        return change.event == Event::Modify && (change.path == "w/came/created" || change.path == "w/came/sub/old");
    }), changes.end());
    std::sort(changes.begin(), changes.end());
    changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
    EXPECT_EQ(changes, (std::vector<Change>{
        {"w/came", Event::Add}, {"w/came", Event::Modify},
        {"w/came/created", Event::Add}, {"w/came/sub", Event::Add}, {"w/came/sub", Event::Modify},
        {"w/came/sub/old", Event::Add}, {"w/gone", Event::Remove}}));
}

/* A watched directory taken through directories too new to be watched yet,
   and changed on the way: it is told where it is, as it is, and none of its
   changes on the way is told under a path it never had */
TEST_F(FileWatchLinuxTest, MovedThroughNewDirectories) {
    fs::create_directories(at("w/a/b/c"));
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    fs::create_directory(at("out/n"));
    fs::rename(at("out/n"), at("w/n"));
    fs::create_directory(at("w/n/m"));
    fs::rename(at("w/a"), at("w/n/m/a"));
    fs::rename(at("w/n/m/a/b/c"), at("w/n/m/a/c"));
    fs::rename(at("w/n/m/a"), at("w/n/a"));
    std::vector<Change> changes = settle(watcher);
    std::sort(changes.begin(), changes.end());
    EXPECT_EQ(changes, (std::vector<Change>{
        {"w/a", Event::Remove},
        {"w/n", Event::Add}, {"w/n", Event::Modify}, {"w/n", Event::Modify},
        {"w/n/a", Event::Add}, {"w/n/a", Event::Modify}, {"w/n/a", Event::Modify},
        {"w/n/a/b", Event::Add}, {"w/n/a/c", Event::Add},
        {"w/n/m", Event::Add}}));

    /* Watched where they are now */
    write("w/n/a/c/f");
    write("w/n/a/b/g");
    std::vector<Change> after = settle(watcher);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, (std::vector<Change>{
        {"w/n/a/b", Event::Modify}, {"w/n/a/b/g", Event::Add},
        {"w/n/a/c", Event::Modify}, {"w/n/a/c/f", Event::Add}}));
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
    EXPECT_GE(returned, written.load());
    EXPECT_EQ(log, (std::vector<Change>{{"w/late", Event::Add}}));
}

}}
