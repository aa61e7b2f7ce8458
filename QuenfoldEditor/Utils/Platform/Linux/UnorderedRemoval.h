#ifndef QuenfoldEditor_Utils_Platform_Linux_Helpers_h
#define QuenfoldEditor_Utils_Platform_Linux_Helpers_h
/* Small helpers that the units of the Linux backend share. Private to the
   Linux backend. */

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>

namespace QuenfoldEngine { namespace Platform { namespace Linux {

/* Monotonic, in nanoseconds */
inline std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return std::int64_t(time.tv_sec)*1000000000 + time.tv_nsec;
}

/* Removes the element, the last one taking its place: for arrays whose order
   does not matter */
template<class T> void removeAt(Corrade::Containers::Array<T>& array, T& element) {
    if(&element != &array.back()) element = std::move(array.back());
    Corrade::Containers::arrayRemoveSuffix(array, 1);
}

/* Removes the value, if there, the same way */
template<class T> void removeOne(Corrade::Containers::Array<T*>& array, T* const value) {
    T** const found = std::find(array.begin(), array.end(), value);
    if(found != array.end()) removeAt(array, *found);
}

}}}

#endif
