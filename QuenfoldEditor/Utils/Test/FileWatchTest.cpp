#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <gtest/gtest.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "QuenfoldEditor/Utils/Platform/Scripted/DirectoryChanges.h"

namespace QuenfoldEngine {

using namespace Corrade;
using namespace Platform;

namespace {

using Scripted::Failing;

/* Notification records as the platform writes them, linked, the last one
   with a NextEntryOffset of 0. Windows starts each on a four-byte boundary;
   Wine puts them back to back, two-byte aligned through their names. */
std::string records(const std::initializer_list<std::pair<DWORD, std::u16string>> records, const std::size_t alignment = 4) {
    std::string bytes;
    for(const auto& record: records) {
        const DWORD start = DWORD(bytes.size());
        const DWORD header[]{0, record.first, DWORD(2*record.second.size())};
        bytes.append(reinterpret_cast<const char*>(header), sizeof(header));
        bytes.append(reinterpret_cast<const char*>(record.second.data()), 2*record.second.size());
        bytes.resize((bytes.size() + alignment - 1)/alignment*alignment, '\0');
        /* Linked to the next one, unless last */
        const DWORD next = &record == records.end() - 1 ? 0 : DWORD(bytes.size()) - start;
        std::memcpy(&bytes[start], &next, sizeof(DWORD));
    }
    return bytes;
}

std::string eventText(const FileWatch::Event event) {
    std::ostringstream out;
    Utility::Debug{&out, Utility::Debug::Flag::NoNewlineAtTheEnd} << event;
    return out.str();
}

/* Errors and warnings into one stream, in the order printed */
struct Capture {
    explicit Capture(std::ostream& out): error{&out}, warning{&out} {}
    Utility::Error error;
    Utility::Warning warning;
};

/* A tree on disk for the watcher to resolve; the scripted backend stands in
   for the directory-change service. Paths in calls, messages and the
   callback log are given without the tree's root. */
struct FileWatchTest: testing::Test {
    void SetUp() override {
        Scripted::reset();
        base = std::filesystem::temp_directory_path()/("quenfold-filewatch-" + std::to_string(std::random_device{}()));
        for(const char* directory: {"d/sub", "a/b", "a/bc"}) std::filesystem::create_directories(base/directory);
        for(const char* file: {"d/a.txt", "d/b.txt", "d/sub/a.txt"}) std::ofstream{base/file};
        const std::string native = base.string();
        const Containers::String absolute = Path::absolute(native.c_str());
        root = {absolute.data(), absolute.size()};
    }

    void TearDown() override { std::filesystem::remove_all(base); }

    std::string at(const char* path) const { return root + path; }

    /* No handles, calls, callbacks or messages yet */
    void restart() {
        Scripted::reset();
        log.clear();
        out.str({});
    }

    std::string relative(std::string text) const {
        for(std::size_t found; (found = text.find(root)) != std::string::npos; ) text.erase(found, root.size());
        return text;
    }

    /* The calls since the last time, one per line */
    std::string calls() const { return relative(Scripted::calls()); }
    std::string messages() const { return relative(out.str()); }

    int watch(FileWatch& watcher, const char* path, FileWatch::Callback callback) {
        const std::string absolute = at(path);
        return watcher.watch(absolute.c_str(), std::move(callback));
    }

    FileWatch::Callback recorder(const std::string& tag) {
        return [this, tag](const Containers::StringView path, const FileWatch::Event event) {
            log += tag + " " + relative({path.data(), path.size()}) + " " + eventText(event) + "\n";
        };
    }

