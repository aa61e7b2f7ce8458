/* quenfold-template: renders a template file against JSON files from a shell
   or a build script */

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <vector>
#include <rapidjson/document.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"
#include "tools/Support/CommandLine.h"
#include "tools/Support/InputFile.h"
#include "tools/quenfold-template/LivePreview.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;
using namespace QuenfoldEngine::Tools;

const char Usage[] = "Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\n"
    "  or:  quenfold-template --watch [-o OUTPUT] [--quiet MILLISECONDS] TEMPLATE [CONTEXT.json ...]\n";

const char Help[] = R"(
Renders TEMPLATE against the JSON documents CONTEXT.json and writes the text
to standard output. TEMPLATE and the JSON files are regular files, and one of
them may be - for standard input. JSON documents nest arrays and objects at
most 512 levels deep. A name is looked up in the documents in the order
given: the first document that has it decides.

Options:
  --check    only parse TEMPLATE (and the JSON files) and report whether the
             template is valid; nothing is rendered
  --watch    live preview: render, then render again each time TEMPLATE or a
             JSON file is saved, until Ctrl-C. Files written in place,
             truncated, replaced by a rename or deleted and created again are
             all picked up; changes that follow each other closely give one
             render. A file that cannot be read or parsed, or a failed render,
             is told on standard error, each line beginning with the time of
             day, and the last good output stays until the next good save.
             Without -o each render goes to standard output, followed by a
             line holding a form feed. The watcher follows the folder of
             each file with everything below it: keep the files in a folder
             of their own rather than at the top of a large tree.
  -o, --output OUTPUT
             with --watch: write each render to OUTPUT instead, replacing the
             file whole (written beside it, then renamed over it) and only
             when the text changed; standard error tells each render
  --quiet MILLISECONDS
             with --watch: render once no change came for this long
             (default 20)
  --help     show this help
  --version  show the version

The template language. Text outside {{ ... }} is copied unchanged; inside,
tokens are separated by spaces or tabs.
  {{ node.name }}    a name: member names separated by dots (or slashes).
                     Strings are written as they are, booleans as true or
                     false, numbers written with a decimal point with four
                     decimals (1.5 gives 1.5000). Numbers written without a
                     point, null, arrays and objects are errors.
  {{ 'text' }}       a string literal, in single or double quotes, without
                     escapes or blanks inside.
  {{ a == b }}       true when both operands give the same text, else false.
                     Any other operator in the middle (!=, is, ...) means
                     "not equal".
  {{ if a }}...{{ end }}
                     the section is kept only when a gives exactly true.
                     Sections do not nest: a section ends at the first end.

Example, with scene.json holding
  {"node": {"name": "cube", "visible": true}, "scale": 1.5}
and scene.txt holding
  Hello {{ node.name }}!{{ if node.visible }} [shown]{{ end }} Scale: {{ scale }}
the command
  quenfold-template scene.txt scene.json
prints
  Hello cube! [shown] Scale: 1.5000

Exit status: 0 rendered (with --check: valid; with --watch: interrupted),
1 syntax or render error, or a file that cannot be watched, 2 usage error,
unreadable file or invalid JSON.
)";

const CommandLine commandLine{"quenfold-template", Usage, Help};

/* Quiet period of a live preview: long enough for the two writes of a
   save, short enough not to be noticed */
constexpr unsigned long long DefaultQuietMilliseconds = 20;

/* Longest quiet period taken, about a day */
constexpr unsigned long long MaxQuietMilliseconds = 86400000;

/* Contents of a file, or NullOpt after printing why */
Containers::Optional<Containers::String> read(const char* const name) {
    Containers::String why;
    Containers::Optional<Containers::String> contents = readInputFile(name, why);
    if(!contents) std::fprintf(stderr, "%s: cannot read %s: %s\n", commandLine.name, name, why.data());
    return contents;
}

