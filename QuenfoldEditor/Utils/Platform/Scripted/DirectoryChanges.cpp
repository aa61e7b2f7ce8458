#include "QuenfoldEditor/Utils/Platform/Scripted/DirectoryChanges.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace QuenfoldEngine {

using namespace Platform;

namespace {

struct Handle {
    std::string path;
    /* A read is outstanding while reading, and once cancelled until its
       abort has run */
    bool open, reading, cancelled;
    /* Of the last read issued, kept after it completed */
    char* buffer;
    DWORD size;
    OVERLAPPED* overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
};

struct Completion {
    std::size_t handle;
    DWORD error, bytes;
};

struct State {
    std::vector<Handle> handles;
    DWORD failures[4]{}, lastError{};
    std::deque<Completion> completions;
    std::string calls;
};

/* Never destroyed, and handles still open when reset() forgets them stay
   listed: the watcher leaves the blocks of a handle it could not close to
   the platform, and they have to stay reachable for the leak checker */
State& state = *new State;
std::vector<Handle>& abandoned = *new std::vector<Handle>;

BOOL fail(const DWORD error) {
    state.lastError = error;
    return FALSE;
}

std::string name(const HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? "invalid" : handle ? "h" + std::to_string(reinterpret_cast<std::uintptr_t>(handle)) : "null"; }

std::string hex(const DWORD value) {
    char out[16];
    std::snprintf(out, sizeof(out), " 0x%x", unsigned(value));
    return out;
}

/* The open handle, or null */
Handle* find(const HANDLE handle) {
    const std::uintptr_t i = reinterpret_cast<std::uintptr_t>(handle);
    return i && i <= state.handles.size() && state.handles[i - 1].open ? &state.handles[i - 1] : nullptr;
}

/* Logs the call of a function that takes just the handle */
Handle* called(const char* const function, const HANDLE handle) {
    state.calls += std::string{function} + " " + name(handle) + "\n";
    return find(handle);
}

void cancel(Handle& handle) {
    if(handle.cancelled) return;
    handle.cancelled = true;
    state.completions.push_back({std::size_t(&handle - state.handles.data()), ERROR_OPERATION_ABORTED, 0});
}

}

namespace Platform {

HANDLE CreateFileA(const char* const fileName, const DWORD desiredAccess, const DWORD shareMode, void*, const DWORD creationDisposition, const DWORD flagsAndAttributes, HANDLE) {
    state.calls += "CreateFileA " + std::string{fileName} + " " + std::to_string(desiredAccess) + " " + std::to_string(shareMode) + " " + std::to_string(creationDisposition) + hex(flagsAndAttributes);
    if(const DWORD error = std::exchange(state.failures[int(Scripted::Failing::NextOpen)], 0)) {
        state.calls += " -> invalid\n";
        fail(error);
        return INVALID_HANDLE_VALUE;
    }
    state.handles.push_back({fileName, true, false, false, nullptr, 0, nullptr, nullptr});
    const HANDLE handle = reinterpret_cast<HANDLE>(std::uintptr_t(state.handles.size()));
    state.calls += " -> " + name(handle) + "\n";
    return handle;
}

BOOL ReadDirectoryChangesW(const HANDLE directory, void* const buffer, const DWORD bufferLength, const BOOL watchSubtree, const DWORD notifyFilter, DWORD* const bytesReturned, OVERLAPPED* const overlapped, const LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    state.calls += "ReadDirectoryChangesW " + name(directory) + " " + std::to_string(bufferLength) + " " + std::to_string(watchSubtree) + hex(notifyFilter) + "\n";
    if(const DWORD error = std::exchange(state.failures[int(Scripted::Failing::NextRead)], 0)) return fail(error);
    Handle* const handle = find(directory);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    /* A second read on a handle is a misuse here */
    if(handle->reading || bytesReturned || !overlapped || !completionRoutine) return fail(ERROR_INVALID_PARAMETER);
    *handle = {handle->path, true, true, false, static_cast<char*>(buffer), bufferLength, overlapped, completionRoutine};
    return TRUE;
}

BOOL CancelIo(const HANDLE file) {
    Handle* const handle = called("CancelIo", file);
    if(const DWORD error = state.failures[int(Scripted::Failing::CancelIo)]) return fail(error);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) cancel(*handle);
    return TRUE;
}

BOOL CancelIoEx(const HANDLE file, OVERLAPPED* const overlapped) {
    Handle* const handle = called("CancelIoEx", file);
    if(const DWORD error = state.failures[int(Scripted::Failing::CancelIoEx)]) return fail(error);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(!handle->reading || handle->overlapped != overlapped) return fail(ERROR_NOT_FOUND);
    cancel(*handle);
    return TRUE;
}

BOOL CloseHandle(const HANDLE object) {
    Handle* const handle = called("CloseHandle", object);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) cancel(*handle);
    handle->open = false;
    return TRUE;
}

DWORD SleepEx(const DWORD milliseconds, const BOOL alertable) {
    state.calls += "SleepEx " + std::to_string(milliseconds) + " " + std::to_string(alertable) + "\n";
    DWORD result = 0;
    /* Completion routines may queue more, which run in the same wait */
    for(; alertable && !state.completions.empty(); result = WAIT_IO_COMPLETION) {
        const Completion completion = state.completions.front();
        state.completions.pop_front();
        Handle& handle = state.handles[completion.handle];
        if(handle.cancelled) handle.reading = false;
        handle.routine(completion.error, completion.bytes, handle.overlapped);
    }
    return result;
}

DWORD GetLastError() { return state.lastError; }

}

namespace Scripted {

void reset() {
    for(Handle& handle: state.handles)
        if(handle.open) abandoned.push_back(std::move(handle));
    state = State{};
}

void fail(const Failing what, const DWORD error) {
    state.failures[int(what)] = error;
}

bool complete(const std::string& path, const std::string& bytes, const DWORD error, const DWORD byteCount) {
    for(std::size_t i = state.handles.size(); i--; ) {
        Handle& handle = state.handles[i];
        if(handle.path != path || !handle.reading || handle.cancelled) continue;
        /* As the platform fills it: never more than the buffer holds */
        const DWORD copied = DWORD(std::min<std::size_t>(bytes.size(), handle.size));
        std::memcpy(handle.buffer, bytes.data(), copied);
        state.completions.push_back({i, error, byteCount == ~DWORD{} ? copied : byteCount});
        handle.reading = false;
        return true;
    }
    return false;
}

std::string handles() {
    std::string out;
    for(std::size_t i = 0; i != state.handles.size(); ++i) {
        const Handle& handle = state.handles[i];
        out += (i ? ", h" : "h") + std::to_string(i + 1) + (!handle.open ? " closed" : !handle.reading ? " open" : handle.cancelled ? " cancelling" : " reading");
    }
    return out;
}

std::size_t queued() { return state.completions.size(); }

std::string calls() { return std::exchange(state.calls, {}); }

}

}
