#ifndef Corrade_Containers_GrowableArray_h
#define Corrade_Containers_GrowableArray_h
/** @file
 * @brief Growable operations on @ref Corrade::Containers::Array:
 *      @ref Corrade::Containers::arrayAppend() and friends
 *
 * An array becomes growable on the first of these calls: its contents are
 * moved into storage with a capacity header, freed by a dedicated deleter.
 * Growth is geometric, so appends are amortised O(1).
 */

#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#include "Corrade/Containers/Array.h"

namespace Corrade { namespace Containers {

namespace Implementation {

/* The capacity is stored in front of the elements, padded to keep them
   aligned */
template<class T> constexpr std::size_t growableOffset() {
    return alignof(T) > sizeof(std::size_t) ? alignof(T) : sizeof(std::size_t);
}

template<class T> T* growableAllocate(std::size_t capacity) {
    /* A size that wraps around is a bug; stopping here also tells the
       optimizer the allocation is never empty */
    if(capacity > (~std::size_t{} - growableOffset<T>())/sizeof(T)) std::abort();
    char* const memory = static_cast<char*>(::operator new(growableOffset<T>() + capacity*sizeof(T)));
    *reinterpret_cast<std::size_t*>(memory) = capacity;
    return reinterpret_cast<T*>(memory + growableOffset<T>());
}

template<class T> std::size_t growableCapacity(const T* data) {
    return *reinterpret_cast<const std::size_t*>(reinterpret_cast<const char*>(data) - growableOffset<T>());
}

template<class T> void growableDeleter(T* data, std::size_t size) {
    if(!data) return;
    for(std::size_t i = 0; i != size; ++i) data[i].~T();
    ::operator delete(reinterpret_cast<char*>(data) - growableOffset<T>());
}

/* Twice the allocation in bytes, header included, but at least 16 bytes:
   2, 6, 14, 30 ints */
template<class T> std::size_t grownCapacity(std::size_t capacity) {
    std::size_t bytes = 2*(capacity*sizeof(T) + sizeof(std::size_t));
    if(bytes < 16) bytes = 16;
    return (bytes - sizeof(std::size_t))/sizeof(T);
}

template<class T, class ...Args> void construct(T* at, Args&&... args) {
    if constexpr(std::is_constructible<T, Args&&...>::value)
        new(at) T(std::forward<Args>(args)...);
    else
        new(at) T{std::forward<Args>(args)...};
}

template<class T> void rewrap(Array<T>& array, T* data, std::size_t size) {
    array = Array<T>{data, size, growableDeleter<T>};
}

/* Moves the contents into growable storage of exactly the given capacity.
   New elements get constructed by the caller *before* the old storage goes
   away, so that a value referring into the array survives the move. */
template<class T, class Construct> void reallocate(Array<T>& array, std::size_t capacity, std::size_t newSize, Construct&& construct) {
    const std::size_t size = array.size();
    T* const data = growableAllocate<T>(capacity);
    construct(data);
    for(std::size_t i = 0; i < size && i < newSize; ++i)
        new(data + i) T(std::move(array[i]));
    Array<T> old{std::move(array)};
    array = Array<T>{data, newSize, growableDeleter<T>};
}

template<class T, class Construct> T* appendWith(Array<T>& array, std::size_t count, Construct&& construct) {
    const std::size_t size = array.size();
    const bool growable = array.deleter() == growableDeleter<T>;
    const std::size_t capacity = growable && array.data() ? growableCapacity(array.data()) : 0;
    if(growable && capacity >= size + count) {
        T* const data = array.release();
        construct(data + size);
        rewrap(array, data, size + count);
    } else {
        std::size_t newCapacity = grownCapacity<T>(growable ? capacity : size);
        if(newCapacity < size + count) newCapacity = size + count;
        reallocate(array, newCapacity, size + count, [&](T* data) { construct(data + size); });
    }
    return array.data() + size;
}

}

/** @brief Whether the array uses the growable storage */
template<class T> bool arrayIsGrowable(Array<T>& array) {
    return array.deleter() == Implementation::growableDeleter<T>;
}

/** @brief Capacity of the array; its size for a non-growable one */
template<class T> std::size_t arrayCapacity(Array<T>& array) {
    if(arrayIsGrowable(array) && array.data())
        return Implementation::growableCapacity(array.data());
    return array.size();
}

/** @brief Reserve capacity for at least @p capacity elements
@return The new capacity

A non-growable array is always moved to growable storage. Reserving exactly
@p n and then appending @p n elements never reallocates.
*/
template<class T> std::size_t arrayReserve(Array<T>& array, std::size_t capacity) {
    const bool growable = arrayIsGrowable(array);
    const std::size_t current = arrayCapacity(array);
    if(growable && current >= capacity) return current;
    const std::size_t size = array.size();
    const std::size_t newCapacity = capacity > size ? capacity : size;
    Implementation::reallocate(array, newCapacity, size, [](T*) {});
    return newCapacity;
}

/** @brief Append a copy of @p value
@return Reference to the new element
*/
template<class T> T& arrayAppend(Array<T>& array, const typename std::common_type<T>::type& value) {
    return *Implementation::appendWith(array, 1, [&](T* at) { new(at) T(value); });
}

/** @brief Append @p value, moving it
@return Reference to the new element
*/
template<class T> T& arrayAppend(Array<T>& array, typename std::common_type<T>::type&& value) {
    return *Implementation::appendWith(array, 1, [&](T* at) { new(at) T(std::move(value)); });
}

/** @brief Append an element constructed in place from @p args
@return Reference to the new element
*/
template<class T, class ...Args> T& arrayAppend(Array<T>& array, Corrade::InPlaceInitT, Args&&... args) {
    return *Implementation::appendWith(array, 1, [&](T* at) {
        Implementation::construct(at, std::forward<Args>(args)...);
    });
}

/** @brief Append copies of all @p values
@return View on the new elements
*/
template<class T> ArrayView<T> arrayAppend(Array<T>& array, typename std::common_type<ArrayView<const T>>::type values) {
    T* const first = Implementation::appendWith(array, values.size(), [&](T* at) {
        for(std::size_t i = 0; i != values.size(); ++i) new(at + i) T(values[i]);
    });
    return {first, values.size()};
}

/** @brief Resize, value-initialising new elements */
template<class T> void arrayResize(Array<T>& array, std::size_t size) {
    const std::size_t current = array.size();
    if(size > current) {
        Implementation::appendWith(array, size - current, [&](T* at) {
            for(std::size_t i = 0; i != size - current; ++i) new(at + i) T();
        });
    } else if(!arrayIsGrowable(array)) {
        Implementation::reallocate(array, size, size, [](T*) {});
    } else {
        T* const data = array.release();
        for(std::size_t i = size; i != current; ++i) data[i].~T();
        Implementation::rewrap(array, data, size);
    }
}

/** @brief Resize, leaving new trivial elements uninitialised */
template<class T> void arrayResize(Array<T>& array, Corrade::NoInitT, std::size_t size) {
    static_assert(std::is_trivially_copyable<T>::value, "uninitialised resize is only for trivial types");
    const std::size_t current = array.size();
    if(size > current)
        Implementation::appendWith(array, size - current, [](T*) {});
    else arrayResize(array, size);
}

/** @brief Remove the last @p count elements */
template<class T> void arrayRemoveSuffix(Array<T>& array, std::size_t count = 1) {
    arrayResize(array, array.size() - count);
}

/** @brief Turn a growable array back into one of exactly its size */
template<class T> void arrayShrink(Array<T>& array) {
    if(!arrayIsGrowable(array)) return;
    const std::size_t size = array.size();
    T* const data = size ? new T[size] : nullptr;
    for(std::size_t i = 0; i != size; ++i) data[i] = std::move(array[i]);
    array = Array<T>{data, size};
}

}}

#endif
