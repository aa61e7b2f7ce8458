#include "RapidJsonUtils.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/GrowableArray.h>
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

namespace {

/* An array or object being written, and the position of its next element
   or member */
struct Level {
    const Value* container;
    SizeType next;
};

/* Opens an array or object, or writes anything else whole; false when the
   writer refuses */
template<class Writer> bool begin(Writer& writer, Corrade::Containers::Array<Level>& levels, const Value& value) {
    if(value.IsObject()) {
        if(!writer.StartObject()) return false;
    } else if(value.IsArray()) {
        if(!writer.StartArray()) return false;
    } else return value.Accept(writer);
    Corrade::Containers::arrayAppend(levels, Level{&value, 0});
    return true;
}

/* The writer calls of value.Accept(writer), in the same order, but with the
   nesting kept in an array instead of on the call stack, so that no depth
   can exhaust the stack. Stops at the first call the writer refuses. */
template<class Writer> void writeIteratively(Writer& writer, const Value& value) {
    Corrade::Containers::Array<Level> levels;
    if(!begin(writer, levels, value)) return;
    while(!levels.isEmpty()) {
        Level& level = levels.back();
        const Value& container = *level.container;
        const SizeType index = level.next++;
        if(container.IsObject()) {
            if(index == container.MemberCount()) {
                Corrade::Containers::arrayRemoveSuffix(levels, 1);
                if(!writer.EndObject(index)) return;
                continue;
            }
            const Value::ConstMemberIterator member = container.MemberBegin() + index;
            if(!writer.Key(member->name.GetString(), member->name.GetStringLength()) ||
               !begin(writer, levels, member->value)) return;
        } else {
            if(index == container.Size()) {
                Corrade::Containers::arrayRemoveSuffix(levels, 1);
                if(!writer.EndArray(index)) return;
                continue;
            }
            if(!begin(writer, levels, container[index])) return;
        }
    }
}

}

Corrade::Utility::Debug& operator<<(Corrade::Utility::Debug& debug, const Value& value) {
    StringBuffer buffer;
    PrettyWriter<StringBuffer> writer{buffer};
    /* A refused NaN or infinity stops the writer; the text up to it is
       still worth seeing */
    writeIteratively(writer, value);
    return debug << buffer.GetString();
}

}
