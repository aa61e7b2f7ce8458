#include "QuenfoldEditor/Utils/FileWatch.h"

#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <unordered_map>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Pair.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Path.h>

#include "QuenfoldEngine/Path.h"
#include "QuenfoldEditor/Utils/Implementation/ChangeRecords.h"
#include "QuenfoldEditor/Utils/Implementation/TreeSnapshot.h"
#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine {

using namespace Corrade;
/* On Windows the constants are windows.h macros, so they are spelled
   unqualified everywhere */
using namespace Platform;

struct FileWatch::Watch {
    /* Empty for a watch on a whole directory */
    Containers::String filename;
    Containers::String directory;
    std::int64_t directoryIndex;
    std::int64_t id;
    Callback callback;
};

/* Reaches the completion routine through the OVERLAPPED's hEvent. Names the
   directory by position because the records move when _directories grows */
struct FileWatch::CompletionContext {
    FileWatch* watcher;
    std::int64_t directoryIndex;
};

struct FileWatch::Directory {
    /* Null once closed */
    HANDLE handle;
    /* Empty once retired, so that no later watch finds it */
    Containers::String path;
    /* The buffer, the OVERLAPPED and the context are blocks of their own:
       the platform keeps their addresses while a read is outstanding */
    Containers::Array<char> buffer;
    Containers::Pointer<OVERLAPPED> overlapped;
    Containers::Pointer<CompletionContext> context;
    std::uint32_t useCount;
    /* What the reader knows of the tree, when resynchronizing */
    Containers::Pointer<Implementation::TreeSnapshot> snapshot;
};

/* Finds the same directory as a scan of every record would: the paths of
   those not retired are distinct, and a retired one matches no path */
struct FileWatch::DirectoryIndex {
    std::unordered_map<std::string, std::size_t> positions;
};

struct FileWatch::PendingEvent {
    /* Position of the matched watch when it was matched, not its id */
    std::size_t watchIndex;
    Containers::String path;
    Event event;
};

namespace {

constexpr std::size_t NotificationBufferSize = 10240;

/* File and directory names created, deleted or renamed, contents written,
   creation time changed */
constexpr DWORD NotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME|FILE_NOTIFY_CHANGE_DIR_NAME|FILE_NOTIFY_CHANGE_LAST_WRITE|FILE_NOTIFY_CHANGE_CREATION;

/* The destructor waits this many times this long at most for cancelled
   reads to come back, about a second in all */
constexpr int TeardownWaits = 100;
constexpr DWORD TeardownWaitMilliseconds = 10;

constexpr FileWatch::Event NoEvent = FileWatch::Event(255);

/* A directory that failed to open keeps the invalid handle, which no read
   is ever outstanding on */
bool isOpen(const HANDLE handle) {
    return handle && handle != INVALID_HANDLE_VALUE;
}

/* Event of each platform action; an action past the end gives none */
constexpr FileWatch::Event ActionEvents[]{
    NoEvent,
    FileWatch::Event::Add,          /* FILE_ACTION_ADDED */
    FileWatch::Event::Remove,       /* FILE_ACTION_REMOVED */
    FileWatch::Event::Modify,       /* FILE_ACTION_MODIFIED */
    FileWatch::Event::RenameOld,    /* FILE_ACTION_RENAMED_OLD_NAME */
    FileWatch::Event::RenameNew     /* FILE_ACTION_RENAMED_NEW_NAME */
};

std::uint32_t utf16Unit(const char* const units, const std::size_t i) {
    std::uint16_t unit;
    std::memcpy(&unit, units + 2*i, 2);
    return unit;
}

/* Writes the UTF-8 form of count UTF-16 units to out, which has room for
   three bytes per unit, with every backslash turned into a slash. A valid
   surrogate pair becomes one four-byte sequence, a lone surrogate keeps the
   three-byte form. Returns the size written. */
std::size_t utf8PathFromUtf16(const char* const units, const std::size_t count, char* const out) {
    char* o = out;
    for(std::size_t i = 0; i != count; ++i) {
        std::uint32_t c = utf16Unit(units, i);
        if(c >= 0xd800 && c < 0xdc00 && i + 1 != count) {
            const std::uint32_t low = utf16Unit(units, i + 1);
            if(low >= 0xdc00 && low < 0xe000) {
                c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                ++i;
            }
        }

        if(c == '\\') {
            *o++ = '/';
        } else if(c < 0x80) {
            *o++ = char(c);
        } else if(c < 0x800) {
            *o++ = char(0xc0|(c >> 6));
            *o++ = char(0x80|(c & 0x3f));
        } else if(c < 0x10000) {
            *o++ = char(0xe0|(c >> 12));
            *o++ = char(0x80|((c >> 6) & 0x3f));
            *o++ = char(0x80|(c & 0x3f));
        } else {
            *o++ = char(0xf0|(c >> 18));
            *o++ = char(0x80|((c >> 12) & 0x3f));
            *o++ = char(0x80|((c >> 6) & 0x3f));
            *o++ = char(0x80|(c & 0x3f));
        }
    }
    return std::size_t(o - out);
}

}

