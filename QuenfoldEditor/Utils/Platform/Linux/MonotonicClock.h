#ifndef QuenfoldEditor_Utils_Platform_Linux_MonotonicClock_h
#define QuenfoldEditor_Utils_Platform_Linux_MonotonicClock_h
/* The one clock of the Linux backend, for its waits and for pairing the
   halves of a rename. Private to the Linux backend. */

#include <cstdint>
#include <ctime>

namespace QuenfoldEngine { namespace Platform { namespace Linux {

/* Monotonic, in nanoseconds */
inline std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return std::int64_t(time.tv_sec)*1000000000 + time.tv_nsec;
}

}}}

#endif
