/* quenfold-watch: prints the changes to files and directories as the editor's
   file watcher reports them, for shells, scripts and benchmarks */

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <iostream>
#include <set>
#include <string>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"
#include "tools/Support/CommandLine.h"
#include "tools/Support/Interrupt.h"

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;
using namespace QuenfoldEngine::Tools;

const char Usage[] = "Usage: quenfold-watch [--timeout SECONDS] [--count N] PATH...\n";

const char Help[] = R"(
Watches each PATH, a file or a directory with everything below it, and prints
one line per change: the changed file's absolute path, a space and the event,
FileWatch::Event::Add, Remove, Modify, RenameOld (the old name of a renamed
file) or RenameNew (its new name). Each line is flushed as it is printed.

Once every watch is in place it prints "Watching N directories" on standard
error, N being the directories named by the PATHs; on a large tree that
takes a while, and changes before it may go unreported.

Options:
  --timeout SECONDS  stop SECONDS (a decimal number) after the watches are in
                     place
  --count N          stop after N events
  --help             show this help
  --version          show the version

Without either option it runs until interrupted (Ctrl-C or SIGTERM). It
sleeps while nothing changes and prints each change as soon as it comes.

When more changes come at once than the system can hold for it, some are
lost. It then compares what it watches with what it had been told, prints
the differences as events (Add, Remove, or Modify for a file whose size or
time changed) and says on standard error "FileWatch::update(): changes lost
in DIRECTORY, resynchronized with N differences".

Exit status: 0 normal end, 1 a PATH cannot be watched, 2 usage error.
)";

const CommandLine commandLine{"quenfold-watch", Usage, Help};

/* Longest timeout taken, about 31 years: beyond it the clock's arithmetic
   would overflow */
constexpr double MaxTimeout = 1.0e9;

/* Seconds, a decimal number from 0 to MaxTimeout filling the whole argument */
bool parseSeconds(const char* const argument, double& out) {
    char* end;
    out = std::strtod(argument, &end);
    return *argument && !*end && out >= 0.0 && out <= MaxTimeout;
}

}

int main(int argc, char** argv) {
    double timeout = -1.0;
    unsigned long long limit = ~0ull;
    bool options = true;
    int firstPath = 0;
    for(int i = 1; i != argc; ++i) {
        const char* const argument = argv[i];
        if(options && std::strcmp(argument, "--") == 0) options = false;
        else if(options && CommandLine::isHelpOption(argument)) return commandLine.printHelp();
        else if(options && CommandLine::isVersionOption(argument)) return commandLine.printVersion();
        else if(options && (std::strcmp(argument, "--timeout") == 0 || std::strcmp(argument, "--count") == 0)) {
            if(i + 1 == argc) return commandLine.usageError("missing value of", argument);
            const char* const value = argv[++i];
            if(!(argument[2] == 't' ? parseSeconds(value, timeout) : CommandLine::parseCount(value, limit)))
                return commandLine.usageError("invalid value of", argument);
        } else if(options && argument[0] == '-' && argument[1]) return commandLine.usageError("unknown option", argument);
        else {
            /* Paths go to the front, so they are argv[0] to argv[firstPath - 1]
               afterwards, in order */
            argv[firstPath++] = argv[i];
        }
    }
    if(!firstPath) return commandLine.usageError("missing", "PATH");

    catchInterrupts();

    unsigned long long printed = 0;
    const auto print = [&](const Containers::StringView path, const FileWatch::Event event) {
        if(printed == limit) return;
        Utility::Debug{} << path << event;
        std::cout.flush();
        ++printed;
    };

    /* Never deaf: after changes were lost, what changed meanwhile is
       printed as events, and standard error says so */
    FileWatch watch{FileWatch::Flag::Resynchronize};
    std::set<std::string> directories;
    for(int i = 0; i != firstPath; ++i) {
        if(!watch.watch(argv[i], print)) {
            std::fprintf(stderr, "quenfold-watch: cannot watch %s\n", argv[i]);
            return Failure;
        }
        /* The directory the watcher opened for it */
        const Containers::String absolute = Path::absolute(argv[i]);
        const Containers::StringView directory = Utility::Path::isDirectory(absolute) ? Containers::StringView{absolute} : Utility::Path::split(absolute).first();
        directories.emplace(directory.data(), directory.size());
    }
    std::fprintf(stderr, "Watching %zu directories\n", directories.size());

    /* Each wait ends at the first change, at a signal, or at the deadline */
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>{timeout < 0.0 ? 0.0 : timeout};
    while(!interrupted() && printed != limit) {
        std::uint32_t wait = NoTimeLimit;
        if(timeout >= 0.0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if(left <= 0) break;
            wait = std::uint32_t(std::min<decltype(left)>(left, NoTimeLimit - 1));
        }
        watch.update(wait);
    }
    return Success;
}