    std::filesystem::path base;
    std::string root, log;
    std::ostringstream out;
};

std::string armed(const char* handle) {
    return "ReadDirectoryChangesW " + std::string{handle} + " 10240 1 0x53\n";
}

TEST_F(FileWatchTest, IdsSharingAndRemoval) {
    FileWatch watcher;
    EXPECT_EQ(watcher.size(), 0u);
    EXPECT_EQ(watch(watcher, "/missing", {}), 0);
    EXPECT_EQ(watch(watcher, "/d/a.txt", recorder("w2")), 2);
    EXPECT_EQ(watch(watcher, "/d/b.txt", recorder("w3")), 3);
    EXPECT_EQ(watch(watcher, "/d/a.txt", recorder("w4")), 4);
    EXPECT_EQ(watch(watcher, "/d/sub", recorder("w5")), 5);
    EXPECT_EQ(watcher.size(), 4u);
    EXPECT_EQ(calls(), "CreateFileA /d 1 7 3 0x42000000 -> h1\n" + armed("h1") + "CreateFileA /d/sub 1 7 3 0x42000000 -> h2\n" + armed("h2"));

    /* The last watch fills the gap */
    for(const int id: {0, -1, 1, 6, 99, 2, 2}) watcher.remove(id);
    EXPECT_EQ(watcher.size(), 3u);
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{3, u"a.txt"}, {3, u"b.txt"}, {1, u"sub\\c.txt"}})));
    EXPECT_TRUE(watcher.update());
    EXPECT_EQ(log, "w4 /d/a.txt FileWatch::Event::Modify\nw3 /d/b.txt FileWatch::Event::Modify\nw5 /d/sub/c.txt FileWatch::Event::Add\n");
    EXPECT_EQ(calls(), "SleepEx 0 1\n" + armed("h1"));

    /* The moved watch keeps its id. The aborted read closes its handle;
       the one that had completed decodes against an empty path, matches
       nothing and is armed again. */
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{1, u"a.txt"}})));
    for(const int id: {5, 4, 3}) watcher.remove(id);
    EXPECT_FALSE(watcher.update());
    EXPECT_EQ(calls(), "CancelIo h2\nCancelIo h1\nSleepEx 0 1\n" + armed("h1") + "CloseHandle h2\n");

    /* A retired directory is opened anew */
    EXPECT_EQ(watch(watcher, "/d", {}), 6);
    EXPECT_EQ(calls(), "CreateFileA /d 1 7 3 0x42000000 -> h3\n" + armed("h3"));
}

std::string patched(std::string bytes, const std::size_t offset, const DWORD value) {
    bytes.resize(std::max(bytes.size(), offset + 4));
    std::memcpy(&bytes[offset], &value, 4);
    return bytes;
}

