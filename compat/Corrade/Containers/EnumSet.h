#ifndef Corrade_Containers_EnumSet_h
#define Corrade_Containers_EnumSet_h
/** @file
 * @brief Class @ref Corrade::Containers::EnumSet, macros
 *      @ref CORRADE_ENUMSET_OPERATORS(), @ref CORRADE_ENUMSET_FRIEND_OPERATORS()
 */

#include <type_traits>

#include "Corrade/Tags.h"
#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/**
@brief Set of values of a strongly typed enum

Typedef'd by the class that owns the enum, with
@ref CORRADE_ENUMSET_OPERATORS() after the class so that two values combine
into a set. @p fullValue holds every value of the enum; @cpp operator~ @ce
stays inside it.
*/
template<class T, typename std::underlying_type<T>::type fullValue> class EnumSet {
    static_assert(std::is_enum<T>::value, "EnumSet type must be a strongly typed enum");

    public:
        typedef T Type; /**< @brief Enum type */
        typedef typename std::underlying_type<T>::type UnderlyingType; /**< @brief Underlying type */

        enum: UnderlyingType {
            FullValue = fullValue /**< All enum values together */
        };

        /** @brief Empty set */
        constexpr /*implicit*/ EnumSet() noexcept: _value{} {}
        /** @brief Set of one value */
        constexpr /*implicit*/ EnumSet(T value) noexcept: _value(static_cast<UnderlyingType>(value)) {}
        /** @brief Set from its underlying value */
        constexpr explicit EnumSet(UnderlyingType value) noexcept: _value{value} {}
        /** @brief Uninitialised set */
        explicit EnumSet(Corrade::NoInitT) {}

        /** @brief Equality */
        constexpr bool operator==(EnumSet<T, fullValue> other) const { return _value == other._value; }
        /** @brief Inequality */
        constexpr bool operator!=(EnumSet<T, fullValue> other) const { return _value != other._value; }
        /** @brief Whether @p other is a subset of this set */
        constexpr bool operator>=(EnumSet<T, fullValue> other) const { return (_value & other._value) == other._value; }
        /** @brief Whether this set is a subset of @p other */
        constexpr bool operator<=(EnumSet<T, fullValue> other) const { return (_value & other._value) == _value; }

        /** @brief Union */
        constexpr EnumSet<T, fullValue> operator|(EnumSet<T, fullValue> other) const { return EnumSet<T, fullValue>(_value | other._value); }
        /** @brief Union, assigned */
        EnumSet<T, fullValue>& operator|=(EnumSet<T, fullValue> other) {
            _value |= other._value;
            return *this;
        }
        /** @brief Intersection */
        constexpr EnumSet<T, fullValue> operator&(EnumSet<T, fullValue> other) const { return EnumSet<T, fullValue>(_value & other._value); }
        /** @brief Intersection, assigned */
        EnumSet<T, fullValue>& operator&=(EnumSet<T, fullValue> other) {
            _value &= other._value;
            return *this;
        }
        /** @brief Symmetric difference */
        constexpr EnumSet<T, fullValue> operator^(EnumSet<T, fullValue> other) const { return EnumSet<T, fullValue>(_value ^ other._value); }
        /** @brief Symmetric difference, assigned */
        EnumSet<T, fullValue>& operator^=(EnumSet<T, fullValue> other) {
            _value ^= other._value;
            return *this;
        }
        /** @brief Complement, within @ref FullValue */
        constexpr EnumSet<T, fullValue> operator~() const { return EnumSet<T, fullValue>(fullValue & ~_value); }

        /** @brief Whether the set is not empty */
        constexpr explicit operator bool() const { return _value != 0; }
        /** @brief The underlying value */
        constexpr explicit operator UnderlyingType() const { return _value; }

    private:
        UnderlyingType _value;
};

/** @brief The underlying value of an enum value */
template<class T, class = typename std::enable_if<std::is_enum<T>::value>::type> constexpr typename std::underlying_type<T>::type enumCastUnderlyingType(T value) {
    return typename std::underlying_type<T>::type(value);
}

/** @brief The underlying value of an enum set */
template<class T, typename std::underlying_type<T>::type fullValue> constexpr typename std::underlying_type<T>::type enumCastUnderlyingType(EnumSet<T, fullValue> value) {
    return typename std::underlying_type<T>::type(value);
}

}}

/** @brief Out-of-class operators of an @ref Corrade::Containers::EnumSet "EnumSet" typedef, with an enum value on the left */
#define CORRADE_ENUMSET_OPERATORS(class)                                    \
    constexpr bool operator==(class::Type a, class b) {                     \
        return class(a) == b;                                               \
    }                                                                       \
    constexpr bool operator!=(class::Type a, class b) {                     \
        return class(a) != b;                                               \
    }                                                                       \
    constexpr bool operator>=(class::Type a, class b) {                     \
        return class(a) >= b;                                               \
    }                                                                       \
    constexpr bool operator<=(class::Type a, class b) {                     \
        return class(a) <= b;                                               \
    }                                                                       \
    constexpr class operator|(class::Type a, class b) {                     \
        return b | a;                                                       \
    }                                                                       \
    constexpr class operator&(class::Type a, class b) {                     \
        return b & a;                                                       \
    }                                                                       \
    constexpr class operator^(class::Type a, class b) {                     \
        return b ^ a;                                                       \
    }                                                                       \
    constexpr class operator~(class::Type a) {                              \
        return ~class(a);                                                   \
    }

/** @brief The same operators as friends, inside the class that keeps the set */
#define CORRADE_ENUMSET_FRIEND_OPERATORS(class)                             \
    friend constexpr bool operator==(typename class::Type a, class b) {     \
        return class(a) == b;                                               \
    }                                                                       \
    friend constexpr bool operator!=(typename class::Type a, class b) {     \
        return class(a) != b;                                               \
    }                                                                       \
    friend constexpr bool operator>=(typename class::Type a, class b) {     \
        return class(a) >= b;                                               \
    }                                                                       \
    friend constexpr bool operator<=(typename class::Type a, class b) {     \
        return class(a) <= b;                                               \
    }                                                                       \
    friend constexpr class operator|(typename class::Type a, class b) {     \
        return b | a;                                                       \
    }                                                                       \
    friend constexpr class operator&(typename class::Type a, class b) {     \
        return b & a;                                                       \
    }                                                                       \
    friend constexpr class operator^(typename class::Type a, class b) {     \
        return b ^ a;                                                       \
    }                                                                       \
    friend constexpr class operator~(typename class::Type a) {              \
        return ~class(a);                                                   \
    }

#endif
