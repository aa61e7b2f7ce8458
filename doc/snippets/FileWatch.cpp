/* Watching a directory for changes through FileWatch */

#include <cstdio>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEditor/Utils/FileWatch.h"

using namespace Corrade;
using namespace QuenfoldEngine;

int main() {
    const Containers::String assets = Utility::Path::join(*Utility::Path::currentDirectory(), "snippet-assets");
    Utility::Path::make(assets);

/** [filewatch] */
FileWatch watcher;
/* A directory watch sees everything below it */
watcher.watch(assets, [](Containers::StringView path, FileWatch::Event event) {
    Utility::Debug{} << Utility::Path::split(path).second() << event;
});

/* The user saves a material */
const Containers::String material = Utility::Path::join(assets, "brick.mat");
std::FILE* file = std::fopen(material.data(), "w");
std::fputs("roughness 0.8", file);
std::fclose(file);

/* The callbacks run inside update(): an editor calls it once a frame, a
   tool with nothing else to do sleeps in it until something changes */
while(!watcher.update(1000)) {}
/** [filewatch] */

    Utility::Path::remove(material);
    Utility::Path::remove(assets);
}