/* What a read brings, and what becomes of the read */
TEST_F(FileWatchTest, CompletedRead) {
    const std::string two = records({{1, u"a"}, {2, u"b"}}), modify = records({{3, u"a.txt"}});
    const std::string a = "w /d/a FileWatch::Event::Add\n", rearmed = "SleepEx 0 1\n" + armed("h1");
    struct Case {
        const char* name;
        std::string bytes, log;
        DWORD error, byteCount, refusedRead;
        std::string calls, handles, messages;
    };
    const auto decoded = [&](const char* name, std::string bytes, std::string log) {
        /* Re-armed also when nothing was decoded */
        return Case{name, std::move(bytes), std::move(log), 0, ~DWORD{}, 0, rearmed, "h1 reading", ""};
    };
    const Case cases[]{
        decoded("subdirectory", records({{3, u"textures\\a.png"}}), "w /d/textures/a.png FileWatch::Event::Modify\n"),
        decoded("duplicates", records({{1, u"a"}, {1, u"a"}, {1, u"a"}}), a + a + a),
        decoded("two and three bytes", records({{1, u"\u00e9"}, {1, u"\u20ac"}}), "w /d/\xc3\xa9 FileWatch::Event::Add\nw /d/\xe2\x82\xac FileWatch::Event::Add\n"),
        decoded("surrogates", records({{1, u"\U0001F600"}, {1, u"\xdc00x\xd800"}}), "w /d/\xf0\x9f\x98\x80 FileWatch::Event::Add\nw /d/\xed\xb0\x80x\xed\xa0\x80 FileWatch::Event::Add\n"),
        decoded("action 0 first", records({{0, u"a"}, {1, u"b"}}), ""),
        decoded("unknown action", records({{9, u"b"}, {1, u"a"}}), a),
        decoded("last link", records({{1, u"a"}}) + records({{2, u"b"}}), a),
        decoded("unaligned links", records({{4, u"a.txt"}, {5, u"bc.txt"}, {3, u"bc.txt"}}, 2),
            "w /d/a.txt FileWatch::Event::RenameOld\nw /d/bc.txt FileWatch::Event::RenameNew\nw /d/bc.txt FileWatch::Event::Modify\n"),
        decoded("fields across the end", patched(patched(two, 0, 10232), 10236, 1), a),
        decoded("link past the end", patched(two, 0, 10244), a),
        decoded("name across the end", patched(two, 8, 20000), ""),
        {"aborted", modify, "", 995, 0, 0, "SleepEx 0 1\nCloseHandle h1\n", "h1 closed", ""},
        {"failed", modify, "", 5, 20, 0, "SleepEx 0 1\n", "h1 open", ""},
        {"refused re-arm", modify, "w /d/a.txt FileWatch::Event::Modify\n", 0, 20, 5, rearmed, "h1 open", "ReadDirectoryChangesW failed: 5\n"},
    };
    for(const Case& data: cases) {
        SCOPED_TRACE(data.name);
        restart();
        const Capture capture{out};
        FileWatch watcher;
        watch(watcher, "/d", recorder("w"));
        calls();
        ASSERT_TRUE(Scripted::complete(at("/d"), data.bytes, data.error, data.byteCount));
        Scripted::fail(Failing::NextRead, data.refusedRead);
        EXPECT_EQ(watcher.update(), !data.log.empty());
        EXPECT_EQ(log, data.log);
        EXPECT_EQ(calls(), data.calls);
        EXPECT_EQ(Scripted::handles(), data.handles);
        EXPECT_EQ(messages(), data.messages);
    }

    /* A refused first read keeps the watch, and so does an open refused for
       another reason than a missing directory; teardown waits for neither.
       Only a directory gone before it was opened registers nothing. */
    restart();
    const Capture capture{out};
    {
        FileWatch watcher;
        Scripted::fail(Failing::NextRead, 87);
        EXPECT_EQ(watch(watcher, "/d", {}), 1);
        Scripted::fail(Failing::NextOpen, 5);
        EXPECT_EQ(watch(watcher, "/a", {}), 2);
        Scripted::fail(Failing::NextOpen, 3);
        EXPECT_EQ(watch(watcher, "/a/bc", {}), 0);
        EXPECT_EQ(watch(watcher, "/a/b", {}), 4);
        EXPECT_EQ(watcher.size(), 3u);
        EXPECT_EQ(Scripted::handles(), "h1 open, h2 reading");
        EXPECT_EQ(messages(), "ReadDirectoryChangesW failed: 87\nReadDirectoryChangesW failed: 6\nDirectory doesn't exist\n");
        calls();
    }
    EXPECT_EQ(calls(), "CancelIo h1\nCancelIoEx h1\nCloseHandle h1\nCancelIo invalid\nCancelIo h2\nCancelIoEx h2\nSleepEx 0 1\nCloseHandle h2\n");
}

TEST_F(FileWatchTest, Matching) {
    FileWatch watcher;
    watch(watcher, "/a", recorder("dirA"));
    watch(watcher, "/a/b", recorder("dirB"));
    watch(watcher, "/d/a.txt", recorder("fileA"));
    watch(watcher, "/d", recorder("dirD"));
    watch(watcher, "/d/sub/a.txt", recorder("subA"));
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{3, u"sub\\a.txt"}, {3, u"b.txt"}})));
    ASSERT_TRUE(Scripted::complete(at("/a"), records({{1, u"bc\\x"}, {2, u"b"}})));
    ASSERT_TRUE(Scripted::complete(at("/d/sub"), records({{3, u"a.txt"}})));
    EXPECT_TRUE(watcher.update());
    /* A change below two watched directories comes twice */
    const std::string subA = " /d/sub/a.txt FileWatch::Event::Modify\n";
    EXPECT_EQ(log,
        "fileA" + subA + "dirD" + subA + "subA" + subA +
        "dirD /d/b.txt FileWatch::Event::Modify\n"
        "dirA /a/bc/x FileWatch::Event::Add\ndirB /a/bc/x FileWatch::Event::Add\n"
        "dirA /a/b FileWatch::Event::Remove\ndirB /a/b FileWatch::Event::Remove\n"
        "fileA" + subA + "dirD" + subA + "subA" + subA);
    EXPECT_FALSE(watcher.update());
}

