/* quenfold-watch: prints the changes to files and directories as the editor's
   file watcher reports them, for shells, scripts and benchmarks */

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/FileWatch.h"
#include "tools/CommandLine.h"

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

Options:
  --timeout SECONDS  stop after SECONDS (a decimal number)
  --count N          stop after N events
  --help             show this help

Without either option it runs until interrupted (Ctrl-C or SIGTERM).

Exit status: 0 normal end, 1 a PATH cannot be watched, 2 usage error.
)";

const CommandLine commandLine{"quenfold-watch", Usage, Help};

volatile std::sig_atomic_t interrupted = 0;

extern "C" void interrupt(int) { interrupted = 1; }

/* A non-negative number filling the whole argument, an integer if asked */
bool parseNumber(const char* const argument, const bool integer, double& out) {
    char* end;
    out = std::strtod(argument, &end);
    return *argument && !*end && out >= 0.0 && (!integer || out == static_cast<unsigned long long>(out));
}

}

int main(int argc, char** argv) {
    double timeout = -1.0, count = -1.0;
    bool options = true;
    int firstPath = 0;
    for(int i = 1; i != argc; ++i) {
        const char* const argument = argv[i];
        if(options && std::strcmp(argument, "--") == 0) options = false;
        else if(options && CommandLine::isHelpOption(argument)) return commandLine.printHelp();
        else if(options && (std::strcmp(argument, "--timeout") == 0 || std::strcmp(argument, "--count") == 0)) {
            if(i + 1 == argc) return commandLine.usageError("missing value of", argument);
            const bool isCount = argument[2] == 'c';
            if(!parseNumber(argv[++i], isCount, isCount ? count : timeout)) return commandLine.usageError("invalid value of", argument);
        } else if(options && argument[0] == '-' && argument[1]) return commandLine.usageError("unknown option", argument);
        else {
            /* Paths go to the front, so they are argv[0] to argv[firstPath - 1]
               afterwards, in order */
            argv[firstPath++] = argv[i];
        }
    }
    if(!firstPath) return commandLine.usageError("missing", "PATH");

    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);

    unsigned long long printed = 0;
    const unsigned long long limit = count < 0.0 ? ~0ull : static_cast<unsigned long long>(count);
    const auto print = [&](const Containers::StringView path, const FileWatch::Event event) {
        if(printed == limit) return;
        Utility::Debug{} << path << event;
        std::cout.flush();
        ++printed;
    };

    FileWatch watch;
    for(int i = 0; i != firstPath; ++i) if(!watch.watch(argv[i], print)) {
        std::fprintf(stderr, "quenfold-watch: cannot watch %s\n", argv[i]);
        return Failure;
    }

    /* Polling every millisecond keeps the delay short while the process
       sleeps nearly all the time */
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>{timeout < 0.0 ? 0.0 : timeout};
    while(!interrupted && printed != limit && (timeout < 0.0 || std::chrono::steady_clock::now() < deadline)) {
        watch.update();
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    }
    return Success;
}
