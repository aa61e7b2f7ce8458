/* Arbitrary bytes as the buffer of a completed directory read, through a
   scripted directory-change backend, to a watcher with directory and file
   watches. The first byte picks what else happens before update(). Decoding,
   delivery and teardown must stay inside the buffer, which AddressSanitizer
   checks, and every event must be a valid one for a path below a watched
   directory. */

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/FileWatch.h"
#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "fuzz/FuzzCheck.h"

using namespace Corrade;
using namespace QuenfoldEngine;

namespace {

/* The directory-change operations for one thread, with the platform's
   contract: one read per handle, completions run only in alertable waits, a
   cancelled read completing with ERROR_OPERATION_ABORTED */
struct Handle {
    /* A read is outstanding while reading, and once cancelled until its
       abort has run */
    bool open, reading, cancelled;
    char* buffer;
    Platform::DWORD size;
    Platform::OVERLAPPED* overlapped;
    Platform::LPOVERLAPPED_COMPLETION_ROUTINE routine;
};

struct Completion {
    std::size_t handle;
    Platform::DWORD error, bytes;
};

std::vector<Handle> handles;
std::vector<Completion> completions;
Platform::DWORD lastError;

Handle* find(const Platform::HANDLE handle) {
    const std::size_t i = reinterpret_cast<std::uintptr_t>(handle);
    return i && i <= handles.size() && handles[i - 1].open ? &handles[i - 1] : nullptr;
}

Platform::BOOL fail(const Platform::DWORD error) {
    lastError = error;
    return Platform::FALSE;
}

void cancel(Handle& handle) {
    if(handle.cancelled) return;
    handle.cancelled = true;
    completions.push_back({std::size_t(&handle - handles.data()), Platform::ERROR_OPERATION_ABORTED, 0});
}

}

namespace QuenfoldEngine { namespace Platform {

HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    handles.push_back({true, false, false, nullptr, 0, nullptr, nullptr});
    return reinterpret_cast<HANDLE>(std::uintptr_t(handles.size()));
}

BOOL ReadDirectoryChangesW(const HANDLE directory, void* const buffer, const DWORD bufferLength, BOOL, DWORD, DWORD*, OVERLAPPED* const overlapped, const LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    Handle* const handle = find(directory);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) return fail(ERROR_INVALID_PARAMETER);
    *handle = {true, true, false, static_cast<char*>(buffer), bufferLength, overlapped, routine};
    return TRUE;
}

BOOL CancelIo(const HANDLE file) {
    Handle* const handle = find(file);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) cancel(*handle);
    return TRUE;
}

BOOL CancelIoEx(const HANDLE file, OVERLAPPED*) {
    Handle* const handle = find(file);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(!handle->reading) return fail(ERROR_NOT_FOUND);
    cancel(*handle);
    return TRUE;
}

BOOL CloseHandle(const HANDLE object) {
    Handle* const handle = find(object);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) cancel(*handle);
    handle->open = false;
    return TRUE;
}

DWORD SleepEx(DWORD, const BOOL alertable) {
    DWORD result = 0;
    /* Completion routines may queue more, which run in the same wait */
    for(std::size_t i = 0; alertable && i != completions.size(); ++i, result = WAIT_IO_COMPLETION) {
        const Completion completion = completions[i];
        Handle& handle = handles[completion.handle];
        if(handle.cancelled) handle.reading = false;
        handle.routine(completion.error, completion.bytes, handle.overlapped);
    }
    if(alertable) completions.clear();
    return result;
}

DWORD GetLastError() { return lastError; }

}}

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
    const Containers::StringView bytes{reinterpret_cast<const char*>(data) + 1, size - 1};
    handles.clear();
    completions.clear();

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
        FUZZ_CHECK(handles.size() == 2);

        /* As the platform fills it: never more than the buffer holds */
        for(std::size_t i = 0; i != handles.size(); ++i) {
            if(i && !(flags & CompleteSub)) break;
            Handle& handle = handles[i];
            const std::size_t count = bytes.size() < handle.size ? bytes.size() : handle.size;
            if(count) std::memcpy(handle.buffer, bytes.data(), count);
            handle.reading = false;
            completions.push_back({i, 0, Platform::DWORD(count)});
        }
        if(flags & RemoveFileWatch) watcher.remove(2);
        if(flags & ClearFirst) watcher.clear();
        watcher.update();
    }

    /* Every read came back and every handle is closed */
    FUZZ_CHECK(completions.empty());
    for(const Handle& handle: handles) FUZZ_CHECK(!handle.open);
    return 0;
}
