#include "Corrade/Containers/String.h"

#include <cstring>
#include <new>
#include <utility>

#include "Corrade/Containers/Array.h"
#include "Corrade/Containers/StringIterable.h"

namespace Corrade { namespace Containers {

static_assert(sizeof(String) == 3*sizeof(std::size_t), "a string is three words, like the real one");

namespace {

void noopDeleter(char*, std::size_t) {}

char* allocateTerminated(const std::size_t size) {
    char* const data = new char[size + 1];
    data[size] = '\0';
    return data;
}

}

String String::nullTerminatedView(const StringView view) {
    if(!(view.flags() & StringViewFlag::NullTerminated) || !view.data())
        return String{view};
    String out{const_cast<char*>(view.data()), view.size(), noopDeleter};
    if(view.flags() & StringViewFlag::Global) out._large.sizeAndFlags |= std::size_t{GlobalBit} << LargeFlagShift;
    return out;
}

String String::nullTerminatedGlobalView(const StringView view) {
    if((view.flags() & (StringViewFlag::Global|StringViewFlag::NullTerminated)) != (StringViewFlag::Global|StringViewFlag::NullTerminated))
        return String{view};
    return nullTerminatedView(view);
}

String::String() noexcept {
    _small.data[0] = '\0';
    _small.state = SmallBit;
}

String::String(const StringView view) { construct(view.data(), view.size()); }

String::String(const char* const data) { construct(data, data ? std::strlen(data) : 0); }

String::String(const char* const data, const std::size_t size) { construct(data, size); }

String::String(AllocatedInitT, const StringView view): String{allocateTerminated(view.size()), view.size(), nullptr} {
    if(view.size()) std::memcpy(_large.data, view.data(), view.size());
}

String::String(Corrade::ValueInitT, const std::size_t size): String{Corrade::NoInit, size} {
    std::memset(data(), 0, size);
}

String::String(Corrade::NoInitT, const std::size_t size) {
    if(size <= SmallSize) {
        _small.data[size] = '\0';
        _small.state = SmallBit|size;
    } else {
        _large.data = allocateTerminated(size);
        _large.deleter = nullptr;
        _large.sizeAndFlags = size;
    }
}

String::String(char* const data, const std::size_t size, const Deleter deleter) noexcept {
    _large.data = data;
    _large.deleter = deleter;
    _large.sizeAndFlags = size;
}

void String::construct(const char* const data, const std::size_t size) {
    new(this) String{Corrade::NoInit, size};
    if(size) std::memcpy(this->data(), data, size);
}

String::String(const String& other) { construct(other.data(), other.size()); }

String::String(String&& other) noexcept {
    std::memcpy(static_cast<void*>(this), &other, sizeof(String));
    other._large.data = nullptr;
    other._large.deleter = nullptr;
    other._large.sizeAndFlags = 0;
}

void String::destruct() {
    if(isSmall()) return;
    if(_large.deleter) _large.deleter(_large.data, size());
    else delete[] _large.data;
}

String::~String() { destruct(); }

String& String::operator=(const String& other) {
    if(this != &other) {
        destruct();
        construct(other.data(), other.size());
    }
    return *this;
}

String& String::operator=(String&& other) noexcept {
    char copy[sizeof(String)];
    std::memcpy(copy, static_cast<void*>(this), sizeof(String));
    std::memcpy(static_cast<void*>(this), &other, sizeof(String));
    std::memcpy(static_cast<void*>(&other), copy, sizeof(String));
    return *this;
}

char* String::data() { return isSmall() ? _small.data : _large.data; }

const char* String::data() const { return isSmall() ? _small.data : _large.data; }

std::size_t String::size() const { return isSmall() ? std::size_t(_small.state & SmallSizeMask) : _large.sizeAndFlags & LargeSizeMask; }

String::Deleter String::deleter() const { return isSmall() ? nullptr : _large.deleter; }

Array<StringView> String::split(const char delimiter) const { return StringView{*this}.split(delimiter); }

String String::join(const StringIterable& strings) const { return StringView{*this}.join(strings); }

char* String::release() {
    if(isSmall()) return nullptr;
    char* const data = _large.data;
    new(this) String{};
    return data;
}

}}
