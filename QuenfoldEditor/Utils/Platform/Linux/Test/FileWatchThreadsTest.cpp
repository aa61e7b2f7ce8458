#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Test { namespace {

/* The directory each thread writes in and those its watcher watches: b lies
   in a and d in c, and the third thread watches b beside c. Each thread has
   a second watcher that comes and goes on <own>/t<thread>-churn. */
const struct {
    const char* own;
    std::vector<std::string> watched;
} Threads[]{
    {"a", {"a"}},
    {"a/b", {"a/b"}},
    {"c", {"c", "a/b"}},
    {"c/d", {"c/d"}}
};
constexpr std::size_t ThreadCount = 4;
/* Destroys its watchers while the others sleep in update(), and watches
   again */
constexpr std::size_t Destroyer = 3;
constexpr int Rounds = 48, LaterRounds = 8;

/* What a thread creates in a round: every fourth round a directory, then a
   file written in it, and a file in its churn directory */
struct Round {
    std::string directory, file, churned;
};

std::string prefix(const std::size_t thread) {
    return std::string{Threads[thread].own} + "/t" + std::to_string(thread);
}

std::string churnDirectory(const std::size_t thread) {
    return prefix(thread) + "-churn";
}

Round round(const std::size_t thread, const int number) {
    const std::string directory = prefix(thread) + "-s" + std::to_string(number/4);
    return {number % 4 ? std::string{} : directory, directory + "/f" + std::to_string(number), churnDirectory(thread) + "/c" + std::to_string(number)};
}

bool isBelow(const std::string& path, const std::string& directory) {
    return path.rfind(directory + "/", 0) == 0;
}

/* Everything created in the rounds below one of the directories, sorted */
std::vector<std::string> createdBelow(const std::vector<std::string>& directories, const int from, const int to) {
    std::vector<std::string> out;
    for(std::size_t thread = 0; thread != ThreadCount; ++thread) for(int number = from; number != to; ++number) {
        const Round r = round(thread, number);
        for(const std::string* path: {&r.directory, &r.file, &r.churned})
            for(const std::string& directory: directories)
                if(isBelow(*path, directory)) out.push_back(*path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> added(const std::vector<Change>& changes) {
    std::vector<std::string> out;
    for(const Change& change: changes) if(change.event == Event::Add) out.push_back(change.path);
    std::sort(out.begin(), out.end());
    return out;
}

/* Lets the threads on together once all have arrived */
class Barrier {
    public:
        void arrive() {
            std::unique_lock<std::mutex> lock{_mutex};
            const int generation = _generation;
            if(++_arrived == ThreadCount) {
                _arrived = 0;
                ++_generation;
                _changed.notify_all();
            } else _changed.wait(lock, [&] { return _generation != generation; });
        }

    private:
        std::mutex _mutex;
        std::condition_variable _changed;
        std::size_t _arrived = 0;
        int _generation = 0;
};

struct FileWatchThreadsTest: TreeOnDisk {
    void SetUp() override {
        TreeOnDisk::SetUp();
        for(std::size_t thread = 0; thread != ThreadCount; ++thread)
            fs::create_directories(at(churnDirectory(thread)));
    }

    /* Also counts calls on a thread other than the one that made it */
    FileWatch::Callback recorder(std::vector<Change>& to, std::atomic<int>& strays) const {
        return [this, &to, &strays, owner = std::this_thread::get_id()](const Corrade::Containers::StringView path, const Event event) {
            if(std::this_thread::get_id() != owner) ++strays;
            to.push_back({std::string{path.data(), path.size()}.substr(root.size() + 1), event});
        };
    }

    /* Updates the watchers until the condition holds, for half a minute at
       most */
    static bool until(std::initializer_list<FileWatch*> watchers, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{30};
        while(!done() && std::chrono::steady_clock::now() < deadline)
            for(FileWatch* const watcher: watchers) watcher->update(10);
        return done();
    }

    /* Writes the rounds; in each, the churn watcher watches, sees the
       round's file in its directory and is removed */
    void traffic(const std::size_t thread, const int from, const int to, FileWatch& watcher, FileWatch& churn) {
        std::vector<Change> churned;
        for(int number = from; number != to; ++number) {
            const Round r = round(thread, number);
            if(!r.directory.empty()) fs::create_directory(at(r.directory));
            write(r.file, "x");
            const int id = churn.watch(at(churnDirectory(thread)).data(), recorder(churned, strays));
            EXPECT_GT(id, 0);
            write(r.churned);
            EXPECT_TRUE(until({&watcher, &churn}, [&] { return contains(churned, {r.churned, Event::Add}); })) << r.churned;
            churn.remove(id);
        }
        for(const Change& change: churned) EXPECT_TRUE(isBelow(change.path, churnDirectory(thread))) << change.path;
    }

    void run(std::size_t thread);

    Barrier barrier;
    std::atomic<int> strays{0}, asleep{0};
    std::atomic<bool> destroyed{false};
};

void FileWatchThreadsTest::run(const std::size_t thread) {
    const std::vector<std::string>& watched = Threads[thread].watched;
    std::vector<Change> changes;
    std::optional<FileWatch> watcher{std::in_place}, churn{std::in_place};
    const auto watchAll = [&] {
        for(std::size_t i = 0; i != watched.size(); ++i)
            EXPECT_EQ(watcher->watch(at(watched[i]).data(), recorder(changes, strays)), int(i + 1));
    };
    /* Waits for as many additions as expected, then compares; nothing
       comes from outside the watched trees, and nothing was removed or
       renamed */
    const auto check = [&](const int from, const int to) {
        const std::vector<std::string> expected = createdBelow(watched, from, to);
        until({&*watcher, &*churn}, [&] { return added(changes).size() >= expected.size(); });
        EXPECT_EQ(added(changes), expected) << "thread " << thread;
        for(const Change& change: changes) {
            EXPECT_TRUE(std::any_of(watched.begin(), watched.end(), [&](const std::string& directory) { return isBelow(change.path, directory); })) << change.path;
            EXPECT_TRUE(change.event == Event::Add || change.event == Event::Modify) << change.path;
        }
    };

    barrier.arrive();
    watchAll();
    barrier.arrive();
    traffic(thread, 0, Rounds, *watcher, *churn);
    barrier.arrive();
    check(0, Rounds);
    barrier.arrive();

    int from = 0;
    if(thread == Destroyer) {
        /* Most likely they are asleep by then */
        while(asleep != ThreadCount - 1) std::this_thread::sleep_for(std::chrono::milliseconds{1});
        std::this_thread::sleep_for(std::chrono::milliseconds{20});
        watcher.reset();
        churn.reset();
        changes.clear();
        from = Rounds;
        watcher.emplace();
        churn.emplace();
        watchAll();
        destroyed = true;
    } else {
        ++asleep;
        while(!destroyed) watcher->update(100);
    }
    barrier.arrive();
    traffic(thread, Rounds, Rounds + LaterRounds, *watcher, *churn);
    barrier.arrive();
    check(from, Rounds + LaterRounds);
}

/* Every thread sees what it must of the others' traffic under its trees,
   while they watch, remove, wait and destroy at the same time */
TEST_F(FileWatchThreadsTest, OverlappingTreesUnderTraffic) {
    std::vector<std::thread> threads;
    for(std::size_t thread = 0; thread != ThreadCount; ++thread)
        threads.emplace_back([this, thread] { run(thread); });
    for(std::thread& thread: threads) thread.join();
    EXPECT_EQ(strays, 0);
}

}}}
