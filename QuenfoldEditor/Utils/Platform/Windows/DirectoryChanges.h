#ifndef QuenfoldEditor_Utils_Platform_Windows_DirectoryChanges_h
#define QuenfoldEditor_Utils_Platform_Windows_DirectoryChanges_h
/* The Windows backend of the directory-change seam: KERNEL32 itself, passed
   through under the seam's namespace. Included only by DirectoryChanges.h. */

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#define QUENFOLD_COMPLETION_ROUTINE WINAPI

namespace QuenfoldEngine { namespace Platform {

using ::BOOL;
using ::DWORD;
using ::FILE_NOTIFY_INFORMATION;
using ::HANDLE;
using ::LPOVERLAPPED_COMPLETION_ROUTINE;
using ::OVERLAPPED;
using ::WCHAR;

using ::CancelIo;
using ::CancelIoEx;
using ::CloseHandle;
using ::CreateFileA;
using ::GetLastError;
using ::ReadDirectoryChangesW;
using ::SleepEx;

}}

#endif
