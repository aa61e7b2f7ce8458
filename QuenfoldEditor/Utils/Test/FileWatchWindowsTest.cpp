#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <gtest/gtest.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <windows.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"

namespace QuenfoldEngine { namespace {

using namespace Corrade;
namespace fs = std::filesystem;
using Event = FileWatch::Event;

/* Wine's ntdll exports its version, Windows' does not. Where Wine reports
   changes differently from Windows, the Windows expectation stays and only
   its check is skipped. */
bool runsUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

/* A delivered change, with the absolute path as delivered */
struct Change {
    std::string path;
    Event event;
    bool operator==(const Change& other) const { return path == other.path && event == other.event; }
};

void PrintTo(const Change& change, std::ostream* out) {
    Utility::Debug{out, Utility::Debug::Flag::NoNewlineAtTheEnd} << change.path.data() << change.event;
}

/* Whether a handle on the folder is open somewhere: then the folder cannot
   be opened without sharing */
bool isOpen(const std::string& folder) {
    const HANDLE handle = CreateFileA(folder.data(), FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if(handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
}

/* A real tree under the temporary folder: w is what the tests watch, w/old
   a subfolder that exists before any watch */
struct FileWatchWindowsTest: testing::Test {
    void SetUp() override {
        base = fs::temp_directory_path()/("quenfold-filewatch-" + std::to_string(std::random_device{}()));
        fs::create_directories(base/"w"/"old");
        const std::string native = base.string();
        const Containers::String absolute = Path::absolute(native.data());
        root = {absolute.data(), absolute.size()};
        /* What every expected path below is built from: a drive and forward
           slashes */
        ASSERT_TRUE(root.size() > 3 && root[1] == ':' && root[2] == '/' && root.find('\\') == std::string::npos) << root;
    }

    void TearDown() override { fs::remove_all(base); }

    std::string at(const std::string& name) const { return root + "/" + name; }

    void write(const std::string& name, const char* text = "") const { std::ofstream{at(name), std::ios::app} << text; }

    FileWatch::Callback recorder(std::vector<Change>& to) const {
        return [&to](const Containers::StringView path, const Event event) {
            to.push_back({{path.data(), path.size()}, event});
        };
    }

    /* Polls until the condition holds, for half a minute at most */
    static bool poll(FileWatch& watcher, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{30};
        while(watcher.update(), !done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds{2});
        return done();
    }

    static bool contains(const std::vector<Change>& changes, const Change& change) {
        return std::find(changes.begin(), changes.end(), change) != changes.end();
    }

    /* A file created in w after the changes comes in the same reads after
       them, so once it arrives everything before it has. Needs a watch with
       recorder(log) on w. Returns and clears the log without the fences, and
       with repeats of a change in a row told once: Windows may report one
       write as several. */
    std::vector<Change> settle(FileWatch& watcher) {
        const std::string fence = "w/.fence" + std::to_string(fences++);
        write(fence);
        EXPECT_TRUE(poll(watcher, [&] { return contains(log, {at(fence), Event::Add}); })) << fence;
        std::vector<Change> changes = std::exchange(log, {});
        changes.erase(std::remove_if(changes.begin(), changes.end(), [&](const Change& change) {
            return change.path.find("/w/.fence") != std::string::npos;
        }), changes.end());
        changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
        return changes;
    }

    /* Creates the file while another watcher of this thread is polled until
       it sees it: the waits of that poll run every completion of the thread,
       so the other watchers have the change queued by then */
    void writeWitnessed(const std::string& name) {
        std::vector<Change> seen;
        FileWatch witness;
        ASSERT_TRUE(witness.watch(at("w").data(), recorder(seen)));
        write(name);
        EXPECT_TRUE(poll(witness, [&] { return contains(seen, {at(name), Event::Add}); })) << name;
    }

    /* The changes without the Modify of the folders, which Windows reports
       whenever a folder's entries change and Wine never, and again with
       repeats told once */
    static std::vector<Change> withoutFolderModify(std::vector<Change> changes, const std::vector<std::string>& folders) {
        changes.erase(std::remove_if(changes.begin(), changes.end(), [&](const Change& change) {
            return change.event == Event::Modify && std::find(folders.begin(), folders.end(), change.path) != folders.end();
        }), changes.end());
        changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
        return changes;
    }

    fs::path base;
    std::string root;
    std::vector<Change> log;
    int fences = 0;
};

TEST_F(FileWatchWindowsTest, FilesInTheFolderAndInANewSubfolder) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    const struct {
        std::function<void()> operation;
        std::vector<Change> expected;
    } steps[]{
        {[&] { write("w/f", "1"); }, {{at("w/f"), Event::Add}, {at("w/f"), Event::Modify}}},
        {[&] { write("w/f", "2"); }, {{at("w/f"), Event::Modify}}},
        {[&] { fs::rename(at("w/f"), at("w/g")); }, {{at("w/f"), Event::RenameOld}, {at("w/g"), Event::RenameNew}}},
        {[&] { fs::remove(at("w/g")); }, {{at("w/g"), Event::Remove}}},
        {[&] { fs::create_directory(at("w/n")); }, {{at("w/n"), Event::Add}}},
        {[&] { write("w/n/f", "1"); }, {{at("w/n/f"), Event::Add}, {at("w/n/f"), Event::Modify}}},
        {[&] { fs::rename(at("w/n/f"), at("w/n/g")); }, {{at("w/n/f"), Event::RenameOld}, {at("w/n/g"), Event::RenameNew}}},
        {[&] { fs::remove(at("w/n/g")); }, {{at("w/n/g"), Event::Remove}}},
        {[&] { fs::remove(at("w/n")); }, {{at("w/n"), Event::Remove}}},
    };
    for(std::size_t i = 0; i != std::size(steps); ++i) {
        steps[i].operation();
        EXPECT_EQ(withoutFolderModify(settle(watcher), {at("w/n")}), steps[i].expected) << "step " << i;
    }
}

TEST_F(FileWatchWindowsTest, FolderWhoseEntriesChange) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    fs::create_directory(at("w/n"));
    settle(watcher);
    write("w/n/f");
    const std::vector<Change> changes = settle(watcher);
    if(runsUnderWine()) GTEST_SKIP() << "Wine reports no Modify of a folder whose entries change";
    EXPECT_TRUE(contains(changes, {at("w/n"), Event::Modify}));
}

TEST_F(FileWatchWindowsTest, SubfolderThatExistedBeforeTheWatch) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    write("w/old/f", "1");
    const std::vector<Change> changes = settle(watcher);
    if(runsUnderWine()) GTEST_SKIP() << "Wine reports no change inside a subfolder that existed before the watch began";
    EXPECT_EQ(withoutFolderModify(changes, {at("w/old")}), (std::vector<Change>{{at("w/old/f"), Event::Add}, {at("w/old/f"), Event::Modify}}));
}

TEST_F(FileWatchWindowsTest, MoveBetweenSubfolders) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    fs::create_directory(at("w/a"));
    fs::create_directory(at("w/b"));
    write("w/a/f", "1");
    settle(watcher);
    fs::rename(at("w/a/f"), at("w/b/f"));
    const std::vector<Change> changes = withoutFolderModify(settle(watcher), {at("w/a"), at("w/b")});
    if(runsUnderWine()) GTEST_SKIP() << "Wine reports a move between subfolders as RenameOld and RenameNew, not Remove and Add";
    EXPECT_EQ(changes, (std::vector<Change>{{at("w/a/f"), Event::Remove}, {at("w/b/f"), Event::Add}}));
}