int run(int argc, char** argv) {
    bool check = false, watch = false;
    const char* outputFile = nullptr;
    unsigned long long quiet = DefaultQuietMilliseconds;
    bool options = true;
    std::vector<const char*> files;
    for(int i = 1; i != argc; ++i) {
        const char* const argument = argv[i];
        if(options && std::strcmp(argument, "--") == 0) options = false;
        else if(options && CommandLine::isHelpOption(argument)) return commandLine.printHelp();
        else if(options && CommandLine::isVersionOption(argument)) return commandLine.printVersion();
        else if(options && std::strcmp(argument, "--check") == 0) check = true;
        else if(options && std::strcmp(argument, "--watch") == 0) watch = true;
        else if(options && (std::strcmp(argument, "-o") == 0 || std::strcmp(argument, "--output") == 0 || std::strcmp(argument, "--quiet") == 0)) {
            if(i + 1 == argc) return commandLine.usageError("missing value of", argument);
            const char* const value = argv[++i];
            if(argument[2] == 'q') {
                if(!CommandLine::parseCount(value, quiet) || quiet > MaxQuietMilliseconds)
                    return commandLine.usageError("invalid value of", argument);
            } else outputFile = value;
        } else if(options && argument[0] == '-' && argument[1]) return commandLine.usageError("unknown option", argument);
        else files.push_back(argument);
    }
    if(files.empty()) return commandLine.usageError("missing", "TEMPLATE");
    if(watch) {
        if(check) return commandLine.usageError("not together with --watch:", "--check");
        for(const char* const file: files)
            if(std::strcmp(file, "-") == 0) return commandLine.usageError("not watchable:", "-");
        return livePreview({files.data(), files.size()}, outputFile, std::uint32_t(quiet));
    }
    if(outputFile) return commandLine.usageError("only with --watch:", "-o");

    Containers::Optional<Containers::String> source = read(files[0]);
    if(!source) return UsageError;

    /* The documents stay where they are: the handles refer to them */
    std::vector<std::unique_ptr<rapidjson::Document>> documents;
    std::vector<std::unique_ptr<JsonPointerObject>> handles;
    std::vector<Containers::Reference<JsonObject>> contexts;
    for(std::size_t i = 1; i != files.size(); ++i) {
        const Containers::Optional<Containers::String> json = read(files[i]);
        if(!json) return UsageError;
        documents.emplace_back(new rapidjson::Document);
        rapidjson::Document& document = *documents.back();
        Containers::String why;
        if(!parseJsonFile(*json, document, why)) {
            std::fprintf(stderr, "%s: %s: %s\n", commandLine.name, files[i], why.data());
            return UsageError;
        }
        handles.emplace_back(new JsonPointerObject{document});
        contexts.emplace_back(*handles.back());
    }

    Template t{*source};
    /* The template keeps its own copy: the source would otherwise stay
       beside it and the output, a third copy of a large template */
    source = Containers::NullOpt;
    if(check) {
        std::fprintf(t.valid() ? stdout : stderr, "%s: %s\n", files[0], t.valid() ? "valid" : "invalid");
        return t.valid() ? Success : Failure;
    }
    if(!t.valid()) return Failure;

    /* An empty text is a valid result too: a failure is told apart by the
       reason the library prints */
    std::ostringstream messages;
    Containers::String output;
    {
        Utility::Error redirectError{&messages};
        output = t.render(Containers::ArrayView<const Containers::Reference<JsonObject>>{contexts.data(), contexts.size()});
    }
    if(!messages.str().empty()) {
        std::cerr << messages.str();
        return Failure;
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? Success : Failure;
}

}

int main(int argc, char** argv) {
    #ifdef _WIN32
    /* The text is bytes, passed through unchanged: in text mode a template
       with CRLF line ends would come out with CR CR LF */
    _setmode(_fileno(stdout), _O_BINARY);
    #endif

    /* Inputs too large for the memory are refused as they are read; this
       is for what parsing and rendering them takes on top */
    try {
        return run(argc, argv);
    } catch(const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", commandLine.name);
        return Failure;
    }
}