namespace Implementation {

struct FileWatchCompletion {
    static void complete(const DWORD errorCode, const DWORD bytesTransferred, OVERLAPPED* const overlapped) {
        const FileWatch::CompletionContext& context = *static_cast<FileWatch::CompletionContext*>(overlapped->hEvent);
        /* A read that outlived its watcher; see the destructor */
        if(!context.watcher) return;

        FileWatch& watcher = *context.watcher;
        const std::size_t directoryIndex = context.directoryIndex;
        if(errorCode == ERROR_OPERATION_ABORTED) {
            FileWatch::Directory& directory = watcher._directories[directoryIndex];
            if(directory.handle) CloseHandle(directory.handle);
            directory.handle = nullptr;
            watcher.releaseRetired(directoryIndex);
            return;
        }

        /* Zero bytes means the changes overflowed the buffer, as does
           ERROR_NOTIFY_ENUM_DIR: what was lost cannot be told, and the
           directory goes silent unless it resynchronizes */
        if((errorCode == ERROR_SUCCESS && !bytesTransferred) || errorCode == ERROR_NOTIFY_ENUM_DIR) {
            if(watcher._flags & FileWatch::Flag::Resynchronize) watcher.resynchronize(directoryIndex);
            return;
        }
        if(errorCode != ERROR_SUCCESS) return;

        /* The next read reuses the buffer, so only after the decode */
        watcher.onChangeCallback(directoryIndex);
        watcher.startWatch(directoryIndex);
    }
};

}

namespace {

void QUENFOLD_COMPLETION_ROUTINE completionRoutine(const DWORD errorCode, const DWORD bytesTransferred, OVERLAPPED* const overlapped) {
    Implementation::FileWatchCompletion::complete(errorCode, bytesTransferred, overlapped);
}

}

FileWatch::FileWatch(const Flags flags): _nextId{1}, _directoryIndex{new DirectoryIndex}, _flags{flags} {
    /* The entry of id 0, which is never handed out */
    arrayAppend(_watchIndices, std::int64_t{});
    arrayReserve(_directories, 64);
}

FileWatch::~FileWatch() {
    clear();

    /* The platform writes into a directory's buffer and OVERLAPPED until its
       cancelled read has come back, which closes the handle. It normally has
       inside the wait of clear(), but a read issued on another thread, a
       refused cancellation or a read that raced its cancellation can keep a
       handle open */
    const auto anyOpen = [this] {
        for(const Directory& directory: _directories)
            if(isOpen(directory.handle)) return true;
        return false;
    };
    for(int wait = 0; wait != TeardownWaits && anyOpen(); ++wait)
        SleepEx(TeardownWaitMilliseconds, TRUE);

    /* Still open: the blocks the platform may yet write to are leaked on
       purpose, as freeing them could corrupt the heap later. The context
       stays readable and tells a late completion that there is no watcher
       any more. */
    for(Directory& directory: _directories) {
        if(!isOpen(directory.handle)) continue;
        directory.context->watcher = nullptr;
        directory.buffer.release();
        directory.overlapped.release();
        directory.context.release();
    }
}

int FileWatch::watch(const Containers::StringView path, Callback callback) {
    /* Consumed even when nothing gets registered: ids are never reused */
    const int id = _nextId++;

    const Containers::String absolutePath = Path::absolute(path);
    if(!Utility::Path::exists(absolutePath)) return 0;

    Containers::StringView directory = absolutePath;
    Containers::StringView filename;
    if(!Utility::Path::isDirectory(absolutePath)) {
        const Containers::Pair<Containers::StringView, Containers::StringView> split = Utility::Path::split(absolutePath);
        directory = split.first();
        filename = split.second();
    }

    const int directoryIndex = getDirectory(directory);
    if(directoryIndex < 0) {
        Utility::Warning{} << "Directory doesn't exist";
        return 0;
    }

    /* Ids consumed by calls that registered nothing get no watch */
    while(_watchIndices.size() < std::size_t(id)) arrayAppend(_watchIndices, std::int64_t{-1});
    arrayAppend(_watchIndices, std::int64_t(_watches.size()));

    arrayAppend(_watches, Watch{filename, directory, directoryIndex, id, std::move(callback)});
    return id;
}

