#ifndef QuenfoldEditor_Utils_Test_ScriptedDirectoryChanges_h
#define QuenfoldEditor_Utils_Test_ScriptedDirectoryChanges_h
/* A directory-change backend driven by hand. It keeps the platform's
   contract: one outstanding read per handle, completions queued to the
   issuing thread and run only in its alertable waits, a cancelled read
   completing with 995 at such a wait, the last error per thread. It never
   sleeps nor looks at the disk. Handles are h1, h2, ... in opening order. */

#include <initializer_list>
#include <string>
#include <utility>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Scripted {

/* Notification records as the platform writes them, DWORD-aligned and
   linked, the last one with a NextEntryOffset of 0 */
std::string records(std::initializer_list<std::pair<Platform::DWORD, std::u16string>> records);

/* Forgets handles, failures and calls. The blocks of pending reads and of
   handles never closed are kept for good, as the platform would. */
void reset();

/* Opens of the path fail with the code */
void failOpen(const std::string& path, Platform::DWORD error);

/* The next read start, or every CancelIo or CancelIoEx from now on, fails
   with the code; 0 lets them succeed */
enum class Failing { NextRead, CancelIo, CancelIoEx };
void fail(Failing what, Platform::DWORD error);

/* Completes the read of the newest handle on the path that has one: copies
   bytes into its buffer and queues the code and byte count to the issuing
   thread. False when no read is outstanding. */
bool complete(const std::string& path, const std::string& bytes, Platform::DWORD error = 0, Platform::DWORD byteCount = ~Platform::DWORD{});

/* The calls since the last time, one per line */
std::string takeCalls();

/* Every handle, as "h1 reading, h2 cancelling, h3 open, h4 closed" */
std::string handles();

}}

#endif