TEST_F(FileWatchWindowsTest, BurstLargerThanOneBuffer) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    /* About 140 bytes a record and two or three records a file, so the
       burst fills several buffers. Windows keeps what happens between two
       reads in a buffer as large as the read's, and drops it all when that
       overflows: the burst comes in parts that fit, each taken by reads
       before the next. */
    std::vector<Change> expected, changes;
    for(int part = 0; part != 25; ++part) {
        for(int i = 0; i != 16; ++i) {
            const std::string name = "w/a-file-name-long-enough-to-fill-notification-buffers-" + std::to_string(part*16 + i);
            write(name, "1");
            expected.push_back({at(name), Event::Add});
            expected.push_back({at(name), Event::Modify});
        }
        const std::vector<Change> settled = settle(watcher);
        changes.insert(changes.end(), settled.begin(), settled.end());
    }
    EXPECT_EQ(changes, expected);
}

TEST_F(FileWatchWindowsTest, File) {
    write("w/target");
    FileWatch watcher;
    std::vector<Change> file;
    ASSERT_EQ(watcher.watch(at("w/target").data(), recorder(file)), 1);
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 2);

    write("w/target", "1");
    write("w/sibling", "1");
    fs::rename(at("w/target"), at("w/renamed"));
    fs::rename(at("w/renamed"), at("w/target"));
    fs::remove(at("w/target"));
    settle(watcher);
    file.erase(std::unique(file.begin(), file.end()), file.end());
    std::vector<Change> expected;
    for(const Event event: {Event::Modify, Event::RenameOld, Event::RenameNew, Event::Remove})
        expected.push_back({at("w/target"), event});
    EXPECT_EQ(file, expected);
}

TEST_F(FileWatchWindowsTest, RemoveClearDestroy) {
    {
        FileWatch watcher;
        std::vector<Change> removed, inner;
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(removed)), 2);
        ASSERT_EQ(watcher.watch(at("w/old").data(), recorder(inner)), 3);
        EXPECT_TRUE(isOpen(at("w")));
        EXPECT_TRUE(isOpen(at("w/old")));

        /* The folder of the last watch removed is closed once its cancelled
           read comes back, in the next update(), and reports nothing more */
        watcher.remove(2);
        watcher.remove(3);
        EXPECT_EQ(watcher.size(), 1u);
        write("w/old/x");
        write("w/x");
        EXPECT_TRUE(contains(settle(watcher), {at("w/x"), Event::Add}));
        EXPECT_TRUE(isOpen(at("w")));
        EXPECT_FALSE(isOpen(at("w/old")));
        EXPECT_TRUE(removed.empty());
        EXPECT_TRUE(inner.empty());

        /* Queued before clear(), so delivered after it; created after it, so
           never read */
        writeWitnessed("w/c");
        watcher.clear();
        EXPECT_FALSE(isOpen(at("w")));
        EXPECT_EQ(watcher.size(), 1u);
        writeWitnessed("w/e");
        EXPECT_TRUE(watcher.update());
        EXPECT_EQ(log, (std::vector<Change>{{at("w/c"), Event::Add}}));
        EXPECT_FALSE(watcher.update());
    }
    log.clear();
    {
        FileWatch watcher;
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
        /* Dropped by the destructor without a call */
        writeWitnessed("w/f");
    }
    EXPECT_FALSE(isOpen(at("w")));
    EXPECT_TRUE(log.empty());
}

}}