std::size_t FileWatch::size() const {
    return _watches.size();
}

int FileWatch::getDirectory(const Containers::StringView directory) {
    const auto found = _directoryIndex->positions.find(std::string{directory.data(), directory.size()});
    if(found != _directoryIndex->positions.end()) {
        ++_directories[found->second].useCount;
        return int(found->second);
    }

    Containers::String path = directory;
    const HANDLE handle = CreateFileA(path.data(), FILE_LIST_DIRECTORY, FILE_SHARE_READ|FILE_SHARE_WRITE|FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS|FILE_FLAG_OVERLAPPED, nullptr);
    /* Only a directory that is not there (any more: it existed a moment
       ago) registers nothing. Any other failure keeps the invalid handle,
       whose read then fails with the reason. */
    if(handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return -1;
    }

    const std::size_t directoryIndex = _directories.size();
    Directory& added = arrayAppend(_directories, Directory{
        handle,
        std::move(path),
        Containers::Array<char>{ValueInit, NotificationBufferSize},
        Containers::Pointer<OVERLAPPED>{new OVERLAPPED{}},
        Containers::Pointer<CompletionContext>{new CompletionContext{this, std::int64_t(directoryIndex)}},
        1, {}});
    added.overlapped->hEvent = added.context.get();
    _directoryIndex->positions.emplace(std::string{directory.data(), directory.size()}, directoryIndex);

    startWatch(directoryIndex);
    /* After the read is armed, so that nothing between the two is missed */
    if(_flags & Flag::Resynchronize)
        _directories[directoryIndex].snapshot.emplace(_directories[directoryIndex].path);
    return int(directoryIndex);
}

bool FileWatch::startWatch(const std::size_t directoryIndex) {
    Directory& directory = _directories[directoryIndex];
    if(ReadDirectoryChangesW(directory.handle, directory.buffer.data(), DWORD(directory.buffer.size()), TRUE, NotifyFilter, nullptr, directory.overlapped.get(), completionRoutine))
        return true;

    /* No retry: the directory goes silent */
    const DWORD error = GetLastError();
    Utility::Error{} << "ReadDirectoryChangesW failed:" << error;
    return false;
}

/* Read on first, so that nothing changed during the walk is missed; a
   change may then be told twice, never not at all */
void FileWatch::resynchronize(const std::size_t directoryIndex) {
    if(_directories[directoryIndex].path.isEmpty() || !isOpen(_directories[directoryIndex].handle) || !startWatch(directoryIndex))
        return;

    Directory& directory = _directories[directoryIndex];
    Implementation::TreeSnapshot::Changes changes;
    if(!directory.snapshot->resynchronize(changes)) return;
    Utility::Warning{} << "FileWatch::update(): changes lost in" << directory.path << Utility::Debug::nospace << "," << "resynchronized with" << changes.size() << "differences";
    if(!changes.isEmpty()) onChangeCallback(changes);
}

void FileWatch::remove(const int id) {
    if(id < 1 || id >= _nextId || std::size_t(id) >= _watchIndices.size()) return;
    const std::int64_t position = _watchIndices[id];
    if(position < 0 || std::size_t(position) >= _watches.size()) return;
    removeInternal(position);
}

void FileWatch::removeInternal(const std::size_t position) {
    _watchIndices[_watches[position].id] = -1;
    const std::size_t directoryIndex = _watches[position].directoryIndex;

    /* The last watch fills the gap: positions stay dense */
    const std::size_t last = _watches.size() - 1;
    if(position != last) {
        std::swap(_watches[position], _watches[last]);
        _watchIndices[_watches[position].id] = std::int64_t(position);
    }
    arrayRemoveSuffix(_watches, 1);

    Directory& directory = _directories[directoryIndex];
    if(--directory.useCount) return;

    /* Retired: the aborted read closes the handle once it comes back, during
       the next alertable wait */
    if(!CancelIo(directory.handle)) {
        const DWORD error = GetLastError();
        Utility::Error{} << "FileWatch::remove(): windows error" << error;
    }
    _directoryIndex->positions.erase(std::string{directory.path.data(), directory.path.size()});
    directory.path = Containers::String{};
    directory.snapshot = nullptr;
    releaseRetired(directoryIndex);
}

