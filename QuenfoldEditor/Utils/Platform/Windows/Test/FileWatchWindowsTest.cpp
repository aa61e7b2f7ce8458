#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <windows.h>

#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Test { namespace {

/* Wine's ntdll exports its version, Windows' does not. Where Wine reports
   changes differently from Windows, the Windows expectation stays and only
   its check is skipped. */
bool runsUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

/* Whether a handle on the folder is open somewhere: then the folder cannot
   be opened without sharing */
bool isOpen(const std::string& folder) {
    const HANDLE handle = CreateFileA(folder.data(), FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if(handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
}

/* The changes without the Modify of the folders, which Windows reports
   whenever a folder's entries change and Wine never, and with repeats of a
   change in a row told once: Windows may report one write as several */
std::vector<Change> withoutFolderModify(std::vector<Change> changes, const std::vector<std::string>& folders) {
    changes.erase(std::remove_if(changes.begin(), changes.end(), [&](const Change& change) {
        return change.event == Event::Modify && std::find(folders.begin(), folders.end(), change.path) != folders.end();
    }), changes.end());
    changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
    return changes;
}

using FileWatchWindowsTest = TreeOnDisk;

TEST_F(FileWatchWindowsTest, FilesInTheFolderAndInANewSubfolder) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);

    const Step steps[]{
        {[&] { write("w/f", "1"); }, {{"w/f", Event::Add}, {"w/f", Event::Modify}}},
        {[&] { write("w/f", "2"); }, {{"w/f", Event::Modify}}},
        {[&] { fs::rename(at("w/f"), at("w/g")); }, {{"w/f", Event::RenameOld}, {"w/g", Event::RenameNew}}},
        {[&] { fs::remove(at("w/g")); }, {{"w/g", Event::Remove}}},
        {[&] { fs::create_directory(at("w/n")); }, {{"w/n", Event::Add}}},
        {[&] { write("w/n/f", "1"); }, {{"w/n/f", Event::Add}, {"w/n/f", Event::Modify}}},
        {[&] { fs::rename(at("w/n/f"), at("w/n/g")); }, {{"w/n/f", Event::RenameOld}, {"w/n/g", Event::RenameNew}}},
        {[&] { fs::remove(at("w/n/g")); }, {{"w/n/g", Event::Remove}}},
        {[&] { fs::remove(at("w/n")); }, {{"w/n", Event::Remove}}},
    };
    for(std::size_t i = 0; i != std::size(steps); ++i) {
        steps[i].operation();
        EXPECT_EQ(withoutFolderModify(settle(watcher), {"w/n"}), steps[i].expected) << "step " << i;
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
    EXPECT_TRUE(contains(changes, {"w/n", Event::Modify}));
}

TEST_F(FileWatchWindowsTest, SubfolderThatExistedBeforeTheWatch) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    write("w/d/f", "1");
    const std::vector<Change> changes = settle(watcher);
    if(runsUnderWine()) GTEST_SKIP() << "Wine reports no change inside a subfolder that existed before the watch began";
    EXPECT_EQ(withoutFolderModify(changes, {"w/d"}), (std::vector<Change>{{"w/d/f", Event::Add}, {"w/d/f", Event::Modify}}));
}

TEST_F(FileWatchWindowsTest, MoveBetweenSubfolders) {
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    fs::create_directory(at("w/a"));
    fs::create_directory(at("w/b"));
    write("w/a/f", "1");
    settle(watcher);
    fs::rename(at("w/a/f"), at("w/b/f"));
    const std::vector<Change> changes = withoutFolderModify(settle(watcher), {"w/a", "w/b"});
    if(runsUnderWine()) GTEST_SKIP() << "Wine reports a move between subfolders as RenameOld and RenameNew, not Remove and Add";
    EXPECT_EQ(changes, (std::vector<Change>{{"w/a/f", Event::Remove}, {"w/b/f", Event::Add}}));
}

/* More changes between two reads than the buffer holds, in a subfolder made
   after the watch began and in the folder itself: by default the folder goes
   silent; resynchronizing, every file is reported and the folder reads on */
TEST_F(FileWatchWindowsTest, BurstsLargerThanTheBuffer) {
    for(const FileWatch::Flags flags: {FileWatch::Flags{}, FileWatch::Flags{FileWatch::Flag::Resynchronize}}) {
        for(const std::string& burst: {std::string{"w/new/"}, std::string{"w/burst-"}}) {
            SCOPED_TRACE(burst + (flags ? " resynchronizing" : ""));
            fs::remove_all(at("w"));
            fs::create_directory(at("w"));
            log.clear();
            const Corrade::Utility::Warning silenced{nullptr};
            FileWatch watcher{flags};
            ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
            const int count = burst == "w/new/" ? 1000 : 2000;
            if(count == 1000) fs::create_directory(at("w/new"));
            for(int i = 0; i != count; ++i) write(burst + std::to_string(i));

            if(flags) {
                const std::vector<Change> changes = settle(watcher);
                for(int i = 0; i != count; ++i)
                    EXPECT_TRUE(contains(changes, {burst + std::to_string(i), Event::Add})) << i;
                write("w/after");
                EXPECT_EQ(withoutFolderModify(settle(watcher), {}), (std::vector<Change>{{"w/after", Event::Add}}));
                continue;
            }

            deliverUntilQuiet(watcher, log);
            EXPECT_LT(std::count_if(log.begin(), log.end(), [](const Change& change) { return change.event == Event::Add; }), count);
            log.clear();
            write("w/after");
            deliverUntilQuiet(watcher, log);
            EXPECT_EQ(log, std::vector<Change>{});
        }
    }
}

/* A folder is closed once the cancelled read of its last watch has come
   back, in the next update(); by clear() at once; and by the destructor */
TEST_F(FileWatchWindowsTest, RemoveClearDestroy) {
    {
        FileWatch watcher;
        ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
        ASSERT_EQ(watcher.watch(at("w/d").data(), {}), 2);
        EXPECT_TRUE(isOpen(at("w")));
        EXPECT_TRUE(isOpen(at("w/d")));
        watcher.remove(2);
        settle(watcher);
        EXPECT_TRUE(isOpen(at("w")));
        EXPECT_FALSE(isOpen(at("w/d")));
        watcher.clear();
        EXPECT_FALSE(isOpen(at("w")));
    }
    {
        FileWatch watcher;
        ASSERT_EQ(watcher.watch(at("w").data(), {}), 1);
    }
    EXPECT_FALSE(isOpen(at("w")));
}

}}}
