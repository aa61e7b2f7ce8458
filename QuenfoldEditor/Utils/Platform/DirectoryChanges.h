#ifndef QuenfoldEditor_Utils_Platform_DirectoryChanges_h
#define QuenfoldEditor_Utils_Platform_DirectoryChanges_h
/* The seam between the file watcher and the platform: the Windows
   directory-change operations, under their Windows names and signatures, in
   namespace QuenfoldEngine::Platform. Each backend has a folder of its own:
   Windows/ passes KERNEL32's own through, Linux/ emulates them on inotify,
   and Scripted/ plays them by hand for the tests and the fuzzer, with the
   same contract. Private to the library: never installed, never included by
   a public header. */

/* A scripted backend for tests replaces KERNEL32 on Windows too */
#if defined(_WIN32) && !defined(QUENFOLD_DIRECTORY_CHANGES_SCRIPTED)
#include "QuenfoldEditor/Utils/Platform/Windows/DirectoryChanges.h"
#else
#include <cstdint>

/* Calling convention of a completion routine */
#define QUENFOLD_COMPLETION_ROUTINE

namespace QuenfoldEngine { namespace Platform {

typedef void* HANDLE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef char16_t WCHAR;

struct OVERLAPPED {
    std::uintptr_t Internal;
    std::uintptr_t InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    /* Left to the caller when a completion routine is used */
    HANDLE hEvent;
};

/* Records follow each other in the read's buffer, each NextEntryOffset
   bytes after the one before: on four-byte boundaries on Windows, back to
   back under Wine. The name is UTF-16, not terminated, FileNameLength bytes
   long. */
struct FILE_NOTIFY_INFORMATION {
    DWORD NextEntryOffset;
    DWORD Action;
    DWORD FileNameLength;
    WCHAR FileName[1];
};

typedef void(QUENFOLD_COMPLETION_ROUTINE *LPOVERLAPPED_COMPLETION_ROUTINE)(DWORD errorCode, DWORD bytesTransferred, OVERLAPPED* overlapped);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{});

constexpr DWORD FILE_LIST_DIRECTORY = 0x1;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;
constexpr DWORD FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;
constexpr DWORD FILE_NOTIFY_CHANGE_CREATION = 0x40;

constexpr DWORD FILE_ACTION_ADDED = 1;
constexpr DWORD FILE_ACTION_REMOVED = 2;
constexpr DWORD FILE_ACTION_MODIFIED = 3;
constexpr DWORD FILE_ACTION_RENAMED_OLD_NAME = 4;
constexpr DWORD FILE_ACTION_RENAMED_NEW_NAME = 5;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_NOTIFY_ENUM_DIR = 1022;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_DIRECTORY = 267;

/* What SleepEx() returns when completion routines ran, and the timeout that
   never expires */
constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
constexpr DWORD INFINITE = 0xFFFFFFFF;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadDirectoryChangesW(HANDLE directory, void* buffer, DWORD bufferLength, BOOL watchSubtree, DWORD notifyFilter, DWORD* bytesReturned, OVERLAPPED* overlapped, LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine);
BOOL CancelIo(HANDLE file);
BOOL CancelIoEx(HANDLE file, OVERLAPPED* overlapped);
BOOL CloseHandle(HANDLE object);
DWORD SleepEx(DWORD milliseconds, BOOL alertable);
DWORD GetLastError();

}}
#endif

#endif