/* A retired directory keeps its record, so that positions stay, but once no
   read can be outstanding any more, nothing of what the reads needed: a
   closed handle's completions have run by the end of the wait that closed
   it, and a handle that failed to open never had a read */
void FileWatch::releaseRetired(const std::size_t directoryIndex) {
    Directory& directory = _directories[directoryIndex];
    if(!directory.path.isEmpty() || isOpen(directory.handle)) return;
    directory.buffer = nullptr;
    directory.overlapped = nullptr;
    directory.context = nullptr;
}

void FileWatch::clear() {
    for(Directory& directory: _directories) {
        if(!directory.handle || !CancelIo(directory.handle)) continue;

        /* Nonzero: a read was still outstanding, and its abort closes the
           handle */
        if(CancelIoEx(directory.handle, directory.overlapped.get())) continue;

        const DWORD error = GetLastError();
        if(error == ERROR_NOT_FOUND) {
            CloseHandle(directory.handle);
            directory.handle = nullptr;
        } else Utility::Error{} << "FileWatch::clear(): windows error" << error;
    }

    SleepEx(0, TRUE);
    for(std::size_t i = 0; i != _directories.size(); ++i) releaseRetired(i);
}

void FileWatch::onChangeCallback(const std::size_t directoryIndex) {
    Directory& directory = _directories[directoryIndex];
    const Containers::ArrayView<const char> buffer = directory.buffer;
    Containers::Array<char> name{NoInit, buffer.size()/2*3};
    Containers::Array<Containers::Pair<Containers::String, Event>> changes;

    Implementation::forEachChangeRecord(buffer, [&](const DWORD action, const char* const units, const std::size_t unitsSize) {
        const Event event = action < std::size(ActionEvents) ? ActionEvents[action] : NoEvent;
        if(event == NoEvent) return;
        const Containers::StringView relative{name.data(), utf8PathFromUtf16(units, unitsSize/2, name.data())};
        if(directory.snapshot) directory.snapshot->apply(relative, event);
        arrayAppend(changes, InPlaceInit, Utility::Path::join(directory.path, relative), event);
    });

    if(!changes.isEmpty()) onChangeCallback(changes);
}

void FileWatch::onChangeCallback(const Containers::ArrayView<Containers::Pair<Containers::String, Event>> changes) {
    for(const Containers::Pair<Containers::String, Event>& change: changes) {
        const Containers::StringView path = change.first();
        const Containers::StringView name = Utility::Path::split(path).second();
        /* Every watch is tested, whichever directory's read reported the
           change */
        for(std::size_t i = 0; i != _watches.size(); ++i) {
            const Watch& watch = _watches[i];
            if(!path.hasPrefix(watch.directory) || (!watch.filename.isEmpty() && watch.filename != name))
                continue;
            arrayAppend(_pendingEvents, PendingEvent{i, path, change.second()});
        }
    }
}

bool FileWatch::update() {
    return update(0);
}

bool FileWatch::update(const std::uint32_t timeoutMilliseconds) {
    /* Completions run here: they decode, match and re-arm */
    SleepEx(timeoutMilliseconds, TRUE);
    if(_pendingEvents.isEmpty()) return false;

    /* Events queued by the callbacks themselves wait for the next update */
    const Containers::Array<PendingEvent> batch = std::move(_pendingEvents);
    for(const PendingEvent& pending: batch) {
        /* Looked up again every time, since a callback may remove watches */
        if(pending.watchIndex >= _watches.size()) {
            Utility::Warning{} << "FileWatch::update(): Callback index" << pending.watchIndex << "out of range of" << _watches.size() << "elements";
            continue;
        }

        /* A copy, so that the callback may remove its own watch */
        const Callback callback = _watches[pending.watchIndex].callback;
        if(!callback) continue;
        try {
            callback(pending.path, pending.event);
        } catch(const std::exception&) {}
    }

    return true;
}

Utility::Debug& operator<<(Utility::Debug& debug, const FileWatch::Event value) {
    const char* text = "FileWatch::Event::Invalid()";
    switch(value) {
        case FileWatch::Event::Add: text = "FileWatch::Event::Add"; break;
        case FileWatch::Event::Remove: text = "FileWatch::Event::Remove"; break;
        case FileWatch::Event::Modify: text = "FileWatch::Event::Modify"; break;
        case FileWatch::Event::RenameOld: text = "FileWatch::Event::RenameOld"; break;
        case FileWatch::Event::RenameNew: text = "FileWatch::Event::RenameNew"; break;
    }
    return debug << text;
}

}
