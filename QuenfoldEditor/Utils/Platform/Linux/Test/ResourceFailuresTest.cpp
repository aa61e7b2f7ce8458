#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/DirectoryReader.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/SystemCallFailures.h"
#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace Test { namespace {

using namespace Corrade;
using QuenfoldEngine::Test::Change;
using QuenfoldEngine::Test::openDescriptors;
using System::Call;
namespace fs = std::filesystem;

/* Kernel watches of every inotify instance of the process */
std::size_t kernelWatches() {
    std::size_t count = 0;
    for(const fs::directory_entry& entry: fs::directory_iterator{"/proc/self/fd"}) {
        std::error_code error;
        if(fs::read_symlink(entry.path(), error) != "anon_inode:inotify") continue;
        std::ifstream info{"/proc/self/fdinfo/" + entry.path().filename().string()};
        for(std::string line; std::getline(info, line); ) count += line.rfind("inotify wd:", 0) == 0;
    }
    return count;
}

/* Every descriptor below the one returned is taken, gaps filled */
int firstFreeDescriptor() {
    int highest = 0;
    for(const fs::directory_entry& entry: fs::directory_iterator{"/proc/self/fd"})
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    int free;
    while((free = open("/dev/null", O_RDONLY)) >= 0 && free < highest) {}
    close(free);
    return free;
}

/* The read completed with 0 bytes, which tells of lost changes */
bool toldOfLoss(const Reader& reader) {
    return !reader.completions.empty() && reader.completions.back() == Completion{0, 0, {}};
}

std::string failed(const DWORD error) {
    return "ReadDirectoryChangesW failed: " + std::to_string(error) + "\n";
}

/* What body found in a child process, which cannot fail the test itself */
std::string inChild(const std::function<std::string()>& body) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if(!child) {
        /* Never back into the test runner */
        std::string found;
        try {
            found = body();
        } catch(const std::exception& error) {
            found = error.what();
        }
        _exit(write(ends[1], found.data(), found.size()) == ssize_t(found.size()) ? 0 : 1);
    }
    close(ends[1]);
    std::string found;
    char buffer[256];
    for(ssize_t size; (size = read(ends[0], buffer, sizeof(buffer))) > 0; ) found.append(buffer, size);
    close(ends[0]);
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    return found;
}

/* Errors and warnings, in the order printed */
struct Messages {
    explicit Messages(std::ostream& out): error{&out}, warning{&out} {}
    Utility::Error error;
    Utility::Warning warning;
};

/* Every test leaves no descriptor open and no kernel watch behind, and
   every failure it planned happened */
struct ResourceFailures: QuenfoldEngine::Test::TreeOnDisk {
    void SetUp() override {
        TreeOnDisk::SetUp();
        descriptors = openDescriptors();
    }

    void TearDown() override {
        EXPECT_EQ(resetCalls(), 0u);
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(kernelWatches(), 0u);
        TreeOnDisk::TearDown();
    }

    /* The messages of a watch of w made by a watcher of its own after the
       plan, checked to give id and to hold that many descriptors and kernel
       watches more than the process had */
    std::string watchPlanned(const std::function<void()>& plan, const int id, const std::size_t held) {
        std::ostringstream out;
        const Messages messages{out};
        const std::size_t descriptorsBefore = openDescriptors(), watchesBefore = kernelWatches();
        FileWatch watcher;
        plan();
        EXPECT_EQ(watcher.watch(at("w").data(), {}), id);
        EXPECT_EQ(resetCalls(), 0u);
        EXPECT_EQ(openDescriptors(), descriptorsBefore + held);
        EXPECT_EQ(kernelWatches(), watchesBefore + held);
        return out.str();
    }

    std::size_t descriptors;
};

/* Refused for want of descriptors, kernel watches or memory, or for its
   permissions, a directory is told by its error code and holds nothing,
   while the thread's other directories go on reporting. Gone before it was
   opened, it registers nothing; a subdirectory gone or unreadable is left
   out. */