TEST_F(FileWatchTest, Delivery) {
    const Capture capture{out};
    FileWatch watcher;
    EXPECT_FALSE(watcher.update());
    watch(watcher, "/d", [&](Containers::StringView, FileWatch::Event) {
        log += "removes\n";
        watcher.remove(1);
        watcher.remove(3);
    });
    watch(watcher, "/d", [&](Containers::StringView, FileWatch::Event) {
        log += "throws\n";
        throw std::runtime_error{"callback"};
    });
    watch(watcher, "/d", recorder("removed"));
    watch(watcher, "/d", {});
    watch(watcher, "/d", recorder("last"));
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{3, u"a.txt"}})));
    EXPECT_TRUE(watcher.update());
    EXPECT_EQ(log, "removes\nthrows\n");
    EXPECT_EQ(messages(),
        "FileWatch::update(): Callback index 3 out of range of 3 elements\n"
        "FileWatch::update(): Callback index 4 out of range of 3 elements\n");

    /* Anything else than a std::exception drops the rest of the batch */
    watch(watcher, "/d", [](Containers::StringView, FileWatch::Event) { throw 42; });
    log.clear();
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{1, u"x"}, {1, u"y"}})));
    EXPECT_THROW(watcher.update(), int);
    EXPECT_EQ(log, "last /d/x FileWatch::Event::Add\nthrows\n");
    EXPECT_FALSE(watcher.update());
}

/* A read that lost changes, on a tree that changed meanwhile: by default
   the directory goes silent; resynchronizing, it reads on and tells what
   changed, and then only what changes after */
TEST_F(FileWatchTest, LostChanges) {
    const std::string told =
        "w /d/b.txt FileWatch::Event::Remove\n"
        "w /d/a.txt FileWatch::Event::Modify\n"
        "w /d/new.txt FileWatch::Event::Add\n"
        "w /d/sub/deeper FileWatch::Event::Add\n"
        "w /d/sub/deeper/x FileWatch::Event::Add\n";
    const std::string lost = "FileWatch::update(): changes lost in /d, resynchronized with ";
    for(const FileWatch::Flags flags: {FileWatch::Flags{}, FileWatch::Flags{FileWatch::Flag::Resynchronize}}) for(const DWORD error: {DWORD(0), DWORD(ERROR_NOTIFY_ENUM_DIR)}) {
        SCOPED_TRACE(std::to_string(error) + (flags ? " resynchronizing" : ""));
        restart();
        const Capture capture{out};
        FileWatch watcher{flags};
        EXPECT_EQ(watcher.flags(), flags);
        watch(watcher, "/d", recorder("w"));
        calls();

        std::ofstream{at("/d/new.txt")};
        std::ofstream{at("/d/a.txt"), std::ios::app} << "more";
        std::filesystem::remove(at("/d/b.txt"));
        std::filesystem::create_directory(at("/d/sub/deeper"));
        std::ofstream{at("/d/sub/deeper/x")};
        ASSERT_TRUE(Scripted::complete(at("/d"), "", error, 0));
        EXPECT_EQ(watcher.update(), bool(flags));
        EXPECT_EQ(log, flags ? told : "");
        EXPECT_EQ(calls(), "SleepEx 0 1\n" + (flags ? armed("h1") : ""));
        EXPECT_EQ(Scripted::handles(), flags ? "h1 reading" : "h1 open");
        EXPECT_EQ(messages(), flags ? lost + "5 differences\n" : "");

        /* What was told is no difference the next time */
        if(flags) {
            log.clear();
            out.str({});
            std::ofstream{at("/d/c.txt")};
            ASSERT_TRUE(Scripted::complete(at("/d"), records({{1, u"c.txt"}})));
            EXPECT_TRUE(watcher.update());
            ASSERT_TRUE(Scripted::complete(at("/d"), "", error, 0));
            EXPECT_FALSE(watcher.update());
            EXPECT_EQ(log, "w /d/c.txt FileWatch::Event::Add\n");
            EXPECT_EQ(messages(), lost + "0 differences\n");
            std::filesystem::remove(at("/d/c.txt"));
        }

        std::filesystem::remove(at("/d/new.txt"));
        std::filesystem::remove_all(at("/d/sub/deeper"));
        std::ofstream{at("/d/a.txt"), std::ios::trunc};
        std::ofstream{at("/d/b.txt")};
    }

    /* A tree that cannot be read any more tells nothing */
    out.str({});
    const Capture capture{out};
    FileWatch watcher{FileWatch::Flag::Resynchronize};
    watch(watcher, "/a/b", recorder("w"));
    std::filesystem::remove(at("/a/b"));
    ASSERT_TRUE(Scripted::complete(at("/a/b"), "", 0, 0));
    EXPECT_FALSE(watcher.update());
    EXPECT_EQ(messages(), "");
}

