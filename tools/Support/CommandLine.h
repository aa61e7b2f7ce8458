#ifndef tools_Support_CommandLine_h
#define tools_Support_CommandLine_h
/* What the command-line tools share: exit codes, --help, --version and usage
   errors printed the same way by each */

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QuenfoldEditor/Utils/version.h"

namespace QuenfoldEngine { namespace Tools {

enum ExitCode: int {
    Success = 0,
    Failure = 1,
    UsageError = 2
};

struct CommandLine {
    const char* name;
    /* "Usage: name ...\n" */
    const char* usage;
    const char* help;

    static bool isHelpOption(const char* const argument) {
        return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
    }

    int printHelp() const {
        std::fputs(usage, stdout);
        std::fputs(help, stdout);
        return Success;
    }

    static bool isVersionOption(const char* const argument) {
        return std::strcmp(argument, "--version") == 0;
    }

    /* The library's version, which the tools share */
    int printVersion() const {
        std::printf("%s %s\n", name, QUENFOLDEDITORUTILS_VERSION_STRING);
        return Success;
    }

    /* Decimal digits only, without overflow */
    static bool parseCount(const char* const argument, unsigned long long& out) {
        if(!*argument || std::strspn(argument, "0123456789") != std::strlen(argument)) return false;
        errno = 0;
        out = std::strtoull(argument, nullptr, 10);
        return errno == 0;
    }

    int usageError(const char* const what, const char* const argument) const {
        std::fprintf(stderr, "%s: %s %s\n%sTry %s --help\n", name, what, argument, usage, name);
        return UsageError;
    }
};

}}

#endif
