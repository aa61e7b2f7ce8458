/* A minute of random traffic on a real tree: creates, writes, renames, moves
   inside the tree and in and out of it, deletes, new chains of directories,
   populated trees moved in and changed before the watcher reads of them,
   bursts that overflow the kernel's queue, and watches added and removed on
   a second watcher of the same thread. Both resynchronize after lost
   changes. The first watcher's events alone must rebuild the tree, checked
   after each round of five seconds. Every minute the process's resident memory and
   descriptors are sampled; a run of several minutes fails when they grow.
   QUENFOLD_SOAK_SECONDS sets the length, QUENFOLD_SOAK_SEED replays a run
   up to its first round on a thread of its own. */

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <malloc.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Test { namespace {

using namespace Corrade;

std::string basename(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string join(const std::string& directory, const std::string& entry) {
    return directory.empty() ? entry : directory + "/" + entry;
}

bool isBelow(const std::string& path, const std::string& directory) {
    return directory.empty() ? !path.empty() : path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 && path[directory.size()] == '/';
}

bool isWithin(const std::string& path, const std::string& directory) {
    return path == directory || isBelow(path, directory);
}

/* Where a path within from is once from moved to to */
std::string rebased(const std::string& path, const std::string& from, const std::string& to) {
    return isWithin(path, from) ? to + path.substr(from.size()) : path;
}

void append(const std::string& path) {
    std::ofstream{path, std::ios::app} << 'x';
}

/* The tree as the events tell it. A move between two directories comes as a
   removal and an addition of the same name, next to each other; names are
   never reused, so that pair is a move, and the contents go along. */
struct EventModel {
    void apply(const std::string& path, const Event event) {
        if(event == Event::Modify) return;
        if(event == Event::Add) {
            entries.insert(path);
            if(!removed.empty() && basename(removed) == basename(path))
                for(const std::string& below: removedContents) entries.insert(path + below);
        }
        removed.clear();
        if(event == Event::Remove || event == Event::RenameOld) {
            removedContents.clear();
            for(auto it = entries.lower_bound(path); it != entries.end() && isWithin(*it, path); ) {
                if(*it != path) removedContents.insert(it->substr(path.size()));
                it = entries.erase(it);
            }
            if(event == Event::Remove) removed = path;
        }
        if(event == Event::RenameNew) {
            entries.insert(path);
            for(const std::string& below: removedContents) entries.insert(path + below);
        }
    }

    std::set<std::string> entries;
    std::string removed;
    std::set<std::string> removedContents;
};

/* The tree as the traffic left it, paths relative to its root, kept by each
   operation rather than listed after it */
struct Disk {
    /* With what is there already */
    explicit Disk(std::string root): root{std::move(root)} {
        for(const std::string& path: list()) add(path, fs::is_directory(at(path)));
    }

    std::string at(const std::string& relative) const { return relative.empty() ? root : root + "/" + relative; }

    void add(const std::string& path, const bool isDirectory) {
        (isDirectory ? directories : files).push_back(path);
        existed.insert(path);
    }

    /* With everything below */
    void remove(const std::string& path) {
        for(std::vector<std::string>* paths: {&directories, &files})
            paths->erase(std::remove_if(paths->begin(), paths->end(), [&](const std::string& p) { return isWithin(p, path); }), paths->end());
    }

    /* Renamed on disk too, with everything below */
    void move(const std::string& from, const std::string& to) {
        fs::rename(at(from), at(to));
        for(std::vector<std::string>* paths: {&directories, &files}) for(std::string& p: *paths) if(isWithin(p, from)) {
            p = rebased(p, from, to);
            existed.insert(p);
        }
    }

    std::size_t size() const { return directories.size() - 1 + files.size(); }

    std::set<std::string> entries() const {
        std::set<std::string> out{files.begin(), files.end()};
        out.insert(directories.begin() + 1, directories.end());
        return out;
    }

    /* What is really there, to check the bookkeeping with */
    std::set<std::string> list() const {
        std::set<std::string> out;
        for(const fs::directory_entry& entry: fs::recursive_directory_iterator{root})
            out.insert(entry.path().string().substr(root.size() + 1));
        return out;
    }

    std::string root;
    /* The root, "", first */
    std::vector<std::string> directories{""}, files;
    /* Every path the tree had since the watcher last caught up, which its
       events may name */
    std::set<std::string> existed;
};

/* Resident memory and open descriptors of the process after so many
   operations */
struct Sample {
    double seconds;
    std::size_t operations, residentKiB, descriptors;
};

Sample sample(const double seconds, const std::size_t operations) {
    /* The heap's free pages back to the system first, so that what a burst
       took for a while and gave back is not counted */
    malloc_trim(0);
    std::size_t pages = 0, resident = 0;
    std::ifstream{"/proc/self/statm"} >> pages >> resident;
    const Sample out{seconds, operations, resident*std::size_t(sysconf(_SC_PAGESIZE))/1024, openDescriptors()};
    std::cout << "Sample at " << out.seconds << " s: " << out.operations << " operations, " << out.residentKiB << " KiB resident, " << out.descriptors << " descriptors" << std::endl;
    return out;
}

/* Operations until a time, the watcher catching up after them */
struct Round {
    const char* name;
    std::function<void(double)> run;
};

/* Something done to the tree; false when the tree as it is does not allow
   it */
struct Operation {
    const char* name;
    std::size_t weight;
    std::function<bool()> run;
};

std::size_t totalWeight(const std::vector<Operation>& operations) {
    std::size_t total = 0;
    for(const Operation& operation: operations) total += operation.weight;
    return total;
}

using FileWatchSoak = TreeOnDisk;

TEST_F(FileWatchSoak, RandomTraffic) {
    const char* const seedText = std::getenv("QUENFOLD_SOAK_SEED");
    const char* const secondsText = std::getenv("QUENFOLD_SOAK_SECONDS");
    const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    const double seconds = secondsText ? std::atof(secondsText) : 60.0;
    std::cout << "Seed " << seed << " (QUENFOLD_SOAK_SEED), " << seconds << " s (QUENFOLD_SOAK_SECONDS)" << std::endl;
    std::mt19937 random{seed};
    const auto chance = [&](const int percent) { return int(random() % 100) < percent; };
    const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    std::size_t names = 0;
    const auto name = [&] { return "n" + std::to_string(names++); };
    const std::string outside = at("out");
    const std::size_t descriptorsBefore = openDescriptors();
    std::size_t maxQueuedEvents = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> maxQueuedEvents;
    ASSERT_GT(maxQueuedEvents, 0u);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>{std::chrono::steady_clock::now() - start}.count(); };

    Disk disk{at("w")};
    /* For the operations on a thread of their own */
    std::mutex diskLock;
    EventModel model;
    /* What the first watcher's events got wrong, each with its path */
    std::vector<std::string> problems;
    std::map<std::string, std::size_t> operations;
    std::size_t operationCount = 0, events = 0, writes = 0, writesGoneBeforeRead = 0, eventsForPositionsGone = 0, bursts = 0, resynchronizations = 0;
    /* Writes not yet seen reported, by path */
    std::multiset<std::string> writesSinceRead, unreportedWrites;
    /* While the operations and the updates take turns, every path told is
       one the tree had and every write is told. Listings that run while
       the tree changes tell what they find by the paths the events so far
       gave, which a directory above may have left meanwhile. */
    bool turns = true;
    std::vector<Sample> samples;

    /* Events queued for a position another watch took since print that */
    std::ostringstream warnings;
    {
        const Utility::Warning redirectWarnings{&warnings};
        FileWatch watcher{FileWatch::Flag::Resynchronize}, other{FileWatch::Flag::Resynchronize};
        const std::string prefix = disk.root + "/";
        ASSERT_EQ(watcher.watch(disk.root.data(), [&](const Containers::StringView pathView, const Event event) {
            ++events;
            const std::string path{pathView.data(), pathView.size()};
            if(path.compare(0, prefix.size(), prefix) != 0) {
                problems.push_back("outside the tree " + path);
                return;
            }
            const std::string relative = path.substr(prefix.size());
            if(const std::lock_guard<std::mutex> lock{diskLock}; turns && !disk.existed.count(relative)) problems.push_back("never existed " + relative);
            if(event == Event::Add || event == Event::Modify) unreportedWrites.erase(relative);
            model.apply(relative, event);
        }), 1);
        samples.push_back(sample(elapsed(), 0));

        const auto update = [&](FileWatch& w) {
            /* A write whose file is gone by the time of the read may have
               been in a directory not watched yet, never to be seen */
            for(const std::string& path: writesSinceRead) {
                if(fs::exists(disk.at(path))) unreportedWrites.insert(path);
                else ++writesGoneBeforeRead;
            }
            writesSinceRead.clear();
            w.update();
        };
        const auto write = [&](const std::string& file) {
            append(disk.at(file));
            if(turns) writesSinceRead.insert(file);
            ++writes;
        };
        const auto create = [&](const std::string& path, const bool isDirectory) {
            if(isDirectory) fs::create_directory(disk.at(path));
            else append(disk.at(path));
            disk.add(path, isDirectory);
        };
        const auto remove = [&](const std::string& path) {
            fs::remove_all(disk.at(path));
            disk.remove(path);
        };
        /* A directory below the root by the chance, else a file, else the
           root when the tree is empty */
        const auto pickEntry = [&](const int directoryPercent) {
            return chance(directoryPercent) && disk.directories.size() > 1 ? disk.directories[1 + random() % (disk.directories.size() - 1)] : disk.files.empty() ? disk.directories.back() : pick(disk.files);
        };
        /* Whether the entry can move into the directory with its name: not
           into itself and not where it is */
        const auto canMove = [](const std::string& entry, const std::string& directory) {
            return !entry.empty() && !isWithin(directory, entry) && directory != parentOf(entry);
        };
        const auto below = [](const std::vector<std::string>& paths, const std::string& directory) {
            std::vector<std::string> out;
            for(const std::string& path: paths) if(isBelow(path, directory)) out.push_back(path);
            return out;
        };
        /* Renamed in its directory, or else moved into another with its
           name; returns where it went */
        const auto renameOrMove = [&](const std::string& entry, const bool rename) {
            const std::string target = pick(disk.directories);
            const std::string to = rename || !canMove(entry, target) ? join(parentOf(entry), name()) : join(target, basename(entry));
            disk.move(entry, to);
            return to;
        };
        /* A populated tree from outside: files at three levels, two
           directories at the first */
        const auto moveIn = [&](const std::string& target) {
            const std::string top = name();
            std::vector<std::string> directories{top}, files;
            directories.push_back(join(top, name()));
            directories.push_back(join(directories[1], name()));
            directories.push_back(join(top, name()));
            for(const std::string& directory: directories) files.push_back(join(directory, name()));
            for(const std::string& directory: directories) fs::create_directory(outside + "/" + directory);
            for(const std::string& file: files) append(outside + "/" + file);
            const std::string moved = join(target, top);
            fs::rename(outside + "/" + top, disk.at(moved));
            for(const std::string& directory: directories) disk.add(rebased(directory, top, moved), true);
            for(const std::string& file: files) disk.add(rebased(file, top, moved), false);
            return moved;
        };

        /* Changes to a tree that came in, before the watcher reads of it:
           where the watcher has yet to look, and above */
        std::string came;
        /* Its directories, itself too */
        const auto newcomer = [&] {
            std::vector<std::string> out = below(disk.directories, came);
            out.push_back(came);
            return out;
        };
        const std::vector<Operation> changesToNewcomer{
            {"rename in it", 3, [&] {
                const std::string directory = pick(newcomer());
                came = rebased(came, directory, renameOrMove(directory, true));
                return true;
            }},
            {"move out of it", 2, [&] {
                const std::vector<std::string> directories = below(disk.directories, came);
                if(directories.empty()) return false;
                renameOrMove(pick(directories), false);
                return true;
            }},
            {"move into it", 2, [&] {
                const std::string entry = pickEntry(50), target = pick(newcomer());
                if(!canMove(entry, target)) return false;
                disk.move(entry, join(target, basename(entry)));
                return true;
            }},
            {"write in it", 2, [&] {
                const std::vector<std::string> files = below(disk.files, came);
                if(files.empty()) return false;
                write(pick(files));
                return true;
            }},
            {"empty in it", 1, [&] {
                const std::string directory = pick(newcomer());
                for(const std::string& path: disk.entries()) if(parentOf(path) == directory) remove(path);
                return true;
            }},
            /* Another entry moved into a directory new in it */
            {"new directory in it", 2, [&] {
                const std::string directory = join(pick(newcomer()), name());
                create(directory, true);
                const std::string entry = pickEntry(50);
                if(canMove(entry, directory)) disk.move(entry, join(directory, basename(entry)));
                return true;
            }},
            /* Another directory moved through one new in it and on, what
               follows changing that one */
            {"move through it", 2, [&] {
                const std::string entry = pickEntry(100), directory = join(pick(newcomer()), name());
                if(!canMove(entry, directory)) return false;
                create(directory, true);
                const std::string through = join(directory, basename(entry));
                disk.move(entry, through);
                came = renameOrMove(through, false);
                return true;
            }},
            {"rename above it", 3, [&] {
                std::string above = parentOf(came);
                for(std::size_t up = random() % 3; up && above.find('/') != std::string::npos; --up) above = parentOf(above);
                if(above.empty()) return false;
                came = rebased(came, above, renameOrMove(above, chance(50)));
                return true;
            }},
        };

        /* Ids run 1, 2, 3 in the order of the calls, a call that registers
           nothing taking one too */
        std::set<int> otherWatches;
        int otherCalls = 0;
        const auto run = [&](const std::vector<Operation>& from) {
            std::size_t left = random() % totalWeight(from), i = 0;
            for(; left >= from[i].weight; ++i) left -= from[i].weight;
            if(!from[i].run()) return;
            ++operations[from[i].name];
            ++operationCount;
        };
        const std::vector<Operation> traffic{
            {"create", 15, [&] {
                create(join(pick(disk.directories), name()), false);
                return true;
            }},
            {"write", 20, [&] {
                if(disk.files.empty()) return false;
                write(pick(disk.files));
                return true;
            }},
            {"directory chain", 10, [&] {
                std::string chain = join(pick(disk.directories), name());
                create(chain, true);
                for(int depth = random() % 3; depth; --depth) create(chain = join(chain, name()), true);
                if(chance(70)) create(join(chain, name()), false);
                return true;
            }},
            {"rename", 3, [&] {
                if(!disk.size()) return false;
                renameOrMove(pickEntry(50), true);
                return true;
            }},
            {"move", 7, [&] {
                if(!disk.size()) return false;
                renameOrMove(pickEntry(50), false);
                return true;
            }},
            {"move out", 7, [&] {
                if(!disk.size()) return false;
                const std::string entry = pickEntry(50), gone = outside + "/" + basename(entry);
                fs::rename(disk.at(entry), gone);
                disk.remove(entry);
                /* Written after leaving: never to be heard of */
                if(fs::is_directory(gone) && chance(50)) append(gone + "/" + name());
                fs::remove_all(gone);
                return true;
            }},
            {"move in", 10, [&] {
                came = moveIn(pick(disk.directories));
                for(int changes = random() % 7; changes; --changes) run(changesToNewcomer);
                return true;
            }},
            {"delete", 10, [&] {
                if(!disk.size()) return false;
                remove(pickEntry(30));
                return true;
            }},
        };
        /* On the watchers' thread only */
        const std::vector<Operation> watching{
            /* Bounded, each watch keeping a descriptor */
            {"other watch", 8, [&] {
                if(otherWatches.empty() || (otherWatches.size() < 16 && chance(60))) {
                    const int expected = ++otherCalls;
                    const int id = other.watch(disk.at(pick(disk.directories)).data(), [&problems, &otherWatches, expected](Containers::StringView, Event) {
                        if(!otherWatches.count(expected)) problems.push_back("call of the removed watch " + std::to_string(expected));
                    });
                    if(id) {
                        EXPECT_EQ(id, expected);
                        otherWatches.insert(id);
                    }
                } else {
                    auto it = otherWatches.begin();
                    std::advance(it, random() % otherWatches.size());
                    other.remove(*it);
                    otherWatches.erase(it);
                }
                return true;
            }},
            {"update", 12, [&] {
                update(chance(50) ? watcher : other);
                return true;
            }},
        };
        std::vector<Operation> everything = traffic;
        everything.insert(everything.end(), watching.begin(), watching.end());
        const auto step = [&](const std::vector<Operation>& from) {
            run(from);
            /* Bounded, so that the kernel's queue never overflows, and
               twelve directories deep at most, so that the paths, and what
               a long run holds, stay short */
            if(disk.size() > 400) {
                const std::string oldest = disk.directories.size() > 1 ? disk.directories[1] : disk.files.front();
                remove(oldest);
            }
            for(auto deep = disk.directories.begin(); (deep = std::find_if(disk.directories.begin(), disk.directories.end(), [](const std::string& path) {
                return std::count(path.begin(), path.end(), '/') == 12;
            })) != disk.directories.end(); ) remove(std::string{*deep});
        };

        /* Every change so far is told once a file created after them is.
           Then the tree the events built is the one on disk, put right
           where it is not so that a fault is told once, and nothing told
           later names a path the tree had before, which is forgotten. */
        const auto catchUp = [&](const char* const after) {
            const std::string fence = name();
            create(fence, false);
            for(int i = 0; i != 1000 && !model.entries.count(fence); ++i) {
                update(watcher);
                watcher.update(10);
            }
            other.update();
            const std::set<std::string> entries = disk.entries();
            const std::string when = std::string{" after "} + after + " until " + std::to_string(int(elapsed())) + " s";
            for(const std::string& path: entries) if(!model.entries.count(path)) problems.push_back("missing " + path + when);
            for(const std::string& path: model.entries) if(!entries.count(path)) problems.push_back("extra " + path + when);
            for(const std::string& path: unreportedWrites) problems.push_back("unreported write " + path + when);
            model.entries = entries;
            unreportedWrites.clear();
            disk.existed = entries;
            std::istringstream warningLines{warnings.str()};
            for(std::string line; std::getline(warningLines, line); )
                ++(line.rfind("FileWatch::update(): changes lost in ", 0) == 0 ? resynchronizations : eventsForPositionsGone);
            warnings.str({});
        };

        /* The run goes through these in turn, five seconds each, each
           followed by the watcher catching up: updates between the
           operations, which is repeatable, and the operations on a thread
           of their own while the watchers update, which lists directories
           as they change */
        const std::vector<Round> rounds{
            {"operations between updates", [&](const double until) {
                while(elapsed() < until) step(everything);
            }},
            {"operations while updating", [&](const double until) {
                turns = false;
                std::thread operating{[&] {
                    while(elapsed() < until) {
                        const std::lock_guard<std::mutex> lock{diskLock};
                        step(traffic);
                    }
                }};
                while(elapsed() < until) {
                    watcher.update(1);
                    other.update();
                }
                operating.join();
            }},
            /* Traffic, then more files than the kernel's queue holds events
               of created in the root, which is watched from the start, and
               deleted again, and traffic again, all before the watchers
               read; both resynchronize, then operations between updates.
               The burst stays out of the bookkeeping, so that no operation
               moves it. */
            {"a burst larger than the kernel's queue", [&](const double until) {
                for(int i = 0; i != 50; ++i) step(traffic);
                std::vector<std::string> burst;
                for(std::size_t i = 0; i != maxQueuedEvents; ++i) {
                    burst.push_back(name());
                    append(disk.at(burst.back()));
                    disk.existed.insert(burst.back());
                }
                for(const std::string& file: burst) fs::remove(disk.at(file));
                for(int i = 0; i != 50; ++i) step(traffic);
                ++bursts;
                while(elapsed() < until) step(everything);
            }},
        };
        for(std::size_t i = 0, nextSample = 60; elapsed() < seconds; ++i) {
            const Round& round = rounds[i % rounds.size()];
            round.run(std::min(elapsed() + 5.0, seconds));
            catchUp(round.name);
            turns = true;
            if(elapsed() < nextSample && elapsed() < seconds) continue;
            samples.push_back(sample(elapsed(), operationCount));
            nextSample += 60;
        }
    }

    /* Past the first minute, while the allocator and the models warm up,
       the tree's size is bounded and so is what the models and the test
       hold: a steady run keeps its memory, and the allocator's slack and
       the tree's size wandering within its bound stay within a quarter of
       it. Judged once a few minutes show a trend, on the smaller of the
       last two samples, so that a peak caught by one sample does not
       count. */
    if(samples.size() >= 5) {
        const std::size_t steady = samples[1].residentKiB;
        EXPECT_LE(std::min(samples.back().residentKiB, samples[samples.size() - 2].residentKiB), steady + steady/4) << "resident memory grew";
    }

    const std::set<std::string> onDisk = disk.list();
    EXPECT_EQ(disk.entries(), onDisk);

    std::cout << "Operations:";
    for(const auto& operation: operations) std::cout << " " << operation.first << " " << operation.second;
    std::cout << "\nEvents " << events << ", writes " << writes << ", gone before the next read " << writesGoneBeforeRead
        << ", entries on disk " << onDisk.size() << ", events for positions gone " << eventsForPositionsGone
        << ", bursts " << bursts << ", resynchronizations " << resynchronizations << std::endl;
    /* Each burst overflows the kernel's queue, and the first watcher tells */
    EXPECT_GE(resynchronizations, bursts);
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}}}
