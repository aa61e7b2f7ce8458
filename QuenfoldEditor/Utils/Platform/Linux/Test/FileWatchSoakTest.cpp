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
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Test { namespace {

using namespace Corrade;

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
    std::string removed;
    std::set<std::string> removedContents;
};

using FileWatchSoak = TreeOnDisk;

TEST_F(FileWatchSoak, RandomTraffic) {
    const char* const seedText = std::getenv("QUENFOLD_SOAK_SEED");
    const char* const secondsText = std::getenv("QUENFOLD_SOAK_SECONDS");
    const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
    const double seconds = secondsText ? std::atof(secondsText) : 60.0;
    std::cout << "Seed " << seed << " (QUENFOLD_SOAK_SEED), " << seconds << " s (QUENFOLD_SOAK_SECONDS)" << std::endl;
    std::mt19937 random{seed};
    const auto chance = [&](const int percent) { return int(random() % 100) < percent; };
    const std::string tree = at("w"), outside = at("out");
    const std::size_t descriptorsBefore = openDescriptors();

    EventModel model;
    /* What the first watcher's events got wrong, each with its path */
    std::vector<std::string> problems;
    std::map<std::string, std::size_t> operations;
    std::size_t events = 0, writes = 0, writesGoneBeforeRead = 0;
    /* Every path the tree ever had, relative to it; writes not yet seen
       reported, by path */
    std::set<std::string> everExisted;
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

    /* Events queued for a position another watch took since print that */
    std::ostringstream warnings;
    {
        const Utility::Warning redirectWarnings{&warnings};
        FileWatch watcher, other;
        const std::string prefix = tree + "/";
        ASSERT_EQ(watcher.watch(tree.data(), [&](const Containers::StringView pathView, const Event event) {
            ++events;
            const std::string path{pathView.data(), pathView.size()};
            if(path.compare(0, prefix.size(), prefix) != 0) {
                problems.push_back("outside the tree " + path);
                return;
            }
            const std::string relative = path.substr(prefix.size());
            if(!everExisted.count(relative)) problems.push_back("never existed " + relative);
            if(event == Event::Add || event == Event::Modify) unreportedWrites.erase(relative);
            model.apply(relative, event);
        }), 1);

        /* Whether each watch of the other watcher was removed */
        std::map<int, bool> otherWatches;
        int otherCalls = 0;
        std::size_t names = 0;
        const auto name = [&] { return "n" + std::to_string(names++); };
        const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
        /* A directory below the root by the chance, else a file */
        const auto pickEntry = [&](const int directoryPercent) {
            return chance(directoryPercent) && directories.size() > 1 ? directories[1 + random() % (directories.size() - 1)] : files.empty() ? directories.back() : pick(files);
        };
        const auto in = [&](const std::string& relative) { return relative.empty() ? tree : tree + "/" + relative; };
        const auto join = [](const std::string& directory, const std::string& entry) { return directory.empty() ? entry : directory + "/" + entry; };
        const auto append = [&](const std::string& path) { std::ofstream{path, std::ios::app} << 'x'; };
        const auto update = [&](FileWatch& w) {
            /* A write whose file is gone by the time of the read may have
               been in a directory not watched yet, never to be seen */
            for(const std::string& path: writesSinceRead) {
                if(fs::exists(in(path))) unreportedWrites.insert(path);
                else ++writesGoneBeforeRead;
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
                append(in(join(directory, name())));
            } else if(kind < 35 && !files.empty()) {
                operation = "write";
                const std::string file = pick(files);
                append(in(file));
                writesSinceRead.insert(file);
                ++writes;
            } else if(kind < 45) {
                operation = "directory chain";
                std::string chain = join(directory, name());
                for(int depth = random() % 3; depth; --depth) chain += "/" + name();
                fs::create_directories(in(chain));
                if(chance(70)) append(in(join(chain, name())));
            } else if(kind < 55 && directories.size() + files.size() > 1) {
                /* Renamed in its directory, or moved to another one with its
                   name, never into itself */
                const std::string entry = pickEntry(50);
                const std::string target = pick(directories);
                const std::string parent = entry.find('/') == std::string::npos ? "" : entry.substr(0, entry.rfind('/'));
                if(target == entry || isBelow(target, entry) || target == parent) {
                    operation = "rename";
                    fs::rename(in(entry), in(join(parent, name())));
                } else {
                    operation = "move";
                    fs::rename(in(entry), in(join(target, basename(entry))));
                }
            } else if(kind < 62 && directories.size() + files.size() > 1) {
                operation = "move out";
                const std::string entry = pickEntry(50);
                const std::string gone = outside + "/" + basename(entry);
                fs::rename(in(entry), gone);
                /* Written after leaving: never to be heard of */
                if(fs::is_directory(gone) && chance(50)) append(gone + "/" + name());
            } else if(kind < 70) {
                operation = "move in";
                const std::string moved = outside + "/" + name();
                fs::create_directories(moved + "/" + name());
                append(moved + "/" + name());
                const std::string target = join(directory, basename(moved));
                fs::rename(moved, in(target));
                /* Written right after arriving */
                if(chance(50)) append(in(join(target, name())));
            } else if(kind < 80 && directories.size() + files.size() > 1) {
                operation = "delete";
                fs::remove_all(in(pickEntry(30)));
            } else if(kind < 88) {
                operation = "other watch";
                if(otherWatches.empty() || chance(60)) {
                    /* Ids run 1, 2, 3 in the order of the calls, a call
                       that registers nothing taking one too */
                    const int expected = ++otherCalls;
                    const int id = other.watch(in(directory).data(), [&problems, &otherWatches, expected](Containers::StringView, Event) {
                        if(otherWatches[expected]) problems.push_back("call of the removed watch " + std::to_string(expected));
                    });
                    if(id) {
                        EXPECT_EQ(id, expected);
                        otherWatches[id] = false;
                    }
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
            ++operations[operation];
            rescan();
            /* Bounded, so that the kernel's queue never overflows */
            if(directories.size() + files.size() > 400) {
                fs::remove_all(in(directories.size() > 1 ? directories[1] : files.front()));
                rescan();
            }
        }

        /* Everything before the fence arrives with it or before it */
        const std::string fence = "fence";
        append(in(fence));
        rescan();
        for(int i = 0; i != 1000 && !model.entries.count(fence); ++i) {
            update(watcher);
            watcher.update(10);
        }
        EXPECT_TRUE(model.entries.count(fence));
        other.update();
    }

    rescan();
    std::set<std::string> disk{files.begin(), files.end()};
    disk.insert(directories.begin() + 1, directories.end());
    for(const std::string& path: disk) if(!model.entries.count(path)) problems.push_back("missing " + path);
    for(const std::string& path: model.entries) if(!disk.count(path)) problems.push_back("extra " + path);
    for(const std::string& path: unreportedWrites) problems.push_back("unreported write " + path);

    std::cout << "Operations:";
    for(const auto& operation: operations) std::cout << " " << operation.first << " " << operation.second;
    const std::string warningText = warnings.str();
    std::cout << "\nEvents " << events << ", writes " << writes << ", gone before the next read " << writesGoneBeforeRead
        << ", entries on disk " << disk.size() << ", events for positions gone " << std::count(warningText.begin(), warningText.end(), '\n') << std::endl;
    EXPECT_EQ(problems, std::vector<std::string>{});
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

}}}
