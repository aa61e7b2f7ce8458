#include "QuenfoldEngine/StringArray.h"

#include <cstring>
#include <utility>

#include <Corrade/Containers/GrowableArray.h>

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* The offset table of an empty array, shared so that empty views need no
   allocation */
constexpr std::uint32_t EmptyOffsets[1]{};

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
    arrayAppend(_narrowOffsetStorage, std::uint32_t{0});
    updateView();
}

StringArray::StringArray(StringArray&& other) noexcept: StringArrayView{other}, _characterStorage{std::move(other._characterStorage)}, _narrowOffsetStorage{std::move(other._narrowOffsetStorage)}, _wideOffsetStorage{std::move(other._wideOffsetStorage)} {
    static_cast<StringArrayView&>(other) = StringArrayView{};
}

StringArray& StringArray::operator=(StringArray&& other) noexcept {
    std::swap(_characterStorage, other._characterStorage);
    std::swap(_narrowOffsetStorage, other._narrowOffsetStorage);
    std::swap(_wideOffsetStorage, other._wideOffsetStorage);
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
    /* A moved-from array has lost its offset table */
    if(_narrowOffsetStorage.isEmpty() && _wideOffsetStorage.isEmpty())
        arrayAppend(_narrowOffsetStorage, std::uint32_t{0});

    const std::size_t begin = _characterStorage.size();
    const std::size_t end = begin + size + 1;
    arrayResize(_characterStorage, NoInit, end);
    _characterStorage[end - 1] = '\0';

    if(!_wideOffsetStorage.isEmpty()) arrayAppend(_wideOffsetStorage, end);
    else if(end <= 0xffffffffu) arrayAppend(_narrowOffsetStorage, std::uint32_t(end));
    else {
        /* The characters outgrow 32-bit offsets: the table widens, once */
        arrayReserve(_wideOffsetStorage, _narrowOffsetStorage.size() + 1);
        for(const std::uint32_t offset: _narrowOffsetStorage)
            arrayAppend(_wideOffsetStorage, std::size_t{offset});
        arrayAppend(_wideOffsetStorage, end);
        _narrowOffsetStorage = {};
    }

    updateView();
    return {_characterStorage.data() + begin, size};
}

void StringArray::updateView() {
    _characters = _characterStorage.data();
    _wideOffsets = !_wideOffsetStorage.isEmpty();
    _offsets = _wideOffsets ? static_cast<const void*>(_wideOffsetStorage.data()) : _narrowOffsetStorage.data();
    _size = (_wideOffsets ? _wideOffsetStorage.size() : _narrowOffsetStorage.size()) - 1;
    _capacity = arrayCapacity(_characterStorage);
}

}
