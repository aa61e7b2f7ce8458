#ifndef Corrade_Containers_ArrayView_h
#define Corrade_Containers_ArrayView_h
/** @file
 * @brief Class @ref Corrade::Containers::ArrayView
 */

#include <cstddef>
#include <type_traits>

#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/**
@brief Non-owning view on a contiguous range of elements

A pointer and a size. A view on mutable elements converts implicitly to a view
on const elements.
*/
template<class T> class ArrayView {
    public:
        typedef T Type;

        /** @brief Default constructor: null data, size 0 */
        constexpr ArrayView(std::nullptr_t = nullptr) noexcept: _data{}, _size{} {}

        /** @brief Construct from a pointer and a size */
        constexpr ArrayView(T* data, std::size_t size) noexcept: _data{data}, _size{size} {}

        /** @brief Construct from a C array */
        template<std::size_t size> constexpr ArrayView(T(&data)[size]) noexcept: _data{data}, _size{size} {}

        /** @brief Mutable view to const view */
        template<class U, class = typename std::enable_if<std::is_same<const U, T>::value && !std::is_same<U, T>::value>::type> constexpr ArrayView(ArrayView<U> other) noexcept: _data{other.data()}, _size{other.size()} {}

        constexpr T* data() const { return _data; }
        constexpr std::size_t size() const { return _size; }
        constexpr bool isEmpty() const { return !_size; }

        constexpr T* begin() const { return _data; }
        constexpr T* end() const { return _data + _size; }
        T& front() const { return _data[0]; }
        T& back() const { return _data[_size - 1]; }
        T& operator[](std::size_t i) const { return _data[i]; }

        /** @brief Elements from @p begin up to, not including, @p end */
        ArrayView<T> slice(std::size_t begin, std::size_t end) const {
            return {_data + begin, end - begin};
        }
        /** @brief The first @p count elements */
        ArrayView<T> prefix(std::size_t count) const { return {_data, count}; }
        /** @brief All but the first @p count elements */
        ArrayView<T> exceptPrefix(std::size_t count) const {
            return {_data + count, _size - count};
        }
        /** @brief All but the last @p count elements */
        ArrayView<T> exceptSuffix(std::size_t count) const {
            return {_data, _size - count};
        }

    private:
        T* _data;
        std::size_t _size;
};

/**
@brief Type-erased view, sized in bytes

Converts from a view of any type.
*/
template<> class ArrayView<const void> {
    public:
        typedef const void Type;

        constexpr ArrayView(std::nullptr_t = nullptr) noexcept: _data{}, _size{} {}
        constexpr ArrayView(const void* data, std::size_t size) noexcept: _data{data}, _size{size} {}
        template<class T> constexpr ArrayView(ArrayView<T> other) noexcept: _data{other.data()}, _size{other.size()*sizeof(T)} {}
        template<class T, std::size_t size> constexpr ArrayView(T(&data)[size]) noexcept: _data{data}, _size{size*sizeof(T)} {}

        constexpr const void* data() const { return _data; }
        constexpr std::size_t size() const { return _size; }
        constexpr bool isEmpty() const { return !_size; }

    private:
        const void* _data;
        std::size_t _size;
};

/** @brief Make a view from a pointer and a size */
template<class T> constexpr ArrayView<T> arrayView(T* data, std::size_t size) {
    return {data, size};
}

/** @brief Make a view on a C array */
template<std::size_t size, class T> constexpr ArrayView<T> arrayView(T(&data)[size]) {
    return {data};
}

/** @brief Make a view from a view (identity) */
template<class T> constexpr ArrayView<T> arrayView(ArrayView<T> view) {
    return view;
}

}}

#endif
