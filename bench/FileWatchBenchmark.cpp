/* The file watcher's costs: an update() with nothing to report, with one
   watcher on the thread and with a hundred, each on a small directory of its
   own (the thread's single kernel instance is read once whatever their
   number); a watch() and remove() of one directory again and again, as an
   editor opening and closing documents does for days; and what keeping a
   snapshot of a large tree for resynchronization costs, in time and memory,
   against the default mode */

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <malloc.h>
#include <unistd.h>
#include <benchmark/benchmark.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/Implementation/TreeSnapshot.h"

extern "C" {

/* The C library's own, which these replace for the whole process */
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);

}

namespace {

using namespace QuenfoldEngine;
namespace fs = std::filesystem;

void ignore(Corrade::Containers::StringView, FileWatch::Event) {}

/* A directory of its own, removed with everything in it */
struct Scratch {
    Scratch() {
        path = (fs::temp_directory_path()/"FileWatchBenchmark.XXXXXX").string();
        if(!mkdtemp(path.data())) path.clear();
    }
    ~Scratch() { if(!path.empty()) fs::remove_all(path); }
    std::string path;
};

/* Resident memory of the process, in bytes */
std::size_t residentBytes() {
    std::ifstream status{"/proc/self/status"};
    for(std::string line; std::getline(status, line); )
        if(line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6))*1024;
    return 0;
}

/* Bytes the heap hands out now, and the most it did since the last reset,
   counted by the allocation functions below */
std::atomic<std::size_t> heapBytes{0}, heapPeak{0};

void counted(void* const pointer) {
    if(!pointer) return;
    const std::size_t now = heapBytes += malloc_usable_size(pointer);
    for(std::size_t peak = heapPeak; now > peak && !heapPeak.compare_exchange_weak(peak, now); ) {}
}

void uncounted(void* const pointer) {
    if(pointer) heapBytes -= malloc_usable_size(pointer);
}

void idleUpdate(benchmark::State& state) {
    const Scratch scratch;
    std::vector<std::unique_ptr<FileWatch>> watchers;
    for(int i = 0; i != state.range(0); ++i) {
        const std::string directory = scratch.path + "/" + std::to_string(i);
        fs::create_directories(directory + "/sub");
        watchers.push_back(std::make_unique<FileWatch>());
        watchers.back()->watch(directory.data(), ignore);
    }
    for(auto _: state) benchmark::DoNotOptimize(watchers.front()->update());
}

/* 20,000 cycles of watch(), remove() and the update() that lets the
   cancelled read come back: the cost of the first thousand against the
   last thousand, and how much the resident memory grew. Another directory
   stays watched on the thread, as an editor's project does: the last watch
   of a thread gone, its kernel instance is closed, which costs a wait for
   the kernel of its own. */
void watchRemoveCycles(benchmark::State& state) {
    const Scratch scratch, project;
    FileWatch projectWatcher;
    projectWatcher.watch(project.path.data(), ignore);
    constexpr int Cycles = 20000, Sample = 1000;
    for(auto _: state) {
        FileWatch watcher;
        const auto cycles = [&](const int count) {
            const auto start = std::chrono::steady_clock::now();
            for(int i = 0; i != count; ++i) {
                watcher.remove(watcher.watch(scratch.path.data(), ignore));
                watcher.update();
            }
            return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count()/count;
        };
        const std::size_t residentBefore = residentBytes();
        const double first = cycles(Sample);
        cycles(Cycles - 2*Sample);
        const double last = cycles(Sample);
        state.counters["first_us"] = first;
        state.counters["last_us"] = last;
        state.counters["last/first"] = last/first;
        state.counters["resident_MiB"] = (double(residentBytes()) - double(residentBefore))/(1024.0*1024.0);
    }
}

/* 2,000 directories of 50 files, two levels deep, made once */
const std::string& largeTree() {
    static const Scratch scratch;
    static bool made = false;
    if(!made) {
        for(int d = 0; d != 2000; ++d) {
            const std::string directory = scratch.path + "/" + std::to_string(d/50) + "/" + std::to_string(d);
            fs::create_directories(directory);
            for(int f = 0; f != 50; ++f) std::ofstream{directory + "/file-" + std::to_string(f) + ".asset"} << f;
        }
        made = true;
    }
    return scratch.path;
}
constexpr double LargeTreeEntries = 2000 + 40 + 2000*50;

/* A watch of the whole tree, and the heap it keeps and most took, per
   entry */
void watchLargeTree(benchmark::State& state) {
    const std::string& tree = largeTree();
    const FileWatch::Flags flags = state.range(0) ? FileWatch::Flag::Resynchronize : FileWatch::Flags{};
    for(auto _: state) {
        const std::size_t before = heapBytes;
        heapPeak = before;
        FileWatch watcher{flags};
        watcher.watch(tree.data(), ignore);
        state.counters["heap_B/entry"] = (double(heapBytes) - double(before))/LargeTreeEntries;
        state.counters["peak_B/entry"] = (double(heapPeak) - double(before))/LargeTreeEntries;
    }
}

/* A resynchronization of the whole tree, once with nothing changed and once
   with a file in a hundred changed, with the time and the most heap it took
   above what the snapshot holds */
void resynchronizeLargeTree(benchmark::State& state) {
    const std::string& tree = largeTree();
    Implementation::TreeSnapshot snapshot{tree.data()};
    for(auto _: state) {
        state.PauseTiming();
        if(state.range(0))
            for(int d = 0; d < 2000; d += 2)
                std::ofstream{tree + "/" + std::to_string(d/50) + "/" + std::to_string(d) + "/file-" + std::to_string(d % 50) + ".asset", std::ios::app} << 'x';
        Implementation::TreeSnapshot::Changes changes;
        const std::size_t before = heapBytes;
        heapPeak = before;
        state.ResumeTiming();
        snapshot.resynchronize(changes);
        state.PauseTiming();
        state.counters["changes"] = double(changes.size());
        state.counters["peak_B/entry"] = (double(heapPeak) - double(before))/LargeTreeEntries;
        state.ResumeTiming();
    }
}

}

extern "C" {

void* malloc(const std::size_t size) {
    void* const pointer = __libc_malloc(size);
    counted(pointer);
    return pointer;
}

void* calloc(const std::size_t count, const std::size_t size) {
    void* const pointer = __libc_calloc(count, size);
    counted(pointer);
    return pointer;
}

void* realloc(void* const pointer, const std::size_t size) {
    uncounted(pointer);
    void* const moved = __libc_realloc(pointer, size);
    counted(moved ? moved : pointer);
    return moved;
}

void free(void* const pointer) {
    uncounted(pointer);
    __libc_free(pointer);
}

}

BENCHMARK(idleUpdate)->Arg(1)->Arg(100);
BENCHMARK(watchRemoveCycles)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(watchLargeTree)->ArgName("resynchronizing")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(resynchronizeLargeTree)->ArgName("changed")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
