/* A minute of random traffic on a real tree: creates, writes, renames, moves
   inside the tree and in and out of it, deletes, new chains of directories,
   and watches added and removed on a second watcher of the same thread. The
   first watcher's events alone must rebuild the tree. QUENFOLD_SOAK_SECONDS
   sets the length, QUENFOLD_SOAK_SEED replays a run. */

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>
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

std::size_t openDescriptors() {
    return std::distance(fs::directory_iterator{"/proc/self/fd"}, fs::directory_iterator{});
}

/* Also when a failure ends the test early */
struct RemovedAtEnd {
    ~RemovedAtEnd() { fs::remove_all(path); }
    std::string path;
};

std::string basename(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool isBelow(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 && path[directory.size()] == '/';
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
        if(event == Event::RenameOld) renamedFrom = path;
        if(event == Event::Remove || event == Event::RenameOld) {
            removedContents.clear();
            for(auto it = entries.lower_bound(path); it != entries.end() && (*it == path || isBelow(*it, path)); ) {
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
    std::string removed, renamedFrom;
    std::set<std::string> removedContents;
};

struct Figures {
    std::map<std::string, std::size_t> operations;
    std::size_t events = 0, outside = 0, neverExisted = 0, writes = 0, writesGoneBeforeRead = 0, writesUnreported = 0, removedWatchCalls = 0;
};

TEST(FileWatchSoak, RandomTraffic) {
    const char* const seedText = std::getenv("QUENFOLD_SOAK_SEED");
    const char* const secondsText = std::getenv("QUENFOLD_SOAK_SECONDS");
    const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    const double seconds = secondsText ? std::atof(secondsText) : 60.0;
    std::cout << "Seed " << seed << " (QUENFOLD_SOAK_SEED), " << seconds << " s (QUENFOLD_SOAK_SECONDS)" << std::endl;
    std::mt19937 random{seed};
    const auto chance = [&](const int percent) { return int(random() % 100) < percent; };

    std::string base = testing::TempDir() + "FileWatchSoakTest.XXXXXX";
    ASSERT_TRUE(mkdtemp(base.data()));
    const Containers::String absolute = Path::absolute(base.data());
    const std::string root{absolute.data(), absolute.size()}, tree = root + "/w", outside = root + "/out";
    const RemovedAtEnd removeRoot{root};
    fs::create_directories(tree);
    fs::create_directories(outside);
    const std::size_t descriptorsBefore = openDescriptors();

    Figures figures;
    EventModel model;
    /* Every path the tree ever had, relative to it; writes not yet seen
       reported, by path */
    std::set<std::string> everExisted;
    std::vector<std::string> neverExisted;
    std::multiset<std::string> writesSinceRead, unreportedWrites;
    std::vector<std::string> directories, files;
    const auto rescan = [&] {
        directories = {""};
        files.clear();
        for(const fs::directory_entry& entry: fs::recursive_directory_iterator{tree}) {
            const std::string path = entry.path().string().substr(tree.size() + 1);
            everExisted.insert(path);
            (entry.is_directory() ? directories : files).push_back(path);
        }
    };
    const auto onDisk = [&] {
        rescan();
        std::set<std::string> entries{files.begin(), files.end()};
        entries.insert(directories.begin() + 1, directories.end());
        return entries;
    };

    /* Events queued for a position another watch took since print that */
    std::ostringstream warnings;
    {
        const Utility::Warning redirectWarnings{&warnings};
        FileWatch watcher, other;
        const std::string prefix = tree + "/";
        ASSERT_EQ(watcher.watch(tree.data(), [&](const Containers::StringView pathView, const Event event) {
            ++figures.events;
            const std::string path{pathView.data(), pathView.size()};
            if(path.compare(0, prefix.size(), prefix) != 0) {
                ++figures.outside;
                return;
            }
            const std::string relative = path.substr(prefix.size());
            if(!everExisted.count(relative)) {
                ++figures.neverExisted;
                neverExisted.push_back(relative);
            }
            if(event == Event::Add || event == Event::Modify) unreportedWrites.erase(relative);
            model.apply(relative, event);
        }), 1);

        std::map<int, bool> otherWatches;
        std::size_t names = 0;
        const auto name = [&] { return "n" + std::to_string(names++); };
        const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
        const auto at = [&](const std::string& relative) { return relative.empty() ? tree : tree + "/" + relative; };
        const auto join = [](const std::string& directory, const std::string& entry) { return directory.empty() ? entry : directory + "/" + entry; };
        const auto write = [&](const std::string& path) { std::ofstream{path, std::ios::app} << 'x'; };
        const auto update = [&](FileWatch& w) {
            /* A write whose file is gone by the time of the read may have
               been in a directory not watched yet, never to be seen */
            for(const std::string& path: writesSinceRead) {
                if(fs::exists(at(path))) unreportedWrites.insert(path);
                else ++figures.writesGoneBeforeRead;
            }
            writesSinceRead.clear();
            w.update();
        };

        rescan();
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>{seconds};
        while(std::chrono::steady_clock::now() < end) {
            const int kind = random() % 100;
            const std::string directory = pick(directories);
            std::string operation;
            if(kind < 15) {
                operation = "create";
                write(at(join(directory, name())));
            } else if(kind < 35 && !files.empty()) {
                operation = "write";
                const std::string file = pick(files);
                write(at(file));
                writesSinceRead.insert(file);
                ++figures.writes;
            } else if(kind < 45) {
                operation = "directory chain";
                std::string chain = join(directory, name());
                for(int depth = random() % 3; depth; --depth) chain += "/" + name();
                fs::create_directories(at(chain));
                if(chance(70)) write(at(join(chain, name())));
            } else if(kind < 55 && directories.size() + files.size() > 1) {
                /* Renamed in its directory, or moved to another one with its
                   name, never into itself */
                const std::string entry = chance(50) && directories.size() > 1 ? directories[1 + random() % (directories.size() - 1)] : files.empty() ? directories.back() : pick(files);
                const std::string target = pick(directories);
                const std::string parent = entry.find('/') == std::string::npos ? "" : entry.substr(0, entry.rfind('/'));
                if(target == entry || isBelow(target, entry) || target == parent) {
                    operation = "rename";
                    fs::rename(at(entry), at(join(parent, name())));
                } else {
                    operation = "move";
                    fs::rename(at(entry), at(join(target, basename(entry))));
                }
            } else if(kind < 62 && directories.size() + files.size() > 1) {
                operation = "move out";
                const std::string entry = chance(50) && directories.size() > 1 ? directories[1 + random() % (directories.size() - 1)] : files.empty() ? directories.back() : pick(files);
                const std::string gone = outside + "/" + basename(entry);
                fs::rename(at(entry), gone);
                /* Written after leaving: never to be heard of */
                if(fs::is_directory(gone) && chance(50)) write(gone + "/" + name());
            } else if(kind < 70) {
                operation = "move in";
                const std::string moved = outside + "/" + name();
                fs::create_directories(moved + "/" + name());
                write(moved + "/" + name());
                const std::string target = join(directory, basename(moved));
                fs::rename(moved, at(target));
                /* Written right after arriving */
                if(chance(50)) write(at(join(target, name())));
            } else if(kind < 80 && directories.size() + files.size() > 1) {
                operation = "delete";
                fs::remove_all(at(chance(30) && directories.size() > 1 ? directories[1 + random() % (directories.size() - 1)] : files.empty() ? directories.back() : pick(files)));
            } else if(kind < 88) {
                operation = "other watch";
                if(otherWatches.empty() || chance(60)) {
                    const int id = other.watch(at(directory).data(), [&figures, &otherWatches, id = int(otherWatches.size() + 1)](Containers::StringView, Event) {
                        if(otherWatches[id]) ++figures.removedWatchCalls;
                    });
                    otherWatches[id] = false;
                } else {
                    auto it = otherWatches.begin();
                    std::advance(it, random() % otherWatches.size());
                    other.remove(it->first);
                    it->second = true;
                }
            } else {
                operation = "update";
                update(chance(50) ? watcher : other);
            }
            if(operation.empty()) continue;
            ++figures.operations[operation];
            rescan();
            /* Bounded, so that the kernel's queue never overflows */
            if(directories.size() + files.size() > 400) {
                fs::remove_all(at(directories.size() > 1 ? directories[1] : files.front()));
                rescan();
            }
        }

        /* Everything before the fence arrives with it or before it */
        const std::string fence = "fence";
        write(at(fence));
        rescan();
        for(int i = 0; i != 1000 && !model.entries.count(fence); ++i) {
            update(watcher);
            watcher.update(10);
        }
        EXPECT_TRUE(model.entries.count(fence));
        other.update();
    }

    std::vector<std::string> missing, extra;
    const std::set<std::string> disk = onDisk();
    for(const std::string& path: disk) if(!model.entries.count(path)) missing.push_back(path);
    for(const std::string& path: model.entries) if(!disk.count(path)) extra.push_back(path);
    figures.writesUnreported = unreportedWrites.size();

    const std::string warningText = warnings.str();
    std::cout << "Operations:";
    std::size_t operations = 0;
    for(const auto& operation: figures.operations) {
        std::cout << " " << operation.first << " " << operation.second;
        operations += operation.second;
    }
    std::cout << "; " << operations << " in all\n"
        << "Events " << figures.events << ", outside the tree " << figures.outside << ", of paths that never existed " << figures.neverExisted << "\n"
        << "Writes " << figures.writes << ", gone before the next read " << figures.writesGoneBeforeRead << ", never reported " << figures.writesUnreported << "\n"
        << "Entries on disk " << disk.size() << ", not in the events' tree " << missing.size() << ", in it but not on disk " << extra.size() << "\n"
        << "Calls of removed watches " << figures.removedWatchCalls << ", events for positions gone " << std::count(warningText.begin(), warningText.end(), '\n') << std::endl;
    for(const std::string& path: neverExisted) std::cout << "  never existed " << path << "\n";
    for(const std::string& path: missing) std::cout << "  missing " << path << "\n";
    for(const std::string& path: extra) std::cout << "  extra " << path << "\n";
    for(const std::string& path: unreportedWrites) std::cout << "  unreported write " << path << "\n";

    EXPECT_EQ(figures.outside, 0u);
    EXPECT_EQ(figures.neverExisted, 0u);
    EXPECT_EQ(figures.writesUnreported, 0u);
    EXPECT_EQ(figures.removedWatchCalls, 0u);
    EXPECT_TRUE(missing.empty());
    EXPECT_TRUE(extra.empty());
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}}
