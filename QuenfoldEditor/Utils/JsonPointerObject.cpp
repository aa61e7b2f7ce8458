#include "JsonPointerObject.h"

#include <cstring>
#include <limits>
#include <rapidjson/document.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* What a missing value reads as: null is what the getters treat as absent */
const rapidjson::Value NullValue;

constexpr std::size_t NotAnIndex = ~std::size_t{};

/* One more than the largest index of the largest RapidJSON array */
constexpr std::size_t PastAnyArray = std::numeric_limits<rapidjson::SizeType>::max();

/* One component of a slash path, between two slashes */
struct Component {
    const char* data;
    std::size_t size;
    /* Only components holding a tilde need unescaping, so the common case
       stays a plain byte comparison */
    bool escaped;
};

/* Calls visit(component) for each component of a path that is empty or
   begins with a slash, stopping early when it returns false */
template<class Visitor> bool forEachComponent(const Containers::StringView path, Visitor&& visit) {
    const char* const end = path.data() + path.size();
    for(const char* begin = path.data(); begin != end; ) {
        ++begin;
        const char* next = static_cast<const char*>(std::memchr(begin, '/', end - begin));
        if(!next) next = end;
        const std::size_t size = next - begin;
        if(!visit(Component{begin, size, std::memchr(begin, '~', size) != nullptr}))
            return false;
        begin = next;
    }
    return true;
}

/* Decodes the character at component.data[i], advancing i past an escape.
   ~0 is a tilde and ~1 a slash; a tilde followed by anything else stands
   for itself. */
char decodeCharacter(const Component& component, std::size_t& i) {
    const char c = component.data[i++];
    if(c == '~' && i < component.size) {
        if(component.data[i] == '0') { ++i; return '~'; }
        if(component.data[i] == '1') { ++i; return '/'; }
    }
    return c;
}

bool nameEquals(const rapidjson::Value& name, const Component& component) {
    const char* const nameData = name.GetString();
    const std::size_t nameSize = name.GetStringLength();
    if(!component.escaped)
        return nameSize == component.size && std::memcmp(nameData, component.data, nameSize) == 0;

    std::size_t n = 0;
    for(std::size_t i = 0; i != component.size; ++n)
        if(n == nameSize || nameData[n] != decodeCharacter(component, i))
            return false;
    return n == nameSize;
}

/* Array index as a JSON Pointer reads it: decimal digits without a leading
   zero, where any number no array reaches counts as PastAnyArray;
   NotAnIndex for anything else */
std::size_t arrayIndex(const Component& component) {
    if(component.size == 0 || (component.size > 1 && component.data[0] == '0'))
        return NotAnIndex;
    std::size_t index = 0;
    for(std::size_t i = 0; i != component.size; ++i) {
        const char c = component.data[i];
        if(c < '0' || c > '9') return NotAnIndex;
        if(index < PastAnyArray) index = index*10 + (c - '0');
    }
    return index < PastAnyArray ? index : PastAnyArray;
}

template<class Value> Value* findMember(Value& object, const Component& component) {
    for(auto member = object.MemberBegin(); member != object.MemberEnd(); ++member)
        if(nameEquals(member->name, component)) return &member->value;
    return nullptr;
}

const rapidjson::Value* find(const rapidjson::Value& root, const Containers::StringView path) {
    const rapidjson::Value* value = &root;
    forEachComponent(path, [&value](const Component& component) {
        if(value->IsObject())
            value = findMember(*value, component);
        else if(value->IsArray()) {
            const std::size_t index = arrayIndex(component);
            value = index < value->Size() ? &(*value)[rapidjson::SizeType(index)] : nullptr;
        } else value = nullptr;
        return value != nullptr;
    });
    return value;
}

rapidjson::Value memberName(const Component& component, rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator) {
    if(!component.escaped)
        return rapidjson::Value{component.data, rapidjson::SizeType(component.size), allocator};

    Containers::String name{NoInit, component.size};
    std::size_t size = 0;
    for(std::size_t i = 0; i != component.size; )
        name[size++] = decodeCharacter(component, i);
    return rapidjson::Value{name.data(), rapidjson::SizeType(size), allocator};
}

/* The value at path, created with what leads to it; null after printing
   why when the path indexes an array past its end. Arrays are never
   created and everything below a created or replaced value is new, so only
   an array that was there before can refuse, and then nothing has been
   changed yet. */
rapidjson::Value* create(rapidjson::Document& document, const Containers::StringView path) {
    rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& allocator = document.GetAllocator();
    rapidjson::Value* value = &document;
    forEachComponent(path, [&](const Component& component) {
        if(value->IsArray()) {
            /* "-" names the element past the end */
            const std::size_t index = component.size == 1 && component.data[0] == '-' ?
                value->Size() : arrayIndex(component);
            if(index != NotAnIndex) {
                if(index > value->Size() || index == PastAnyArray) {
                    Utility::Error{} << "JsonPointerObject::writeValue(): Index" << Containers::StringView{component.data, component.size} << "past the end of an array of" << value->Size() << "elements, nothing written to" << path;
                    value = nullptr;
                    return false;
                }
                if(index == value->Size()) value->PushBack(rapidjson::Value{}, allocator);
                value = &(*value)[rapidjson::SizeType(index)];
                return true;
            }
        }

        if(!value->IsObject()) value->SetObject();
        if(rapidjson::Value* const member = findMember(*value, component)) {
            value = member;
            return true;
        }
        rapidjson::Value name = memberName(component, allocator);
        value->AddMember(name, rapidjson::Value{}, allocator);
        value = &(value->MemberEnd() - 1)->value;
        return true;
    });
    return value;
}

/* base followed by path, in one allocation; a path not beginning with a
   slash gets one, so that child("a") of /b is /b/a */
Containers::String joinPath(const Containers::StringView base, const Containers::StringView path) {
    const bool slash = !path.isEmpty() && path[0] != '/';
    Containers::String out{NoInit, base.size() + slash + path.size()};
    char* const data = out.data();
    if(!base.isEmpty()) std::memcpy(data, base.data(), base.size());
    if(slash) data[base.size()] = '/';
    if(!path.isEmpty()) std::memcpy(data + base.size() + slash, path.data(), path.size());
    return out;
}

}

JsonPointerObject::JsonPointerObject(rapidjson::Document& document, const Containers::StringView path): _document(document), _path{joinPath({}, path)} {}

JsonPointerObject::~JsonPointerObject() = default;

bool JsonPointerObject::exists() const {
    return find(_document, _path) != nullptr;
}

Containers::String JsonPointerObject::path() const {
    return _path;
}

Containers::Pointer<JsonObject> JsonPointerObject::child(const Containers::StringView path) {
    Containers::Pointer<JsonPointerObject> handle{new JsonPointerObject{_document}};
    handle->_path = joinPath(_path, path);
    return handle;
}

rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& JsonPointerObject::allocator() {
    return _document.GetAllocator();
}

const rapidjson::Value& JsonPointerObject::readValue() const {
    const rapidjson::Value* const value = find(_document, _path);
    return value ? *value : NullValue;
}

rapidjson::Value& JsonPointerObject::writeValue(bool) {
    if(rapidjson::Value* const value = create(_document, _path)) return *value;
    /* A refused write goes nowhere. Whatever it allocates comes from the
       document's pool, which never frees single values, so what a previous
       write left here is never touched again. */
    thread_local rapidjson::Value refusedWrite;
    refusedWrite.SetNull();
    return refusedWrite;
}

}
