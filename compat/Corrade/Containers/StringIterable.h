#ifndef Corrade_Containers_StringIterable_h
#define Corrade_Containers_StringIterable_h
/** @file
 * @brief Class @ref Corrade::Containers::StringIterable
 */

#include <initializer_list>

#include "Corrade/Containers/ArrayView.h"
#include "Corrade/Containers/StringView.h"

namespace Corrade { namespace Containers {

/**
@brief Wrapper for any sequential container of strings

What @ref BasicStringView::join() takes. Non-owning: the wrapped container
must outlive it.
*/
class CORRADE_UTILITY_EXPORT StringIterable {
    public:
        /*implicit*/ StringIterable(ArrayView<const StringView> views) noexcept;
        /*implicit*/ StringIterable(ArrayView<const String> strings) noexcept;
        /*implicit*/ StringIterable(const Array<StringView>& views) noexcept;
        /*implicit*/ StringIterable(std::initializer_list<StringView> views) noexcept;

        std::size_t size() const { return _size; }
        bool isEmpty() const { return !_size; }
        StringView operator[](std::size_t i) const;

    private:
        const void* _data;
        std::size_t _size;
        bool _strings;
};

}}

#endif