TEST_F(ResourceFailures, WatchRefused) {
    const struct {
        const char* name;
        std::function<void()> plan;
        int id;
        std::string messages;
    } cases[]{
        {"gone before it was opened", [&] { beforeCall(Call::Open, [&] { fs::remove_all(at("w")); }); }, 0, "Directory doesn't exist\n"},
        {"path too long", [] { failCall(Call::Open, ENAMETOOLONG); }, 1, failed(ERROR_FILENAME_EXCED_RANGE)},
        {"a file on the way", [] { failCall(Call::Open, ENOTDIR); }, 0, "Directory doesn't exist\n"},
        {"out of descriptors", [] { failCall(Call::Open, EMFILE); }, 1, failed(ERROR_TOO_MANY_OPEN_FILES)},
        {"parent not searchable", [] { failCall(Call::Open, EACCES); }, 1, failed(ERROR_ACCESS_DENIED)},
        {"unreadable", [] { failCall(Call::Open, EACCES, 1); }, 1, failed(ERROR_ACCESS_DENIED)},
        {"status unknown", [] { failCall(Call::Stat, ENOMEM); }, 1, failed(ERROR_NOT_ENOUGH_MEMORY)},
        {"out of kernel watches", [] { failCall(Call::AddWatch, ENOSPC); }, 1, failed(ERROR_NOT_ENOUGH_QUOTA)},
        {"out of memory for a watch", [] { failCall(Call::AddWatch, ENOMEM); }, 1, failed(ERROR_NOT_ENOUGH_MEMORY)},
        {"out of kernel watches below", [] { failCall(Call::AddWatch, ENOSPC, 1); }, 1, failed(ERROR_NOT_ENOUGH_QUOTA)},
        {"out of memory for a watch below", [] { failCall(Call::AddWatch, ENOMEM, 1); }, 1, failed(ERROR_NOT_ENOUGH_MEMORY)},
        {"out of descriptors below", [] { failCall(Call::Open, EMFILE, 2); }, 1, failed(ERROR_TOO_MANY_OPEN_FILES)},
        {"listing failed midway", [] { failCall(Call::ListEntry, EIO, 3); }, 1, failed(ERROR_GEN_FAILURE)},
        {"listing out of descriptors", [] { failCall(Call::Dup, EMFILE); }, 1, failed(ERROR_TOO_MANY_OPEN_FILES)},
        {"listing out of memory", [] { failCall(Call::OpenListing, ENOMEM); }, 1, failed(ERROR_NOT_ENOUGH_MEMORY)},
        {"subdirectory gone before it was opened", [&] { beforeCall(Call::Open, [&] { fs::remove(at("w/d")); }, 2); }, 1, ""},
        {"subdirectory gone before it was listed", [&] { beforeCall(Call::Dup, [&] { fs::remove(at("w/d")); }, 1); }, 1, ""},
        {"subdirectory unreadable", [] { failCall(Call::Open, EACCES, 2); }, 1, ""},
    };
    FileWatch other;
    ASSERT_EQ(other.watch(at("out").data(), recorder(log)), 1);
    for(std::size_t i = 0; i != std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        fs::create_directories(at("w/d"));
        for(const char* file: {"w/a", "w/b", "w/c"}) write(file);
        /* The directory watched, without the subdirectory, or nothing */
        EXPECT_EQ(watchPlanned(cases[i].plan, cases[i].id, cases[i].messages.empty()), cases[i].messages);
        const std::string name = "out/" + std::to_string(i);
        write(name);
        EXPECT_TRUE(poll(other, [&] { return contains(log, {name, FileWatch::Event::Add}); }));
    }
}

/* The first directory of a thread takes an inotify instance for it; once
   one can be had, the thread watches */
TEST_F(ResourceFailures, InstanceRefused) {
    const struct {
        const char* name;
        std::function<void()> plan;
        DWORD error;
    } cases[]{
        /* A descriptor could be had: the per-user limit of instances */
        {"out of instances", [] { failCall(Call::InotifyInit, EMFILE); }, ERROR_NOT_ENOUGH_QUOTA},
        {"out of descriptors", [] { failCall(Call::InotifyInit, EMFILE); failCall(Call::Dup, EMFILE); }, ERROR_TOO_MANY_OPEN_FILES},
        {"out of descriptors in the system", [] { failCall(Call::InotifyInit, ENFILE); }, ERROR_TOO_MANY_OPEN_FILES},
        {"out of memory", [] { failCall(Call::InotifyInit, ENOMEM); }, ERROR_NOT_ENOUGH_MEMORY},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.name);
        std::string messages;
        std::thread{[&] { messages = watchPlanned(c.plan, 1, 0); }}.join();
        EXPECT_EQ(messages, failed(c.error));
    }
    FileWatch watcher;
    ASSERT_EQ(watcher.watch(at("w").data(), recorder(log)), 1);
    write("w/a");
    EXPECT_EQ(settle(watcher), (std::vector<Change>{{"w/a", FileWatch::Event::Add}}));
}

/* A directory that comes into a watched tree and cannot be watched or
   listed loses its changes: the tree's read completes with 0 bytes, as
   after an overflow, and the thread's other trees go on. One unreadable, or
   gone before it was reached, is left out, and the tree goes on. */
