#include "QuenfoldEditor/Utils/Implementation/FixedDecimals.h"

#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Format.h>

namespace QuenfoldEngine { namespace Implementation {

using namespace Corrade;

std::size_t formatFixed(const double value, char* const out) {
    if(const std::size_t size = formatFixedFast(value, out)) return size;
    return Utility::formatInto(Containers::MutableStringView{out, FixedSize}, "{:.4f}", value);
}

}}
