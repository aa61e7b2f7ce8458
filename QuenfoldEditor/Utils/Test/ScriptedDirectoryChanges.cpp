#include "QuenfoldEditor/Utils/Test/ScriptedDirectoryChanges.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace QuenfoldEngine {

using namespace Platform;

namespace {

struct Read {
    char* buffer;
    DWORD size;
    OVERLAPPED* overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE routine;
    std::thread::id thread;
    /* Outstanding until its abort has run */
    bool cancelled;
};

struct Handle {
    std::string path;
    bool open, reading;
    /* The last read issued, kept after it completed */
    Read read;
};

struct Completion {
    Read read;
    DWORD error, bytes;
    /* Handle whose cancelled read this ends, 0 for none */
    std::uintptr_t cancelled;
};

struct State {
    std::mutex mutex;
    std::vector<Handle> handles;
    std::map<std::string, DWORD> failingOpens;
    DWORD failures[3]{};
    std::map<std::thread::id, std::deque<Completion>> completions;
    std::vector<Read> abandoned;
    std::string calls;
};

/* Never destroyed, so that blocks left to the platform stay reachable for
   the leak checker */
State& state = *new State;
thread_local DWORD lastError;

std::lock_guard<std::mutex> locked() { return std::lock_guard<std::mutex>{state.mutex}; }

BOOL fail(const DWORD error) {
    lastError = error;
    return FALSE;
}

std::uintptr_t number(const HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

std::string name(const HANDLE handle) { return handle ? "h" + std::to_string(number(handle)) : "null"; }

std::string hex(const DWORD value) {
    char out[16];
    std::snprintf(out, sizeof(out), " 0x%x", unsigned(value));
    return out;
}

/* The open handle, or null */
Handle* find(const HANDLE handle) {
    const std::uintptr_t i = number(handle);
    return i && i <= state.handles.size() && state.handles[i - 1].open ? &state.handles[i - 1] : nullptr;
}

void cancel(const HANDLE handle) {
    Read& read = state.handles[number(handle) - 1].read;
    if(read.cancelled) return;
    read.cancelled = true;
    state.completions[read.thread].push_back({read, ERROR_OPERATION_ABORTED, 0, number(handle)});
}

}

namespace Platform {

HANDLE CreateFileA(const char* const fileName, const DWORD desiredAccess, const DWORD shareMode, void*, const DWORD creationDisposition, const DWORD flagsAndAttributes, HANDLE) {
    const auto lock = locked();
    state.calls += "CreateFileA " + std::string{fileName} + " " + std::to_string(desiredAccess) + " " + std::to_string(shareMode) + " " + std::to_string(creationDisposition) + hex(flagsAndAttributes);
    const auto failing = state.failingOpens.find(fileName);
    if(failing != state.failingOpens.end()) {
        state.calls += " -> invalid\n";
        fail(failing->second);
        return INVALID_HANDLE_VALUE;
    }
    state.handles.push_back({fileName, true, false, {}});
    const HANDLE handle = reinterpret_cast<HANDLE>(std::uintptr_t(state.handles.size()));
    state.calls += " -> " + name(handle) + "\n";
    return handle;
}

BOOL ReadDirectoryChangesW(const HANDLE directory, void* const buffer, const DWORD bufferLength, const BOOL watchSubtree, const DWORD notifyFilter, DWORD* const bytesReturned, OVERLAPPED* const overlapped, const LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine) {
    const auto lock = locked();
    state.calls += "ReadDirectoryChangesW " + name(directory) + " " + std::to_string(bufferLength) + " " + std::to_string(watchSubtree) + hex(notifyFilter) + "\n";
    if(const DWORD error = std::exchange(state.failures[int(Scripted::Failing::NextRead)], 0)) return fail(error);
    Handle* const handle = find(directory);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    /* A second read on a handle is a misuse here */
    if(handle->reading || bytesReturned || !overlapped || !completionRoutine) return fail(ERROR_INVALID_PARAMETER);
    handle->reading = true;
    handle->read = Read{static_cast<char*>(buffer), bufferLength, overlapped, completionRoutine, std::this_thread::get_id(), false};
    return TRUE;
}

BOOL CancelIo(const HANDLE file) {
    const auto lock = locked();
    state.calls += "CancelIo " + name(file) + "\n";
    if(const DWORD error = state.failures[int(Scripted::Failing::CancelIo)]) return fail(error);
    const Handle* const handle = find(file);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    /* Only the reads that the calling thread issued */
    if(handle->reading && handle->read.thread == std::this_thread::get_id()) cancel(file);
    return TRUE;
}

BOOL CancelIoEx(const HANDLE file, OVERLAPPED* const overlapped) {
    const auto lock = locked();
    state.calls += "CancelIoEx " + name(file) + "\n";
    if(const DWORD error = state.failures[int(Scripted::Failing::CancelIoEx)]) return fail(error);
    const Handle* const handle = find(file);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(!handle->reading || handle->read.overlapped != overlapped) return fail(ERROR_NOT_FOUND);
    cancel(file);
    return TRUE;
}

BOOL CloseHandle(const HANDLE object) {
    const auto lock = locked();
    state.calls += "CloseHandle " + name(object) + "\n";
    Handle* const handle = find(object);
    if(!handle) return fail(ERROR_INVALID_HANDLE);
    if(handle->reading) cancel(object);
    handle->open = false;
    return TRUE;
}

DWORD SleepEx(const DWORD milliseconds, const BOOL alertable) {
    std::unique_lock<std::mutex> lock{state.mutex};
    state.calls += "SleepEx " + std::to_string(milliseconds) + " " + std::to_string(alertable) + "\n";
    /* WAIT_IO_COMPLETION once a completion ran */
    DWORD result = 0;
    for(std::deque<Completion>* queue; alertable && !(queue = &state.completions[std::this_thread::get_id()])->empty(); result = 0xc0) {
        const Completion completion = queue->front();
        queue->pop_front();
        if(completion.cancelled) state.handles[completion.cancelled - 1].reading = false;
        lock.unlock();
        completion.read.routine(completion.error, completion.bytes, completion.read.overlapped);
        lock.lock();
    }
    return result;
}

DWORD GetLastError() { return lastError; }

}

namespace Scripted {

std::string records(const std::initializer_list<std::pair<DWORD, std::u16string>> records) {
    std::string bytes;
    for(const auto& record: records) {
        const DWORD start = DWORD(bytes.size());
        const DWORD header[]{0, record.first, DWORD(2*record.second.size())};
        bytes.append(reinterpret_cast<const char*>(header), sizeof(header));
        bytes.append(reinterpret_cast<const char*>(record.second.data()), 2*record.second.size());
        bytes.resize((bytes.size() + 3)/4*4, '\0');
        /* Linked to the next one, unless last */
        const DWORD next = &record == records.end() - 1 ? 0 : DWORD(bytes.size()) - start;
        std::memcpy(&bytes[start], &next, sizeof(DWORD));
    }
    return bytes;
}

void reset() {
    const auto lock = locked();
    for(const Handle& handle: state.handles)
        if(handle.open || handle.reading) state.abandoned.push_back(handle.read);
    for(const auto& queue: state.completions)
        for(const Completion& completion: queue.second) state.abandoned.push_back(completion.read);
    state.handles.clear();
    state.completions.clear();
    state.failingOpens.clear();
    std::fill(std::begin(state.failures), std::end(state.failures), 0);
    state.calls.clear();
}

void failOpen(const std::string& path, const DWORD error) {
    const auto lock = locked();
    state.failingOpens[path] = error;
}

void fail(const Failing what, const DWORD error) {
    const auto lock = locked();
    state.failures[int(what)] = error;
}

bool complete(const std::string& path, const std::string& bytes, const DWORD error, const DWORD byteCount) {
    const auto lock = locked();
    for(std::size_t i = state.handles.size(); i--; ) {
        Handle& handle = state.handles[i];
        if(handle.path != path || !handle.reading || handle.read.cancelled) continue;
        std::memcpy(handle.read.buffer, bytes.data(), std::min<std::size_t>(bytes.size(), handle.read.size));
        state.completions[handle.read.thread].push_back({handle.read, error, byteCount == ~DWORD{} ? DWORD(bytes.size()) : byteCount, 0});
        handle.reading = false;
        return true;
    }
    return false;
}

std::string takeCalls() {
    const auto lock = locked();
    return std::exchange(state.calls, {});
}

std::string handles() {
    const auto lock = locked();
    std::string out;
    for(std::size_t i = 0; i != state.handles.size(); ++i) {
        const Handle& handle = state.handles[i];
        out += (i ? ", h" : "h") + std::to_string(i + 1) + (!handle.open ? " closed" : !handle.reading ? " open" : handle.read.cancelled ? " cancelling" : " reading");
    }
    return out;
}

}

}
