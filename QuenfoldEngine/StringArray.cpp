#include "QuenfoldEngine/StringArray.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <Corrade/Containers/GrowableArray.h>

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* The offset table of an empty array, shared so that empty views need no
   allocation */
constexpr std::uint32_t EmptyOffsets[1]{};

void freeOffsets(char* const data, std::size_t) { std::free(data); }

/* Puts the offset after the last of size strings, and the first string's
   in front of it if it is the first */
template<class T> void writeOffset(T* const offsets, const std::size_t size, const std::size_t offset) {
    if(!size) offsets[0] = 0;
    offsets[size + 1] = T(offset);
}

}

StringArrayView::StringArrayView() noexcept: StringArrayView{nullptr, EmptyOffsets, false, 0, 0} {}

StringArrayView::StringArrayView(const char* const characters, const void* const offsets, const bool wideOffsets, const std::size_t size, const std::size_t capacity) noexcept: _characters{characters}, _offsets{offsets}, _size{size}, _capacity{capacity}, _wideOffsets{wideOffsets} {}

StringArrayView StringArrayView::suffix(std::size_t begin) const {
    if(begin > _size) begin = _size;
    const void* const offsets = _wideOffsets ?
        static_cast<const void*>(static_cast<const std::size_t*>(_offsets) + begin) :
        static_cast<const std::uint32_t*>(_offsets) + begin;
    return StringArrayView{_characters, offsets, _wideOffsets, _size - begin, _capacity};
}

StringArray::StringArray(const std::size_t capacity) {
    if(capacity) arrayReserve(_characterStorage, capacity);
    updateView();
}

StringArray::StringArray(StringArray&& other) noexcept: StringArrayView{other}, _characterStorage{std::move(other._characterStorage)}, _offsetStorage{std::move(other._offsetStorage)} {
    static_cast<StringArrayView&>(other) = StringArrayView{};
}

StringArray& StringArray::operator=(StringArray&& other) noexcept {
    std::swap(_characterStorage, other._characterStorage);
    std::swap(_offsetStorage, other._offsetStorage);
    std::swap(static_cast<StringArrayView&>(*this), static_cast<StringArrayView&>(other));
    return *this;
}

StringArray::~StringArray() = default;

std::size_t StringArray::add(const Containers::StringView string) {
    const Containers::MutableStringView characters = add(NoInit, string.size());
    if(string.size()) std::memcpy(characters.data(), string.data(), string.size());
    return _size - 1;
}

Containers::MutableStringView StringArray::add(NoInitT, const std::size_t size) {
    const std::size_t begin = _characterStorage.size();
    const std::size_t end = begin + size + 1;
    arrayResize(_characterStorage, NoInit, end);
    _characterStorage[end - 1] = '\0';
    appendOffset(end);
    ++_size;
    updateView();
    return {_characterStorage.data() + begin, size};
}

void StringArray::appendOffset(const std::size_t offset) {
    const bool wide = _wideOffsets || offset > 0xffffffffu;
    const std::size_t width = wide ? sizeof(std::size_t) : sizeof(std::uint32_t);
    if((_size + 2)*width > _offsetStorage.size() || wide != _wideOffsets) {
        const std::size_t capacity = 2*(_size + 2)*width;
        char* const data = static_cast<char*>(wide == _wideOffsets ?
            std::realloc(_offsetStorage.data(), capacity) : std::malloc(capacity));
        /* As the characters' own growth does, through operator new; the
           table stays as it was */
        if(!data) throw std::bad_alloc{};
        if(wide == _wideOffsets) _offsetStorage.release();
        /* Past 4 GB of characters the table widens, once. An empty or
           moved-from array has no table yet. */
        if(wide != _wideOffsets && _size) for(std::size_t i = 0; i != _size + 1; ++i)
            reinterpret_cast<std::size_t*>(data)[i] = reinterpret_cast<const std::uint32_t*>(_offsetStorage.data())[i];
        _offsetStorage = Containers::Array<char>{data, capacity, freeOffsets};
        _wideOffsets = wide;
    }

    if(wide) writeOffset(reinterpret_cast<std::size_t*>(_offsetStorage.data()), _size, offset);
    else writeOffset(reinterpret_cast<std::uint32_t*>(_offsetStorage.data()), _size, offset);
}

void StringArray::updateView() {
    _characters = _characterStorage.data();
    _offsets = _offsetStorage.isEmpty() ? static_cast<const void*>(EmptyOffsets) : _offsetStorage.data();
    _capacity = arrayCapacity(_characterStorage);
}

}
