#include "tools/quenfold-template/LivePreview.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <rapidjson/document.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/Reference.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Format.h>

#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/JsonPointerObject.h"
#include "QuenfoldEditor/Utils/Template.h"
#include "QuenfoldEngine/Path.h"
#include "tools/Support/CommandLine.h"
#include "tools/Support/InputFile.h"
#include "tools/Support/Interrupt.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace QuenfoldEngine { namespace Tools {

namespace {

using namespace Corrade;
typedef std::chrono::steady_clock Clock;

/* One line on standard error, after the time of day */
void printTimed(const Containers::StringView message) {
    const std::time_t now = std::time(nullptr);
    char time[16];
    std::strftime(time, sizeof(time), "%H:%M:%S", std::localtime(&now));
    std::fprintf(stderr, "%s %.*s\n", time, int(message.size()), message.data());
    std::fflush(stderr);
}

/* What the library printed, each line told with the time and, when the
   lines were printed for one file, its name */
void printTimedLines(const std::string& lines, const char* const name = nullptr) {
    for(const Containers::StringView line: Containers::StringView{lines.data(), lines.size()}.split('\n'))
        if(!line.isEmpty()) printTimed(name ? Utility::format("{}: {}", name, line) : Containers::String{line});
}

/* Replaces to with from in one step, so that a viewer never reads half of
   it; empty, or why it could not */
Containers::String replaceFile(const char* const from, const char* const to) {
    #ifdef _WIN32
    if(!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return Utility::format("Windows error {}", GetLastError());
    #else
    if(std::rename(from, to) != 0) return std::strerror(errno);
    #endif
    return {};
}

int processId() {
    #ifdef _WIN32
    return _getpid();
    #else
    return getpid();
    #endif
}

/* A file the text depends on: the template or a context */
struct Source {
    const char* name;
    /* Spelled as the watcher spells the paths of changes */
    Containers::String path;
    /* Changed since it was last loaded */
    bool changed;
    /* The last load failed: nothing is rendered until it loads again */
    bool broken;
};

class Preview {
    public:
        explicit Preview(Containers::ArrayView<const char* const> files, const char* output, std::uint32_t quietMilliseconds);

        int run();

    private:
        void load(std::size_t index);
        void render();
        void write(Containers::StringView text);

        Containers::Array<Source> _sources;
        const char* _output;
        std::chrono::milliseconds _quiet;
        Containers::Pointer<Template> _template;
        /* Context i - 1 reads document i - 1: the template is source 0 */
        Containers::Array<Containers::Pointer<rapidjson::Document>> _documents;
        Containers::Array<Containers::Pointer<JsonPointerObject>> _handles;
        Containers::Array<Containers::Reference<JsonObject>> _contexts;
        /* What the output file holds, to leave it alone when a render gives
           the same text */
        Containers::Optional<Containers::String> _written;
        bool _pending = false;
        Clock::time_point _quietUntil;
};

Preview::Preview(const Containers::ArrayView<const char* const> files, const char* const output, const std::uint32_t quietMilliseconds): _output{output}, _quiet{quietMilliseconds} {
    for(const char* const name: files) {
        arrayAppend(_sources, Source{name, Path::absolute(name), true, false});
        if(_sources.size() == 1) continue;
        arrayAppend(_documents, Containers::pointer<rapidjson::Document>());
        arrayAppend(_handles, Containers::pointer<JsonPointerObject>(*_documents.back()));
        arrayAppend(_contexts, Containers::Reference<JsonObject>{*_handles.back()});
    }
}

void Preview::load(const std::size_t index) {
    Source& source = _sources[index];
    source.changed = false;
    Containers::String why;
    const Containers::Optional<Containers::String> contents = readInputFile(source.name, why);
    if(!contents) {
        printTimed(Utility::format("{}: cannot read: {}", source.name, why));
        source.broken = true;
        return;
    }

    /* A broken file leaves the last good state in place, so that the next
       good save renders against the others as they are */
    if(index == 0) {
        std::ostringstream messages;
        Containers::Pointer<Template> parsed;
        {
            Utility::Error redirectError{&messages};
            parsed.emplace(*contents);
        }
        source.broken = !parsed->valid();
        if(source.broken) printTimedLines(messages.str(), source.name);
        else _template = std::move(parsed);
    } else {
        rapidjson::Document document;
        source.broken = !parseJsonFile(*contents, document, why);
        if(source.broken) printTimed(Utility::format("{}: {}", source.name, why));
        else _documents[index - 1]->Swap(document);
    }
}

void Preview::render() {
    for(std::size_t i = 0; i != _sources.size(); ++i)
        if(_sources[i].changed) load(i);
    for(const Source& source: _sources) if(source.broken) return;

    std::ostringstream messages;
    Containers::String text;
    {
        Utility::Error redirectError{&messages};
        text = _template->render(_contexts);
    }
    if(!messages.str().empty()) printTimedLines(messages.str(), _sources[0].name);
    else write(text);
}

void Preview::write(const Containers::StringView text) {
    if(!_output) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputs(text.isEmpty() || text.back() == '\n' ? "\f\n" : "\n\f\n", stdout);
        /* A full disk: told, and the next render tries again */
        if(std::fflush(stdout) != 0 || std::ferror(stdout)) {
            printTimed(Utility::format("standard output: cannot write: {}", std::strerror(errno)));
            std::clearerr(stdout);
        }
        return;
    }

    if(_written && *_written == text) {
        printTimed(Utility::format("{}: unchanged", _output));
        return;
    }
    const Containers::String temporary = Utility::format("{}.{}.tmp", _output, processId());
    std::FILE* const file = std::fopen(temporary.data(), "wb");
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if(file) written = std::fclose(file) == 0 && written;
    const Containers::String failure = written ? replaceFile(temporary.data(), _output) : Containers::String{std::strerror(errno)};
    if(!failure.isEmpty()) {
        printTimed(Utility::format("{}: cannot write: {}", _output, failure));
        std::remove(temporary.data());
        _written = Containers::NullOpt;
        return;
    }
    _written = Containers::String{text};
    printTimed(Utility::format("{}: written", _output));
}

int Preview::run() {
    /* Never deaf: changes lost in a burst are found again, and the files
       they touched rendered */
    FileWatch watcher{FileWatch::Flag::Resynchronize};
    for(std::size_t i = 0; i != _sources.size(); ++i) {
        const auto changed = [this, i](const Containers::StringView path, FileWatch::Event) {
            /* A watch on a file also hears of files of the same name in the
               directories below */
            if(path != _sources[i].path) return;
            _sources[i].changed = true;
            _pending = true;
            _quietUntil = Clock::now() + _quiet;
        };
        if(!watcher.watch(_sources[i].name, changed)) {
            std::fprintf(stderr, "quenfold-template: cannot watch %s\n", _sources[i].name);
            return Failure;
        }
    }

    /* Watched first, so that a save while the first render runs is not
       missed; interrupts caught before anyone is told it is ready */
    catchInterrupts();
    render();
    printTimed(Utility::format("Watching {} files", _sources.size()));

    while(!interrupted()) {
        std::uint32_t timeout = NoTimeLimit;
        if(_pending) {
            const Clock::time_point now = Clock::now();
            if(now >= _quietUntil) {
                _pending = false;
                render();
                continue;
            }
            timeout = std::uint32_t(std::chrono::ceil<std::chrono::milliseconds>(_quietUntil - now).count());
        }
        /* That changes were lost is told like the rest */
        std::ostringstream warnings;
        {
            const Utility::Warning redirectWarning{&warnings};
            watcher.update(timeout);
        }
        printTimedLines(warnings.str());
    }
    return Success;
}

}

int livePreview(const Containers::ArrayView<const char* const> files, const char* const output, const std::uint32_t quietMilliseconds) {
    return Preview{files, output, quietMilliseconds}.run();
}

}}
