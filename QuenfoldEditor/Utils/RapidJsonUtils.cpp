#include "RapidJsonUtils.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Utility/Debug.h>

namespace QuenfoldEngine { namespace RapidJsonUtils {

using namespace Corrade;

namespace {

Containers::StringView nameView(const Containers::StringView name) {
    return name;
}

Containers::StringView nameView(const char* const name) {
    return name ? Containers::StringView{name} : Containers::StringView{};
}

template<class T> int indexOf(const Containers::StringView value, const Containers::ArrayView<const T> names) {
    for(std::size_t i = 0; i != names.size(); ++i)
        if(nameView(names[i]) == value) return int(i);
    return -1;
}

}

int enumStringToValue(const Containers::StringView value, const Containers::ArrayView<const Containers::StringView> names) {
    return indexOf(value, names);
}

int enumStringToValue(const Containers::StringView value, const Containers::ArrayView<const Containers::String> names) {
    return indexOf(value, names);
}

int enumStringToValue(const Containers::StringView value, const Containers::ArrayView<const char* const> names) {
    return indexOf(value, names);
}

}}

namespace rapidjson {

Corrade::Utility::Debug& operator<<(Corrade::Utility::Debug& debug, const Value& value) {
    StringBuffer buffer;
    PrettyWriter<StringBuffer> writer{buffer};
    /* A refused NaN or infinity stops the writer; the text up to it is
       still worth seeing */
    value.Accept(writer);
    return debug << buffer.GetString();
}

}
