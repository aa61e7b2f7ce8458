#ifndef Corrade_Containers_String_h
#define Corrade_Containers_String_h
/** @file
 * @brief Class @ref Corrade::Containers::String, tag
 *      @ref Corrade::Containers::AllocatedInit
 */

#include "Corrade/Tags.h"
#include "Corrade/Containers/StringView.h"

namespace Corrade { namespace Containers {

/** @brief Allocated initialisation tag type */
struct AllocatedInitT { struct Init {}; constexpr explicit AllocatedInitT(Init) {} };

/** @brief Force a heap allocation even for short strings */
constexpr AllocatedInitT AllocatedInit{AllocatedInitT::Init{}};

/**
@brief Owning string

Always followed by a zero byte. Up to @ref SmallSize characters are stored inline
(@ref isSmall()). A default-constructed string is empty with a non-null
@ref data() pointing to a zero byte. A moved-from string is empty; after
moving out a non-small string its @ref data() is null.
*/
class CORRADE_UTILITY_EXPORT String {
    public:
        typedef void(*Deleter)(char*, std::size_t);

        /**
         * @brief Capacity of the inline storage, without the zero byte
         *
         * 22 on 64-bit, 10 on 32-bit: the three words of the string, less
         * the zero byte and a byte of state.
         */
        enum: std::size_t { SmallSize = 3*sizeof(std::size_t) - 2 };

        /**
         * @brief Non-owning string for a null-terminated view
         *
         * If @p view is @ref StringViewFlag::NullTerminated, the result points
         * to its data without copying and frees nothing; a view made from it
         * is also @ref StringViewFlag::Global if @p view was. Otherwise an
         * owning copy.
         */
        static String nullTerminatedView(StringView view);

        /**
         * @brief Non-owning string for a global null-terminated view
         *
         * Like @ref nullTerminatedView(), but only a view that is both
         * @ref StringViewFlag::Global and @ref StringViewFlag::NullTerminated
         * is referenced; others are copied.
         */
        static String nullTerminatedGlobalView(StringView view);

        /** @brief Empty string */
        /*implicit*/ String() noexcept;

        /** @brief Copy of a view */
        /*implicit*/ String(StringView view);

        /** @brief Copy of a zero-terminated string; null gives an empty one */
        /*implicit*/ String(const char* data);

        /** @brief Copy of @p size characters */
        /*implicit*/ String(const char* data, std::size_t size);

        /** @brief Copy of a view, never small */
        explicit String(AllocatedInitT, StringView view);

        /** @brief Zero-filled string of @p size characters */
        explicit String(Corrade::ValueInitT, std::size_t size);

        /** @brief String of @p size uninitialised characters */
        explicit String(Corrade::NoInitT, std::size_t size);

        /**
         * @brief Take ownership of a buffer
         *
         * @p data must have a zero byte at @p data[size]. The string is never
         * small and frees the buffer with @p deleter (@cpp delete[] @ce if
         * null).
         */
        explicit String(char* data, std::size_t size, Deleter deleter) noexcept;

        String(const String& other);
        String(String&& other) noexcept;
        ~String();

        String& operator=(const String& other);
        String& operator=(String&& other) noexcept;

        char* data();
        const char* data() const;
        std::size_t size() const;
        bool isEmpty() const { return !size(); }
        /** @brief Whether the characters are stored inline */
        bool isSmall() const { return _small.state & SmallBit; }
        /** @brief Deleter; null for a small string */
        Deleter deleter() const;

        char* begin() { return data(); }
        const char* begin() const { return data(); }
        char* end() { return data() + size(); }
        const char* end() const { return data() + size(); }
        char& front() { return data()[0]; }
        char front() const { return data()[0]; }
        char& back() { return data()[size() - 1]; }
        char back() const { return data()[size() - 1]; }
        char& operator[](std::size_t i) { return data()[i]; }
        char operator[](std::size_t i) const { return data()[i]; }

        bool hasPrefix(StringView prefix) const { return StringView{*this}.hasPrefix(prefix); }
        bool hasPrefix(char prefix) const { return StringView{*this}.hasPrefix(prefix); }
        bool hasSuffix(StringView suffix) const { return StringView{*this}.hasSuffix(suffix); }
        bool hasSuffix(char suffix) const { return StringView{*this}.hasSuffix(suffix); }
        StringView prefix(std::size_t count) const { return StringView{*this}.prefix(count); }
        StringView exceptPrefix(std::size_t count) const { return StringView{*this}.exceptPrefix(count); }
        StringView exceptSuffix(std::size_t count) const { return StringView{*this}.exceptSuffix(count); }
        StringView slice(std::size_t begin, std::size_t end) const { return StringView{*this}.slice(begin, end); }
        Array<StringView> split(char delimiter) const;
        String join(const StringIterable& strings) const;

        /**
         * @brief Give up ownership of a non-small string's buffer
         *
         * The string becomes empty.
         */
        char* release();

    private:
        template<class> friend class BasicStringView;

        /* Kept in the last byte of a small string and in the top byte of a
           large string's size, which share their place in memory: that is
           what fits SmallSize characters, the zero byte and the state into
           three words */
        enum: unsigned char {
            SmallBit = 0x40,
            GlobalBit = 0x80,
            SmallSizeMask = 0x1f
        };
        enum: std::size_t {
            LargeFlagShift = 8*(sizeof(std::size_t) - 1),
            LargeSizeMask = ~(std::size_t{0xff} << LargeFlagShift)
        };

        void construct(const char* data, std::size_t size);
        void destruct();
        bool isGlobalView() const { return _small.state & GlobalBit; }

        struct Small {
            #if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            unsigned char state;
            char data[SmallSize + 1];
            #else
            char data[SmallSize + 1];
            unsigned char state;
            #endif
        };
        struct Large {
            #if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            std::size_t sizeAndFlags;
            char* data;
            Deleter deleter;
            #else
            char* data;
            Deleter deleter;
            std::size_t sizeAndFlags;
            #endif
        };
        union {
            Small _small;
            Large _large;
        };
};

}}

#endif