TEST_F(FileWatchTest, ClearAndTeardown) {
    {
        const Capture capture{out};
        FileWatch watcher;
        watcher.clear();
        EXPECT_EQ(calls(), "SleepEx 0 1\n");

        /* The read of /a completed but did not run: its handle closes at
           once and its changes are decoded inside the wait */
        watch(watcher, "/d", recorder("d"));
        watch(watcher, "/a", recorder("a"));
        calls();
        ASSERT_TRUE(Scripted::complete(at("/a"), records({{1, u"n"}})));
        watcher.clear();
        EXPECT_EQ(calls(), "CancelIo h1\nCancelIoEx h1\nCancelIo h2\nCancelIoEx h2\nCloseHandle h2\nSleepEx 0 1\n" + armed("null") + "CloseHandle h1\n");
        EXPECT_EQ(Scripted::handles(), "h1 closed, h2 closed");
        EXPECT_EQ(watcher.size(), 2u);
        EXPECT_TRUE(watcher.update());
        EXPECT_EQ(log, "a /a/n FileWatch::Event::Add\n");

        /* Found by its path, so not opened again */
        EXPECT_EQ(watch(watcher, "/d", {}), 3);
        watcher.remove(2);
        watcher.remove(1);
        EXPECT_EQ(calls(), "SleepEx 0 1\nCancelIo null\n");
        EXPECT_EQ(messages(), "ReadDirectoryChangesW failed: 6\nFileWatch::remove(): windows error 6\n");
    }
    EXPECT_EQ(calls(), "SleepEx 0 1\n");

    /* A refused CancelIoEx still lets the abort close the handle; a read
       that is never cancelled outlives the watcher, which waits for it a
       while first */
    const struct {
        Failing failing;
        std::string calls, waits, handles, messages;
    } cases[]{
        {Failing::CancelIoEx, "CancelIo h1\nCancelIoEx h1\nSleepEx 0 1\nCloseHandle h1\n", "", "h1 closed", "FileWatch::clear(): windows error 5\n"},
        {Failing::CancelIo, "CancelIo h1\nSleepEx 0 1\n", "(SleepEx [1-9][0-9]* 1\n)+", "h1 reading", ""},
    };
    for(const auto& data: cases) {
        restart();
        {
            const Capture capture{out};
            FileWatch watcher;
            watch(watcher, "/d", recorder("d"));
            Scripted::fail(data.failing, 5);
            calls();
        }
        /* Then waits for the read, how long and how often being the
           watcher's own business */
        const std::string made = calls();
        EXPECT_EQ(made.substr(0, data.calls.size()), data.calls);
        EXPECT_TRUE(std::regex_match(made.substr(data.calls.size()), std::regex{data.waits})) << made;
        EXPECT_EQ(Scripted::handles(), data.handles);
        EXPECT_EQ(messages(), data.messages);
    }

    /* Its late completion touches nothing of the watcher */
    ASSERT_TRUE(Scripted::complete(at("/d"), records({{1, u"z"}})));
    EXPECT_EQ(SleepEx(0, TRUE), 0xc0u);
    EXPECT_EQ(calls(), "SleepEx 0 1\n");
    EXPECT_EQ(log, "");
}

TEST(FileWatchEvent, Debug) {
    static_assert(sizeof(FileWatch::Event) == 1, "");
    const char* const names[]{"Add", "Remove", "Modify", "RenameOld", "RenameNew", "Invalid()", "Invalid()"};
    for(unsigned value = 0; value != 7; ++value)
        EXPECT_EQ(eventText(FileWatch::Event(value == 6 ? 255 : value)), std::string{"FileWatch::Event::"} + names[value]);
}

}}
