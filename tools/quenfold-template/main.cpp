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
#include "tools/CommandLine.h"
#include "tools/InputFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace Corrade;
using namespace QuenfoldEngine;
using namespace QuenfoldEngine::Tools;

const char Usage[] = "Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\n";

const char Help[] = R"(
Renders TEMPLATE against the JSON documents CONTEXT.json and writes the text
to standard output. TEMPLATE and the JSON files are regular files, and one of
them may be - for standard input. JSON documents nest arrays and objects at
most 512 levels deep. A name is looked up in the documents in the order
given: the first document that has it decides.

Options:
  --check   only parse TEMPLATE (and the JSON files) and report whether the
            template is valid; nothing is rendered
  --help    show this help

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

Exit status: 0 rendered (with --check: valid), 1 syntax or render error,
2 usage error, unreadable file or invalid JSON.
)";

const CommandLine commandLine{"quenfold-template", Usage, Help};

int run(int argc, char** argv) {
    bool check = false;
    bool options = true;
    std::vector<const char*> files;
    for(int i = 1; i != argc; ++i) {
        const char* const argument = argv[i];
        if(options && std::strcmp(argument, "--") == 0) options = false;
        else if(options && CommandLine::isHelpOption(argument)) return commandLine.printHelp();
        else if(options && std::strcmp(argument, "--check") == 0) check = true;
        else if(options && argument[0] == '-' && argument[1]) return commandLine.usageError("unknown option", argument);
        else files.push_back(argument);
    }
    if(files.empty()) return commandLine.usageError("missing", "TEMPLATE");

    Containers::Optional<Containers::String> source = readInputFile(commandLine.name, files[0]);
    if(!source) return UsageError;

    /* The documents stay where they are: the handles refer to them */
    std::vector<std::unique_ptr<rapidjson::Document>> documents;
    std::vector<std::unique_ptr<JsonPointerObject>> handles;
    std::vector<Containers::Reference<JsonObject>> contexts;
    for(std::size_t i = 1; i != files.size(); ++i) {
        const Containers::Optional<Containers::String> json = readInputFile(commandLine.name, files[i]);
        if(!json) return UsageError;
        documents.emplace_back(new rapidjson::Document);
        rapidjson::Document& document = *documents.back();
        if(!parseJsonFile(commandLine.name, files[i], *json, document)) return UsageError;
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
