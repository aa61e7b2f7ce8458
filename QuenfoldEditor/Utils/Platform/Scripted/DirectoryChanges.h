#ifndef QuenfoldEditor_Utils_Platform_Scripted_DirectoryChanges_h
#define QuenfoldEditor_Utils_Platform_Scripted_DirectoryChanges_h
/* The directory-change operations, driven by hand for one thread, for the
   watcher built with QUENFOLD_DIRECTORY_CHANGES_SCRIPTED. They keep the
   platform's contract: one outstanding read per handle, completions run only
   in alertable waits, a cancelled read completing with 995 at such a wait.
   They never sleep nor look at the disk. Handles are h1, h2, ... in opening
   order. */

#include <cstddef>
#include <string>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Scripted {

/* Operations made to fail */
enum class Failing { NextOpen, NextRead, CancelIo, CancelIoEx };

/* Forgets handles, failures, queued completions and calls */
void reset();

/* The next open or read start, or every CancelIo or CancelIoEx from now on,
   fails with the code; 0 lets them succeed */
void fail(Failing what, Platform::DWORD error);

/* Completes the read of the newest handle on the path that has one: copies
   as much of the bytes as its buffer holds and queues the code with the byte
   count, by default the count copied. False when no read is outstanding. */
bool complete(const std::string& path, const std::string& bytes, Platform::DWORD error = 0, Platform::DWORD byteCount = ~Platform::DWORD{});

/* Every handle, as "h1 reading, h2 cancelling, h3 open, h4 closed" */
std::string handles();

/* Completions queued that no alertable wait has run yet */
std::size_t queued();

/* The calls since the last time, one per line */
std::string calls();

}}

#endif
