/* Arbitrary bytes as the buffer of a completed directory read, through a
   scripted directory-change backend, to a watcher with directory and file
   watches. The first byte picks what else happens before update(). Decoding,
   delivery and teardown must stay inside the buffer, which AddressSanitizer
   checks, and every event must be a valid one for a path below a watched
   directory. */

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/Platform/Scripted/DirectoryChanges.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;
using namespace QuenfoldEngine;

namespace {

/* A tree on disk for the watcher to resolve: d/a.txt and d/sub */
std::string root;

void removeTree() {
    std::system(("rm -rf '" + root + "'").c_str());
}

enum: std::uint8_t {
    /* The same bytes complete the read of d/sub too */
    CompleteSub = 1 << 0,
    /* The file watch goes before update() */
    RemoveFileWatch = 1 << 1,
    /* The watcher is cleared with the reads completed but not run */
    ClearFirst = 1 << 2
};

}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/quenfold-fuzz-notifications-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern));
    /* Spelled as the watcher spells the paths it reports */
    const Containers::String absolute = Path::absolute(pattern);
    root.assign(absolute.data(), absolute.size());
    FUZZ_CHECK(Utility::Path::make((root + "/d/sub").c_str()));
    FUZZ_CHECK(Utility::Path::write((root + "/d/a.txt").c_str(), Containers::ArrayView<const void>{}));
    std::atexit(removeTree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* const data, const std::size_t size) {
    if(!size) return 0;
    const std::uint8_t flags = data[0];
    const std::string bytes{reinterpret_cast<const char*>(data) + 1, size - 1};
    Scripted::reset();

    const std::string directory = root + "/d";
    {
        Utility::Error silenceErrors{nullptr};
        Utility::Warning silenceWarnings{nullptr};
        FileWatch watcher;
        const auto check = [&](const Containers::StringView path, const FileWatch::Event event) {
            FUZZ_CHECK(path.hasPrefix(Containers::StringView{directory.data(), directory.size()}));
            FUZZ_CHECK(std::uint8_t(event) <= std::uint8_t(FileWatch::Event::RenameNew));
        };
        FUZZ_CHECK(watcher.watch(directory.c_str(), check) == 1);
        FUZZ_CHECK(watcher.watch((directory + "/a.txt").c_str(), [&](const Containers::StringView path, const FileWatch::Event event) {
            FUZZ_CHECK(Utility::Path::split(path).second() == "a.txt");
            check(path, event);
        }) == 2);
        FUZZ_CHECK(watcher.watch((directory + "/sub").c_str(), check) == 3);
        FUZZ_CHECK(Scripted::handles() == "h1 reading, h2 reading");

        FUZZ_CHECK(Scripted::complete(directory, bytes));
        if(flags & CompleteSub) FUZZ_CHECK(Scripted::complete(directory + "/sub", bytes));
        if(flags & RemoveFileWatch) watcher.remove(2);
        if(flags & ClearFirst) watcher.clear();
        watcher.update();
    }

    /* Every read came back and every handle is closed */
    FUZZ_CHECK(Scripted::queued() == 0);
    FUZZ_CHECK(Scripted::handles() == "h1 closed, h2 closed");
    return 0;
}