TEST_F(ResourceFailures, DirectoryComingIn) {
    fs::create_directory(at("other"));
    const struct {
        const char* name;
        std::function<void()> plan;
        bool withEntries;
        std::string records;
        bool lost;
    } cases[]{
        {"out of kernel watches", [] { failCall(Call::AddWatch, ENOSPC); }, false, "1 n\n", true},
        {"out of memory for a watch", [] { failCall(Call::AddWatch, ENOMEM); }, false, "1 n\n", true},
        /* The first open is of the tree's root */
        {"out of descriptors", [] { failCall(Call::Open, EMFILE, 1); }, false, "1 n\n", true},
        {"listing failed midway", [] { failCall(Call::ListEntry, ENOMEM, 3); }, true, "1 n\n", true},
        {"listing out of descriptors", [] { failCall(Call::Dup, EMFILE); }, false, "1 n\n", true},
        {"unreadable", [] { failCall(Call::Open, EACCES, 1); }, false, "1 n\n", false},
        {"gone before it was opened", [&] { beforeCall(Call::Open, [&] { fs::remove(at("w/n")); }, 1); }, false, "1 n\n2 n\n", false},
        {"gone before it was listed", [&] { beforeCall(Call::Dup, [&] { fs::remove(at("w/n")); }); }, false, "1 n\n2 n\n", false},
    };
    for(std::size_t i = 0; i != std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        fs::remove_all(at("w/n"));
        fs::create_directory(at("out/n"));
        if(c.withEntries) for(const char* file: {"out/n/a", "out/n/b", "out/n/c"}) write(file);
        Reader reader{at("w")}, other{at("other")};
        c.plan();
        fs::rename(at("out/n"), at("w/n"));
        EXPECT_EQ(reader.take(std::count(c.records.begin(), c.records.end(), '\n')), c.records);
        EXPECT_EQ(resetCalls(), 0u);
        /* Where none is expected, the tree going on tells there was none */
        if(c.lost) {
            EXPECT_TRUE(reader.waitFor([&] { return toldOfLoss(reader); }));
        }
        Reader& going = c.lost ? other : reader;
        const std::string after = "after" + std::to_string(i);
        write((c.lost ? "other/" : "w/") + after);
        EXPECT_EQ(going.take(1), "1 " + after + "\n");
    }
}

/* A read of the kernel's queue that fails loses what it took: every tree of
   the thread is told, as of the kernel's own overflow. A tree watched later
   reports. */
TEST_F(ResourceFailures, KernelReadFailed) {
    Reader reader{at("w")}, other{at("out")};
    write("w/a");
    failCall(Call::Read, EIO);
    EXPECT_TRUE(reader.waitFor([&] { return toldOfLoss(reader) && toldOfLoss(other); }));
    EXPECT_EQ(reader.completions.size() + other.completions.size(), 2u);
    Reader later{at("w")};
    write("w/b");
    EXPECT_EQ(later.take(1), "1 b\n");
    EXPECT_EQ(reader.records, "");
}

/* Out of descriptors for real, under a lower limit: the watch is refused
   with the same code wherever they run out, up to five more than the
   directory and the instance keep; once watching, a directory coming in
   loses changes */
TEST_F(ResourceFailures, DescriptorLimit) {
    const std::string found = inChild([&] {
        const int free = firstFreeDescriptor();
        const std::size_t open = openDescriptors();
        rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        std::string out;
        std::ostringstream messages;
        const Messages capture{messages};
        /* All once with descriptors to spare: the undefined-behavior
           sanitizer takes some to look at a type the first time */
        FileWatch{}.watch(at("w").data(), {});
        Utility::Error{} << "";
        for(int spare = 0; spare != 8; ++spare) {
            messages.str({});
            limit.rlim_cur = free + spare;
            setrlimit(RLIMIT_NOFILE, &limit);
            FileWatch{}.watch(at("w").data(), {});
            out += messages.str().empty() ? "watched\n" : messages.str();
        }
        limit.rlim_cur = free + 8;
        setrlimit(RLIMIT_NOFILE, &limit);
        if(openDescriptors() != open) out += "leaked\n";
        Reader reader{at("w")};
        limit.rlim_cur = firstFreeDescriptor();
        setrlimit(RLIMIT_NOFILE, &limit);
        fs::create_directory(at("w/n"));
        const bool lost = reader.waitFor([&] { return toldOfLoss(reader); });
        return out + reader.records + (lost ? "lost\n" : "");
    });
    EXPECT_TRUE(std::regex_match(found, std::regex{"(ReadDirectoryChangesW failed: 4\n)+(watched\n)+1 n\nlost\n"})) << found;
}

/* Unreadable for real, to a process that cannot override permissions: the
   directory is refused, a subdirectory left out, and so is one that comes
   in later, while the rest of the tree reports */
TEST_F(ResourceFailures, UnreadableDirectory) {
    if(geteuid() != 0) GTEST_SKIP() << "Not root: no user to drop to";
    fs::permissions(at("w"), fs::perms::all);
    fs::permissions(at("w/d"), fs::perms::none);
    const std::string found = inChild([&] {
        if(setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return std::string{"Cannot drop to user 65534"};
        std::ostringstream out;
        {
            const Messages messages{out};
            FileWatch watcher;
            const int refused = watcher.watch(at("w/d").data(), {});
            const int watched = watcher.watch(at("w").data(), recorder(log));
            out << refused << " " << watched << "\n";
            mkdir(at("w/n").data(), 0);
            write("w/n2");
            poll(watcher, [&] { return contains(log, {"w/n2", FileWatch::Event::Add}); });
        }
        for(const Change& change: log) {
            PrintTo(change, &out);
            out << "\n";
        }
        return out.str();
    });
    if(found.rfind("Cannot", 0) == 0) GTEST_SKIP() << found;
    EXPECT_EQ(found, failed(ERROR_ACCESS_DENIED) + "1 2\nw/n FileWatch::Event::Add\nw/n2 FileWatch::Event::Add\n");
}

}}}}}
