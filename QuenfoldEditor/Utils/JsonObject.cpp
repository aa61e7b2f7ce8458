#include "JsonObject.h"

#include <cstdint>
#include <type_traits>
#include <rapidjson/document.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Debug.h>
#include <Magnum/Math/Matrix4.h>
#include <Magnum/Math/Quaternion.h>
#include <Magnum/Math/Vector2.h>
#include <Magnum/Math/Vector3.h>
#include <Magnum/Math/Vector4.h>

namespace QuenfoldEngine {

using namespace Corrade;
using namespace Magnum;

namespace {

typedef rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator> Allocator;

/* The low 32 bits of an integer of any width, read through the accessor
   that fits how it is stored (GetInt() asserts on a wide one); 0 for
   anything that is not an integer, null included */
std::uint32_t lowBits(const rapidjson::Value& value) {
    if(value.IsUint64()) return std::uint32_t(value.GetUint64());
    if(value.IsInt64()) return std::uint32_t(value.GetInt64());
    return 0;
}

float floatOf(const rapidjson::Value& value) {
    return value.IsNumber() ? value.GetFloat() : 0.0f;
}

int intOf(const rapidjson::Value& value) {
    return int(lowBits(value));
}

/* The strings an element of the wrong kind reads as: empty, and still
   zero-terminated like any string of the document */
const char* cStringOf(const rapidjson::Value& value) {
    return value.IsString() ? value.GetString() : "";
}

Containers::StringView viewOf(const rapidjson::Value& value) {
    return value.IsString() ?
        Containers::StringView{value.GetString(), value.GetStringLength(), Containers::StringViewFlag::NullTerminated} :
        Containers::StringView{"", 0, Containers::StringViewFlag::NullTerminated};
}

/* Anything but an array, null included, counts as an array of size 0 */
std::size_t arraySize(const rapidjson::Value& value) {
    return value.IsArray() ? value.Size() : 0;
}

template<class T, class Convert> void readArray(const rapidjson::Value& value, const Containers::ArrayView<T> out, const char* const mismatchMessage, Convert convert) {
    const std::size_t size = arraySize(value);
    if(size != out.size()) {
        Utility::Error{} << mismatchMessage;
        return;
    }
    for(std::size_t i = 0; i != size; ++i)
        out[i] = convert(value[rapidjson::SizeType(i)]);
}

/* Reads through the view form, so readValue() runs twice: once for the size,
   once for the elements */
template<class T> Containers::Array<T> readOwningArray(const JsonObject& object, void(JsonObject::*readInto)(Containers::ArrayView<T>) const) {
    Containers::Array<T> out{ValueInit, arraySize(object.readValue())};
    (object.*readInto)(out);
    return out;
}

/* Math types store their components contiguously; out is zero-initialised,
   which is what a size mismatch leaves */
template<std::size_t size, class T, class U> T readFixed(const JsonObject& object, void(JsonObject::*readInto)(Containers::ArrayView<U>) const, T out) {
    (object.*readInto)({out.data(), size});
    return out;
}

template<class T> void writeArray(JsonObject& object, const Containers::ArrayView<const T> values, const bool writeFlag) {
    rapidjson::Value& array = object.writeValue(writeFlag);
    array.SetArray();
    Allocator& allocator = object.allocator();
    if(!values.isEmpty()) array.Reserve(rapidjson::SizeType(values.size()), allocator);
    for(const T value: values) {
        /* A float widens exactly; bytes and ints become ints, which also read
           back as unsigned when not negative */
        typedef typename std::conditional<std::is_floating_point<T>::value, double, int>::type Stored;
        array.PushBack(Stored(value), object.allocator());
    }
}

/* Both list appenders modify the content instead of replacing it, so a read
   value that is not the written one gets copied over first */
rapidjson::Value& prepareList(JsonObject& object, const bool writeFlag) {
    const rapidjson::Value& read = object.readValue();
    rapidjson::Value& list = object.writeValue(writeFlag);
    if(&read != &list) {
        /* Copied aside first, as either value may contain the other */
        rapidjson::Value copy{read, object.allocator()};
        list = copy;
    }
    if(!list.IsArray()) list.SetArray();
    return list;
}

void appendString(JsonObject& object, rapidjson::Value& list, const Containers::StringView value) {
    rapidjson::Value string{value.data() ? value.data() : "", rapidjson::SizeType(value.size()), object.allocator()};
    list.PushBack(string, object.allocator());
}

}

JsonObject::JsonObject() = default;

JsonObject::JsonObject(const JsonObject&) {}

JsonObject& JsonObject::operator=(const JsonObject&) {
    return *this;
}

JsonObject::~JsonObject() = default;

int JsonObject::asBool() const {
    return readValue().IsTrue() ? 1 : 0;
}

int JsonObject::asInt(const int defaultValue) const {
    const rapidjson::Value& value = readValue();
    return value.IsNull() ? defaultValue : intOf(value);
}

unsigned int JsonObject::asUnsignedInt(const unsigned int defaultValue) const {
    const rapidjson::Value& value = readValue();
    return value.IsNull() ? defaultValue : lowBits(value);
}

float JsonObject::asFloat() const {
    return floatOf(readValue());
}

Containers::StringView JsonObject::asString() const {
    const rapidjson::Value& value = readValue();
    return value.IsString() ? Containers::StringView{value.GetString(), value.GetStringLength()} : Containers::StringView{};
}

bool JsonObject::isNull() const {
    return readValue().IsNull();
}

std::size_t JsonObject::size() const {
    const rapidjson::Value& value = readValue();
    if(value.IsArray()) return value.Size();
    if(value.IsObject()) return value.MemberCount();
    return 0;
}

void JsonObject::setBool(const bool value, const bool writeFlag) {
    writeValue(writeFlag).SetBool(value);
}

void JsonObject::setInt(const int value, const bool writeFlag) {
    writeValue(writeFlag).SetInt(value);
}

void JsonObject::setFloat(const float value, const bool writeFlag) {
    writeValue(writeFlag).SetDouble(double(value));
}

void JsonObject::setNull(const bool writeFlag) {
    writeValue(writeFlag).SetNull();
}

void JsonObject::setString(const Containers::StringView value, const bool writeFlag) {
    Allocator& allocator = this->allocator();
    rapidjson::Value& written = writeValue(writeFlag);
    /* Made in a value of its own before the old one goes: RapidJSON keeps a
       short string inside the value itself, which a view on the value being
       overwritten, such as a trimmed asString(), points into */
    rapidjson::Value copy{value.data() ? value.data() : "", rapidjson::SizeType(value.size()), allocator};
    written = copy;
}

void JsonObject::asFloatArray(const Containers::ArrayView<float> out) const {
    readArray(readValue(), out, "JsonObject::asFloatArray(): Sizes do not match", floatOf);
}

void JsonObject::asIntArray(const Containers::ArrayView<int> out) const {
    readArray(readValue(), out, "JsonObject::asIntArray(): Sizes do not match", intOf);
}

void JsonObject::asUnsignedIntArray(const Containers::ArrayView<unsigned int> out) const {
    readArray(readValue(), out, "JsonObject::asUnsignedIntArray(): Sizes do not match", lowBits);
}

void JsonObject::asStringArray(const Containers::ArrayView<const char*> out) const {
    readArray(readValue(), out, "JsonObject::asStringArray(): Sizes do not match", cStringOf);
}

void JsonObject::asStringArray(const Containers::ArrayView<Containers::StringView> out) const {
    readArray(readValue(), out, "JsonObject::asStringArray(): Sizes do not match", viewOf);
}

Containers::Array<float> JsonObject::asFloatArray() const {
    return readOwningArray<float>(*this, &JsonObject::asFloatArray);
}

Containers::Array<int> JsonObject::asIntArray() const {
    /* One readValue() only, unlike the other owning getters */
    const rapidjson::Value& value = readValue();
    Containers::Array<int> out{ValueInit, arraySize(value)};
    for(std::size_t i = 0; i != out.size(); ++i)
        out[i] = intOf(value[rapidjson::SizeType(i)]);
    return out;
}

Containers::Array<unsigned int> JsonObject::asUnsignedIntArray() const {
    return readOwningArray<unsigned int>(*this, &JsonObject::asUnsignedIntArray);
}

Math::Vector2<float> JsonObject::asVector2() const {
    return readFixed<2>(*this, &JsonObject::asFloatArray, Math::Vector2<float>{});
}

Math::Vector2<int> JsonObject::asVector2i() const {
    return readFixed<2>(*this, &JsonObject::asIntArray, Math::Vector2<int>{});
}

Math::Vector3<float> JsonObject::asVector3() const {
    return readFixed<3>(*this, &JsonObject::asFloatArray, Math::Vector3<float>{});
}

Math::Vector4<float> JsonObject::asVector4() const {
    return readFixed<4>(*this, &JsonObject::asFloatArray, Math::Vector4<float>{});
}

Math::Matrix4<float> JsonObject::asMatrix4() const {
    /* Zeros rather than the identity, so that a matrix of the wrong shape
       reads as zeros like the vectors do */
    const Math::Vector4<float> zero;
    return readFixed<16>(*this, &JsonObject::asFloatArray, Math::Matrix4<float>{zero, zero, zero, zero});
}

Math::Quaternion<float> JsonObject::asQuaternion() const {
    const Containers::Array<float> values = asFloatArray();
    float components[4]{};
    for(std::size_t i = 0; i != 4 && i != values.size(); ++i)
        components[i] = values[i];
    return Math::Quaternion<float>{{components[0], components[1], components[2]}, components[3]};
}

void JsonObject::setFloatArray(const Containers::ArrayView<const float> values, const bool writeFlag) {
    writeArray(*this, values, writeFlag);
}

void JsonObject::setIntArray(const Containers::ArrayView<const int> values, const bool writeFlag) {
    writeArray(*this, values, writeFlag);
}

void JsonObject::setUnsignedCharArray(const Containers::ArrayView<const unsigned char> values, const bool writeFlag) {
    writeArray(*this, values, writeFlag);
}

void JsonObject::setArray(const Containers::ArrayView<const unsigned char> values, const bool writeFlag) {
    setUnsignedCharArray(values, writeFlag);
}

void JsonObject::setArray(const Containers::ArrayView<const int> values, const bool writeFlag) {
    setIntArray(values, writeFlag);
}

void JsonObject::setArray(const Containers::ArrayView<const float> values, const bool writeFlag) {
    setFloatArray(values, writeFlag);
}

void JsonObject::setMatrix(const Math::Matrix4<float>& matrix, const bool writeFlag) {
    setFloatArray({matrix.data(), 16}, writeFlag);
}

void JsonObject::pushBackString(const Containers::StringView value, const bool writeFlag) {
    appendString(*this, prepareList(*this, writeFlag), value);
}

void JsonObject::pushBackStringUnique(const Containers::StringView value, const bool writeFlag) {
    rapidjson::Value& list = prepareList(*this, writeFlag);
    /* An element's text ends at its first zero byte, so a value holding one
       never finds a duplicate */
    for(const rapidjson::Value& element: list.GetArray())
        if(element.IsString() && Containers::StringView{element.GetString()} == value)
            return;
    appendString(*this, list, value);
}

}
