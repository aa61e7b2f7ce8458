#ifndef Corrade_Containers_Array_h
#define Corrade_Containers_Array_h
/** @file
 * @brief Class @ref Corrade::Containers::Array
 */

#include <initializer_list>
#include <new>
#include <utility>

#include "Corrade/Tags.h"
#include "Corrade/Containers/ArrayView.h"

namespace Corrade { namespace Containers {

/**
@brief Owning array with a custom deleter

Move-only. A null deleter means the memory came from @cpp new[] @ce. An array
of size 0 made by the tagged constructors allocates nothing and has null
@ref data().
*/
template<class T, class D> class Array {
    public:
        typedef T Type;
        typedef D Deleter;

        /** @brief Default constructor: null data, size 0 */
        Array(std::nullptr_t = nullptr) noexcept: _data{}, _size{}, _deleter{} {}

        /** @brief Value-initialised array (zeros for numbers) */
        explicit Array(Corrade::ValueInitT, std::size_t size): _data{size ? new T[size]() : nullptr}, _size{size}, _deleter{} {}

        /** @brief Array with uninitialised trivial contents */
        explicit Array(Corrade::NoInitT, std::size_t size): _data{size ? new T[size] : nullptr}, _size{size}, _deleter{} {}

        /** @brief Default-initialised array */
        explicit Array(Corrade::DefaultInitT, std::size_t size): _data{size ? new T[size] : nullptr}, _size{size}, _deleter{} {}

        /** @brief Array holding copies of @p list */
        explicit Array(Corrade::InPlaceInitT, std::initializer_list<T> list): _data{list.size() ? new T[list.size()] : nullptr}, _size{list.size()}, _deleter{} {
            std::size_t i = 0;
            for(const T& item: list) _data[i++] = item;
        }

        /** @brief Value-initialised array of @p size elements */
        explicit Array(std::size_t size): Array{Corrade::ValueInit, size} {}

        /** @brief Take ownership of existing memory */
        explicit Array(T* data, std::size_t size, D deleter = D{}) noexcept: _data{data}, _size{size}, _deleter{deleter} {}

        Array(const Array&) = delete;
        Array(Array&& other) noexcept: _data{other._data}, _size{other._size}, _deleter{other._deleter} {
            other._data = nullptr;
            other._size = 0;
            other._deleter = D{};
        }

        ~Array() { destroy(); }

        Array& operator=(const Array&) = delete;
        Array& operator=(Array&& other) noexcept {
            std::swap(_data, other._data);
            std::swap(_size, other._size);
            std::swap(_deleter, other._deleter);
            return *this;
        }

        /* Conversion to views */
        operator ArrayView<T>() noexcept { return {_data, _size}; }
        operator ArrayView<const T>() const noexcept { return {_data, _size}; }
        operator ArrayView<const void>() const noexcept { return ArrayView<const T>{_data, _size}; }

        T* data() { return _data; }
        const T* data() const { return _data; }
        std::size_t size() const { return _size; }
        bool isEmpty() const { return !_size; }
        D deleter() const { return _deleter; }

        T* begin() { return _data; }
        const T* begin() const { return _data; }
        T* end() { return _data + _size; }
        const T* end() const { return _data + _size; }
        T& front() { return _data[0]; }
        const T& front() const { return _data[0]; }
        T& back() { return _data[_size - 1]; }
        const T& back() const { return _data[_size - 1]; }
        T& operator[](std::size_t i) { return _data[i]; }
        const T& operator[](std::size_t i) const { return _data[i]; }

        ArrayView<T> slice(std::size_t begin, std::size_t end) { return ArrayView<T>{*this}.slice(begin, end); }
        ArrayView<const T> slice(std::size_t begin, std::size_t end) const { return ArrayView<const T>{*this}.slice(begin, end); }
        ArrayView<T> prefix(std::size_t count) { return ArrayView<T>{*this}.prefix(count); }
        ArrayView<const T> prefix(std::size_t count) const { return ArrayView<const T>{*this}.prefix(count); }
        ArrayView<T> exceptPrefix(std::size_t count) { return ArrayView<T>{*this}.exceptPrefix(count); }
        ArrayView<const T> exceptPrefix(std::size_t count) const { return ArrayView<const T>{*this}.exceptPrefix(count); }
        ArrayView<T> exceptSuffix(std::size_t count) { return ArrayView<T>{*this}.exceptSuffix(count); }
        ArrayView<const T> exceptSuffix(std::size_t count) const { return ArrayView<const T>{*this}.exceptSuffix(count); }

        /** @brief Give up ownership: returns the data, the array becomes empty */
        T* release() {
            T* const data = _data;
            _data = nullptr;
            _size = 0;
            _deleter = D{};
            return data;
        }

    private:
        void destroy() {
            if(_deleter) _deleter(_data, _size);
            else delete[] _data;
        }

        T* _data;
        std::size_t _size;
        D _deleter;
};

/** @brief Make a view on an array */
template<class T, class D> ArrayView<T> arrayView(Array<T, D>& array) {
    return array;
}

/** @brief Make a const view on an array */
template<class T, class D> ArrayView<const T> arrayView(const Array<T, D>& array) {
    return array;
}

}}

#endif
