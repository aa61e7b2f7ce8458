#ifndef QuenfoldEngine_StringArray_h
#define QuenfoldEngine_StringArray_h
/** @file
 * @brief Class @ref QuenfoldEngine::StringArrayView, @ref QuenfoldEngine::StringArray
 */

#include <cstddef>

#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEngine/visibility.h"

namespace QuenfoldEngine {

/**
@brief Non-owning view on the strings of a @ref StringArray

Cheap to copy. Valid while the array it was taken from lives and is not
appended to.
*/
class QUENFOLDENGINE_EXPORT StringArrayView {
    public:
        /** @brief Empty view */
        StringArrayView() noexcept;

        /** @brief Number of strings */
        std::size_t size() const { return _size; }

        /** @brief Characters reserved by the array, a size hint only */
        std::size_t capacity() const { return _capacity; }

        /**
         * @brief String at @p i, in the order they were added
         *
         * Has the exact length and is flagged
         * @ref Corrade::Containers::StringViewFlag::NullTerminated: a zero
         * byte follows it in the array.
         */
        Corrade::Containers::StringView operator[](std::size_t i) const {
            return {_characters + _offsets[i], _offsets[i + 1] - _offsets[i] - 1,
                Corrade::Containers::StringViewFlag::NullTerminated};
        }

        /** @brief View on the strings from @p begin to the end; empty past it */
        StringArrayView suffix(std::size_t begin) const;

    protected:
        StringArrayView(const char* characters, const std::size_t* offsets, std::size_t size, std::size_t capacity) noexcept;

        /* String i spans from offset i to offset i + 1, its zero byte
           included; there are size + 1 offsets */
        const char* _characters;
        const std::size_t* _offsets;
        std::size_t _size;
        std::size_t _capacity;
};

/**
@brief Owning list of strings

All strings live in one growable character buffer, each followed by a zero
byte, with a table of offsets beside it. A @ref StringArray is a
@ref StringArrayView and is passed wherever a view is expected. Move-only;
a moved-from array is empty.
*/
class QUENFOLDENGINE_EXPORT StringArray: public StringArrayView {
    public:
        /** @brief Empty array with room for @p capacity characters */
        explicit StringArray(std::size_t capacity = 0);

        StringArray(const StringArray&) = delete;
        StringArray(StringArray&& other) noexcept;
        StringArray& operator=(const StringArray&) = delete;
        StringArray& operator=(StringArray&& other) noexcept;

        /**
         * @brief Append a copy of @p string
         * @return Index of the new string
         *
         * Views taken earlier are invalidated.
         */
        virtual std::size_t add(Corrade::Containers::StringView string);

        virtual ~StringArray();

    private:
        void updateView();

        Corrade::Containers::Array<char> _characterStorage;
        Corrade::Containers::Array<std::size_t> _offsetStorage;
};

}

#endif
