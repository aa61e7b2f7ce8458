#include "QuenfoldEngine/StringArray.h"

#include <cstring>
#include <utility>

#include <Corrade/Containers/GrowableArray.h>

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* The offset table of an empty array, shared so that empty views need no
   allocation */
constexpr std::size_t EmptyOffsets[1]{};

}

StringArrayView::StringArrayView() noexcept: StringArrayView{nullptr, EmptyOffsets, 0, 0} {}

StringArrayView::StringArrayView(const char* const characters, const std::size_t* const offsets, const std::size_t size, const std::size_t capacity) noexcept: _characters{characters}, _offsets{offsets}, _size{size}, _capacity{capacity} {}

StringArrayView StringArrayView::suffix(std::size_t begin) const {
    if(begin > _size) begin = _size;
    return StringArrayView{_characters, _offsets + begin, _size - begin, _capacity};
}

StringArray::StringArray(const std::size_t capacity) {
    if(capacity) arrayReserve(_characterStorage, capacity);
    arrayAppend(_offsetStorage, std::size_t{0});
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
    /* A moved-from array has lost its offset table */
    if(_offsetStorage.isEmpty()) arrayAppend(_offsetStorage, std::size_t{0});
    const std::size_t index = _offsetStorage.size() - 1;
    if(string.size())
        arrayAppend(_characterStorage, Containers::ArrayView<const char>{string.data(), string.size()});
    arrayAppend(_characterStorage, '\0');
    arrayAppend(_offsetStorage, _characterStorage.size());
    updateView();
    return index;
}

void StringArray::updateView() {
    _characters = _characterStorage.data();
    _offsets = _offsetStorage.data();
    _size = _offsetStorage.size() - 1;
    _capacity = arrayCapacity(_characterStorage);
}

}
