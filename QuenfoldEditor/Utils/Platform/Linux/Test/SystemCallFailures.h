#ifndef QuenfoldEditor_Utils_Platform_Linux_Test_SystemCallFailures_h
#define QuenfoldEditor_Utils_Platform_Linux_Test_SystemCallFailures_h
/* What the Linux backend's system calls do in a test build: each of them
   goes ahead unless the test said otherwise here. Calls are counted by kind
   from the moment the test says it, on every thread. */

#include <cstddef>
#include <functional>

#include "QuenfoldEditor/Utils/Platform/Linux/SystemCalls.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace Test {

constexpr std::size_t Always = ~std::size_t{};

/* The call of that kind skip calls from now fails with error, and so do the
   times - 1 calls of that kind after it */
void failCall(System::Call call, int error, std::size_t skip = 0, std::size_t times = 1);

/* The call of that kind skip calls from now goes ahead once action has run,
   which can change the file system as a race would */
void beforeCall(System::Call call, std::function<void()> action, std::size_t skip = 0);

/* Forgets what has not happened yet; returns how many plans that was */
std::size_t resetCalls();

}}}}

#endif
