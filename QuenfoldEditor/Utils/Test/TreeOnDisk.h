#ifndef QuenfoldEditor_Utils_Test_TreeOnDisk_h
#define QuenfoldEditor_Utils_Test_TreeOnDisk_h
/* A real tree on disk for the file watcher's tests, on every platform:
   root/w is what they watch, with the subdirectory w/d there before any
   watch, and root/out lies outside it */

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

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"

namespace QuenfoldEngine { namespace Test {

namespace fs = std::filesystem;
using Event = FileWatch::Event;

/* A delivered change, with the path relative to the tree's root */
struct Change {
    std::string path;
    Event event;
    bool operator==(const Change& other) const { return path == other.path && event == other.event; }
    bool operator<(const Change& other) const { return path < other.path || (path == other.path && event < other.event); }
};

/* Something done to the tree, and the changes it should bring */
struct Step {
    std::function<void()> operation;
    std::vector<Change> expected;
};

inline void PrintTo(const Change& change, std::ostream* out) {
    Corrade::Utility::Debug{out, Corrade::Utility::Debug::Flag::NoNewlineAtTheEnd} << change.path.data() << change.event;
}

#ifdef __linux__
inline std::size_t openDescriptors() {
    return std::distance(fs::directory_iterator{"/proc/self/fd"}, fs::directory_iterator{});
}
#endif

/* Removed also when a failure ends the test early */
struct TreeOnDisk: testing::Test {
    void SetUp() override {
        base = fs::temp_directory_path()/("quenfold-filewatch-" + std::to_string(std::random_device{}()));
        ASSERT_TRUE(fs::create_directories(base/"w"/"d") && fs::create_directories(base/"out"/"tree"));
        const Corrade::Containers::String absolute = Path::absolute(base.string().data());
        root = {absolute.data(), absolute.size()};
    }

    void TearDown() override { fs::remove_all(base); EXPECT_EQ(strayCalls, 0); }

    std::string at(const std::string& name) const { return root + "/" + name; }

    void write(const std::string& name, const char* text = "") const { std::ofstream{at(name), std::ios::app} << text; }

    /* Also counts calls made outside update() or on another thread */
    FileWatch::Callback recorder(std::vector<Change>& to) {
        return [this, &to](const Corrade::Containers::StringView path, const Event event) {
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

    /* Polls until the condition holds, for half a minute at most */
    bool poll(FileWatch& watcher, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{30};
        while(deliver(watcher), !done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds{2});
        return done();
    }

    /* Delivers until nothing new has come for a while, for changes that
       are not to come */
    void deliverUntilQuiet(FileWatch& watcher, const std::vector<Change>& changes) {
        for(std::size_t quiet = 0, delivered = 0; quiet != 50; delivered = changes.size()) {
            deliver(watcher);
            quiet = changes.size() == delivered ? quiet + 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds{5});
        }
    }

    static bool contains(const std::vector<Change>& changes, const Change& change) {
        return std::find(changes.begin(), changes.end(), change) != changes.end();
    }

    /* A file created in w after the changes is reported by the same reads
       after them, so once it arrives everything before it has. Needs a watch
       with recorder(log) on w. Returns and clears the log, without the
       fences. */
    std::vector<Change> settle(FileWatch& watcher) {
        const std::string fence = "w/.fence" + std::to_string(fences++);
        write(fence);
        EXPECT_TRUE(poll(watcher, [&] { return contains(log, {fence, Event::Add}); })) << fence;
        std::vector<Change> changes = std::exchange(log, {});
        changes.erase(std::remove_if(changes.begin(), changes.end(), [](const Change& change) {
            return change.path.rfind("w/.fence", 0) == 0;
        }), changes.end());
        return changes;
    }

    fs::path base;
    std::string root;
    std::vector<Change> log;
    int fences = 0, strayCalls = 0;
    bool delivering = false;
    const std::thread::id owner = std::this_thread::get_id();
};

}}

#endif
