#ifndef QuenfoldEditor_Utils_Platform_Linux_UnorderedRemoval_h
#define QuenfoldEditor_Utils_Platform_Linux_UnorderedRemoval_h
/* Removal from arrays whose order does not matter, in constant time. Private
   to the Linux backend. */

#include <algorithm>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>

namespace QuenfoldEngine { namespace Platform { namespace Linux {

/* Removes the element, the last one taking its place */
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
