#include "Corrade/Containers/StringView.h"

#include <cstring>

#include "Corrade/Containers/Array.h"
#include "Corrade/Containers/String.h"
#include "Corrade/Containers/StringIterable.h"

namespace Corrade { namespace Containers {

template<class T> BasicStringView<T>::BasicStringView(T* data) noexcept: BasicStringView{} {
    if(data) *this = BasicStringView<T>{data, std::strlen(data), StringViewFlag::NullTerminated};
}

template<class T> BasicStringView<T>::BasicStringView(const String& string, FromString) noexcept:
    _data{const_cast<T*>(string.data())},
    _sizePlusFlags{pack(string.size(), string.isGlobalView() ?
        StringViewFlag::Global|StringViewFlag::NullTerminated :
        StringViewFlags{StringViewFlag::NullTerminated})} {}

template<class T> bool BasicStringView<T>::hasPrefix(BasicStringView<const T> prefix) const {
    return prefix.size() <= size() && (!prefix.size() || std::memcmp(_data, prefix.data(), prefix.size()) == 0);
}

template<class T> bool BasicStringView<T>::hasSuffix(BasicStringView<const T> suffix) const {
    return suffix.size() <= size() && (!suffix.size() || std::memcmp(_data + size() - suffix.size(), suffix.data(), suffix.size()) == 0);
}

template<class T> Array<BasicStringView<T>> BasicStringView<T>::split(const char delimiter) const {
    if(!size()) return {};

    std::size_t count = 1;
    for(std::size_t i = 0; i != size(); ++i)
        if(_data[i] == delimiter) ++count;

    Array<BasicStringView<T>> pieces{Corrade::ValueInit, count};
    std::size_t piece = 0, begin = 0;
    for(std::size_t i = 0; i != size(); ++i) if(_data[i] == delimiter) {
        pieces[piece++] = slice(begin, i);
        begin = i + 1;
    }
    pieces[piece] = slice(begin, size());
    return pieces;
}

template<class T> String BasicStringView<T>::join(const StringIterable& strings) const {
    if(strings.isEmpty()) return String{};

    const std::size_t separatorSize = this->size();
    std::size_t size = separatorSize*(strings.size() - 1);
    for(std::size_t i = 0; i != strings.size(); ++i)
        size += strings[i].size();

    String out{Corrade::NoInit, size};
    char* it = out.data();
    for(std::size_t i = 0; i != strings.size(); ++i) {
        if(i && separatorSize) {
            std::memcpy(it, _data, separatorSize);
            it += separatorSize;
        }
        const StringView string = strings[i];
        if(string.size()) {
            std::memcpy(it, string.data(), string.size());
            it += string.size();
        }
    }
    return out;
}

template class BasicStringView<const char>;
template class BasicStringView<char>;

namespace {

int compare(const StringView a, const StringView b) {
    const std::size_t size = a.size() < b.size() ? a.size() : b.size();
    const int result = size ? std::memcmp(a.data(), b.data(), size) : 0;
    if(result) return result;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}

bool operator==(const StringView a, const StringView b) {
    return a.size() == b.size() && (!a.size() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool operator!=(const StringView a, const StringView b) { return !(a == b); }
bool operator<(const StringView a, const StringView b) { return compare(a, b) < 0; }
bool operator<=(const StringView a, const StringView b) { return compare(a, b) <= 0; }
bool operator>(const StringView a, const StringView b) { return compare(a, b) > 0; }
bool operator>=(const StringView a, const StringView b) { return compare(a, b) >= 0; }

String operator+(const StringView a, const StringView b) {
    String out{Corrade::NoInit, a.size() + b.size()};
    if(a.size()) std::memcpy(out.data(), a.data(), a.size());
    if(b.size()) std::memcpy(out.data() + a.size(), b.data(), b.size());
    return out;
}

String operator*(const StringView string, const std::size_t count) {
    String out{Corrade::NoInit, string.size()*count};
    for(std::size_t i = 0; i != count; ++i)
        if(string.size()) std::memcpy(out.data() + i*string.size(), string.data(), string.size());
    return out;
}

StringIterable::StringIterable(const ArrayView<const StringView> views) noexcept: _data{views.data()}, _size{views.size()}, _strings{false} {}

StringIterable::StringIterable(const ArrayView<const String> strings) noexcept: _data{strings.data()}, _size{strings.size()}, _strings{true} {}

StringIterable::StringIterable(const Array<StringView>& views) noexcept: _data{views.data()}, _size{views.size()}, _strings{false} {}

StringIterable::StringIterable(const std::initializer_list<StringView> views) noexcept: _data{views.begin()}, _size{views.size()}, _strings{false} {}

StringView StringIterable::operator[](const std::size_t i) const {
    if(_strings) return static_cast<const String*>(_data)[i];
    return static_cast<const StringView*>(_data)[i];
}

}}
