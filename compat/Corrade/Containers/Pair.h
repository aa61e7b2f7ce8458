#ifndef Corrade_Containers_Pair_h
#define Corrade_Containers_Pair_h
/** @file
 * @brief Class @ref Corrade::Containers::Pair, function
 *      @ref Corrade::Containers::pair()
 */

#include <type_traits>
#include <utility>

#include "Corrade/Containers/Containers.h"

namespace Corrade { namespace Containers {

/** @brief Pair of values */
template<class F, class S> class Pair {
    public:
        typedef F FirstType;
        typedef S SecondType;

        /** @brief Value-initialised pair */
        constexpr Pair() noexcept(std::is_nothrow_default_constructible<F>::value && std::is_nothrow_default_constructible<S>::value): _first(), _second() {}

        constexpr Pair(const F& first, const S& second): _first(first), _second(second) {}
        constexpr Pair(F&& first, const S& second): _first(std::move(first)), _second(second) {}
        constexpr Pair(const F& first, S&& second): _first(first), _second(std::move(second)) {}
        constexpr Pair(F&& first, S&& second): _first(std::move(first)), _second(std::move(second)) {}

        F& first() & { return _first; }
        F first() && { return std::move(_first); }
        constexpr const F& first() const & { return _first; }
        S& second() & { return _second; }
        S second() && { return std::move(_second); }
        constexpr const S& second() const & { return _second; }

        bool operator==(const Pair<F, S>& other) const {
            return _first == other._first && _second == other._second;
        }
        bool operator!=(const Pair<F, S>& other) const { return !operator==(other); }

    private:
        F _first;
        S _second;
};

/** @brief Make a pair, deducing the types */
template<class F, class S> constexpr Pair<typename std::decay<F>::type, typename std::decay<S>::type> pair(F&& first, S&& second) {
    return Pair<typename std::decay<F>::type, typename std::decay<S>::type>{std::forward<F>(first), std::forward<S>(second)};
}

}}

#endif
