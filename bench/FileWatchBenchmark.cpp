/* The cost of an update() with nothing to report, with one watcher on the
   thread and with a hundred, each on a small directory of its own: the
   thread's single kernel instance is read once whatever their number */

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>
#include <benchmark/benchmark.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/FileWatch.h"

namespace {

using namespace QuenfoldEngine;
namespace fs = std::filesystem;

void idleUpdate(benchmark::State& state) {
    std::string root = (fs::temp_directory_path()/"FileWatchBenchmark.XXXXXX").string();
    if(!mkdtemp(root.data())) {
        state.SkipWithError("cannot make a temporary directory");
        return;
    }
    std::vector<std::unique_ptr<FileWatch>> watchers;
    for(int i = 0; i != state.range(0); ++i) {
        const std::string directory = root + "/" + std::to_string(i);
        fs::create_directories(directory + "/sub");
        watchers.push_back(std::make_unique<FileWatch>());
        watchers.back()->watch(directory.data(), [](Corrade::Containers::StringView, FileWatch::Event) {});
    }
    for(auto _: state) benchmark::DoNotOptimize(watchers.front()->update());
    watchers.clear();
    fs::remove_all(root);
}

}

BENCHMARK(idleUpdate)->Arg(1)->Arg(100);

BENCHMARK_MAIN();
