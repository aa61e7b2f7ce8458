#ifndef QuenfoldEngine_StringArray_h
#define QuenfoldEngine_StringArray_h
/** @file
 * @brief Class @ref QuenfoldEngine::StringArrayView, @ref QuenfoldEngine::StringArray
 */

#include <cstddef>
#include <cstdint>

#include <Corrade/Tags.h>
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
         * @cpp Corrade::Containers::StringViewFlag::NullTerminated @ce: a
         * zero byte follows it in the array.
         */
        Corrade::Containers::StringView operator[](std::size_t i) const {
            const std::size_t begin = offset(i);
            return {_characters + begin, offset(i + 1) - begin - 1,
                Corrade::Containers::StringViewFlag::NullTerminated};
        }

        /** @brief View on the strings from @p begin to the end; empty past it */
        StringArrayView suffix(std::size_t begin) const;

    protected:
        /**
         * @brief View on @p size strings in @p characters
         *
         * @p offsets holds @p size + 1 offsets, of @cpp std::size_t @ce if
         * @p wideOffsets is set and of @cpp std::uint32_t @ce otherwise.
         */
        StringArrayView(const char* characters, const void* offsets, bool wideOffsets, std::size_t size, std::size_t capacity) noexcept;

        /**
         * @brief Where string @p i begins in the characters
         *
         * String i spans from offset i to offset i + 1, its zero byte
         * included. Offsets take 32 bits each while the characters fit,
         * which halves the table of an array of short strings, and a
         * @cpp std::size_t @ce beyond.
         */
        std::size_t offset(std::size_t i) const {
            return _wideOffsets ? static_cast<const std::size_t*>(_offsets)[i] :
                static_cast<const std::uint32_t*>(_offsets)[i];
        }

        const char* _characters;    /**< @brief The strings, each followed by a zero byte */
        const void* _offsets;       /**< @brief Offsets of the strings, one more than there are */
        std::size_t _size;          /**< @brief Number of strings */
        std::size_t _capacity;      /**< @brief Characters reserved */
        bool _wideOffsets;          /**< @brief Whether the offsets are @cpp std::size_t @ce */
};

/**
@brief Owning list of strings

All strings live in one growable character buffer, each followed by a zero
byte, with a table of offsets beside it: 4 bytes per string while the
characters total less than 4 GB, 8 bytes per string beyond. A
@ref StringArray is a @ref StringArrayView and is passed wherever a view is
expected. Move-only; a moved-from array is empty.
*/
class QUENFOLDENGINE_EXPORT StringArray: public StringArrayView {
    public:
        /** @brief Empty array with room for @p capacity characters */
        explicit StringArray(std::size_t capacity = 0);

        StringArray(const StringArray&) = delete;
        /** @brief Move constructor; @p other is left empty */
        StringArray(StringArray&& other) noexcept;
        StringArray& operator=(const StringArray&) = delete;
        /** @brief Move assignment; the strings are swapped */
        StringArray& operator=(StringArray&& other) noexcept;

        /**
         * @brief Append a copy of @p string
         * @return Index of the new string
         *
         * Views taken earlier are invalidated.
         */
        virtual std::size_t add(Corrade::Containers::StringView string);

        /**
         * @brief Append a string of @p size characters left for the caller to fill
         * @return The new string's characters, followed by a zero byte
         *
         * For text put together from several pieces, without assembling it
         * elsewhere first. Views taken earlier are invalidated.
         */
        Corrade::Containers::MutableStringView add(Corrade::NoInitT, std::size_t size);

        /** @brief Destructor; frees the strings */
        virtual ~StringArray();

    private:
        void appendOffset(std::size_t offset);
        void updateView();

        Corrade::Containers::Array<char> _characterStorage;
        /* The offsets, from the first string's on, with room for more: its
           size is its capacity in bytes. Grown with realloc(), which moves
           a large table without copying where the system allows, instead
           of holding it twice while copying. */
        Corrade::Containers::Array<char> _offsetStorage;
};

}

#endif
